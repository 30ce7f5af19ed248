// Radial Fourier filter of an image held in memory.
#pragma once

#include <cstdint>
#include <span>

namespace planefilt {

// Filters in place the real image of ny lines of nx values, each line in a slot of nx + 2
// reals (image holds at least ny*(nx + 2) reals): the 2-D transform of the image, every
// transform value multiplied by the radial table entry of its frequency (planefilt/radial.hpp),
// and the transform back. The two reals at the end of each line slot are work space.
// Refused with records::ReadError (source "filter") before the image is touched: nx or ny
// below 1, an image array too short, rstep not positive, or a table rfilt shorter than the
// largest entry the image's frequencies need (about 0.71/rstep + 1.5 for a square image).
void filter(std::span<float> image, std::int32_t nx, std::int32_t ny, std::span<const float> rfilt, float rstep);

}  // namespace planefilt
