// Radial Fourier filter of an image too large for memory, streamed from one image stream to
// another through a scratch file.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace planefilt {

inline constexpr std::int32_t ftbuf_reals = 500000;

// The work buffer bigfilt shares with its caller: bigfilt may use the first nbuf reals of
// buffer, and nothing else but one row chunk of at most 4096 complex values of its own. The
// caller sets nbuf before the call and may make buffer larger.
struct FtBuf {
  std::int32_t nbuf = 0;
  std::vector<float> buffer = std::vector<float>(ftbuf_reals);
};

// Reads ny lines of nx reals from image stream instream, filters the image with the radial
// table as filter does (planefilt/radial.hpp) and writes the ny filtered lines to outstream;
// returns the minimum, maximum and mean of the values written. Both streams are opened by the
// caller, positioned at their first line, with nx columns; no header is written.
// Works in three passes through the scratch file of logical name "SCRATCH" (created, and
// removed when closed): the x-transforms of loads of whole lines, the y-transforms and the
// filter on loads of columns (read and written back at their place in every record), the
// inverse x-transforms of loads of lines. On standard output (the image library's report
// stream) it reports the lines per load and loads of pass 1 and the columns per load and loads
// of pass 2.
// Refused with records::ReadError (source "bigfilt"), before anything is read or opened: nx or
// ny below 1, a stream whose image has not nx columns, nbuf beyond the buffer, nbuf below one
// line slot (nx + 2 reals) or one column (2*ny reals), a column load beyond the 4096-value row
// chunk, rstep not positive, or a table shorter than the largest entry in use.
// A failed read of a line of instream or of the scratch file prints
// " ******* BIGFILT:   ERROR ON READ  ********" between two empty lines before and after,
// closes both image streams and the scratch file, and ends the run with the stop text
// "*** ERROR ****" (exit status 1).
void bigfilt(int instream, int outstream, std::int32_t nx, std::int32_t ny, std::span<const float> rfilt, float rstep,
             float& dmin, float& dmax, float& dmean, FtBuf& ftbuf);

}  // namespace planefilt
