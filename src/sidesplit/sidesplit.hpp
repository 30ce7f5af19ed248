// sidesplit: samples amplitude and phase along the layer lines of a transform image and writes
// them to the near-side and far-side layer-line files near.dat and far.dat.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "progmain/progmain.hpp"

namespace sidesplit {

// What the run needs of the transform image.
struct TransformImage {
  std::int32_t nx = 0;  // complex values per line
  std::int32_t ny = 0;  // lines
  std::int32_t nz = 0;  // sections
  std::int32_t my = 0;  // sampling count along y
  float xorig = 0.0f;   // origin of the real-space image
  float yorig = 0.0f;
  std::vector<float> section;  // the first section: 2*nx*ny reals, line after line
};

// Where the transform comes from: the image file bound to the logical name IN in the program,
// an image built in memory in tests.
class TransformSource {
 public:
  virtual ~TransformSource() = default;
  // Opens the transform and reads its header, origin and first section; nothing when the
  // section cannot be read (end of data). A transform the run cannot use (not complex, too
  // small) throws records::ReadError.
  virtual std::optional<TransformImage> load() = 0;
  // Closes the transform at the end of the run.
  virtual void close() = 0;
};

// The transform bound to the logical name IN, read through the image file library.
class ImageTransformSource : public TransformSource {
 public:
  std::optional<TransformImage> load() override;
  void close() override;
};

// The whole run. The deck sidesplit.dek is read from, and near.dat and far.dat are written in,
// the folder dir (empty: the working directory). Returns the exit status.
int run(const std::vector<std::string>& args, progmain::Streams streams, TransformSource& transform,
        const std::filesystem::path& dir = {});

}  // namespace sidesplit
