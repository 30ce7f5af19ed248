#include "sidesplit/sidesplit.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "progmain/outputs.hpp"
#include "records/error.hpp"
#include "records/source.hpp"
#include "sidesplit/deck.hpp"
#include "sidesplit/sampling.hpp"
#include "sidesplit/writer.hpp"

namespace sidesplit {

namespace {

namespace fs = std::filesystem;
using records::ReadError;

// An output file that this run created itself: opening refuses a file that exists.
class NewFile {
 public:
  NewFile(const fs::path& path, std::string name) : name_(std::move(name)) {
    file_ = std::fopen(path.c_str(), "wx");
    if (file_ == nullptr) {
      const int err = errno;
      if (err == EEXIST) throw ReadError(name_, "the output file exists already; it is left as it is");
      throw ReadError(name_, std::string("cannot create (") + std::strerror(err) + ")");
    }
  }
  ~NewFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  void write(std::string& text) {
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), file_) != text.size()) fail();
    text.clear();
  }
  void close() {
    std::FILE* f = file_;
    file_ = nullptr;
    if (std::fclose(f) != 0) fail();
  }

 private:
  [[noreturn]] void fail() { throw ReadError(name_, std::string("cannot write (") + std::strerror(errno) + ")"); }
  std::FILE* file_ = nullptr;
  std::string name_;
};

bool path_taken(const fs::path& p) {
  std::error_code ec;
  return fs::symlink_status(p, ec).type() != fs::file_type::not_found;
}

}  // namespace

int run(const std::vector<std::string>& args, progmain::Streams streams, TransformSource& source, const fs::path& dir) {
  if (!args.empty()) {
    throw ReadError("command line",
                    "no arguments are taken: the transform comes through the logical name IN, "
                    "the parameters from sidesplit.dek (see --help)");
  }
  std::ostream& out = streams.out;

  // The transform first: without its section there is nothing to do.
  std::optional<TransformImage> image = source.load();
  if (!image) {
    out << "\n\n\n\n  End of data on stream 1\n";
    return 1;
  }

  // The whole deck is read and checked before any output file is created, so that a short or
  // bad deck leaves nothing behind.
  const std::string deck_name = "sidesplit.dek";
  records::LineSource deck_src = records::LineSource::open_file((dir / deck_name).string());
  const Deck deck = read_deck(deck_src, out, image->ny);

  // The CTF zeros are placed through the sampling count along y; without it no frequency exists.
  if (deck.idump != 0 && !deck.zeroarray.empty() && image->my <= 0) {
    throw ReadError(deck_name, "the transform's sampling count along y (MY) is " + std::to_string(image->my) +
                                   ", so the spatial frequencies of the CTF zeros cannot be placed");
  }

  std::optional<NewFile> near_file;
  std::optional<NewFile> far_file;
  if (deck.idump != 0) {
    // Neither file is created unless both can be.
    for (const char* name : {"near.dat", "far.dat"}) {
      if (path_taken(dir / name)) throw ReadError(name, "the output file exists already; it is left as it is");
    }
    // The two files stand or fall together: a failure before both are complete removes both.
    progmain::begin_output((dir / "near.dat").string());
    progmain::begin_output((dir / "far.dat").string());
    near_file.emplace(dir / "near.dat", "near.dat");
    far_file.emplace(dir / "far.dat", "far.dat");
  }

  const Transform t = make_transform(image->nx, image->ny, image->xorig, image->yorig, deck.xshft, deck.yshft,
                                     deck.sampl, std::move(image->section));
  SamplingParams p;
  p.delr = deck.delr;
  p.rot = deck.rot * deg_to_rad;
  p.shear = deck.shear * deg_to_rad;
  p.tilt = deck.tilt * deg_to_rad;
  p.yfact = deck.yfact;
  p.iywidth = deck.iywidth;
  p.iphase = deck.iphase;

  LayerLineSamples samples;
  std::string near_text;
  std::string far_text;
  for (const LayerLineEntry& e : deck.lines) {
    sample_layer_line(t, p, deck.grid, e.nord, e.ysp, samples);
    if (deck.idump != 0) {
      write_layer_line(near_text, far_text, deck, e, image->my, samples);
      near_file->write(near_text);
      far_file->write(far_text);
    }
  }
  if (deck.idump != 0) {
    near_file->close();
    far_file->close();
    progmain::finish_output((dir / "near.dat").string());
    progmain::finish_output((dir / "far.dat").string());
  }
  source.close();
  return 0;
}

}  // namespace sidesplit
