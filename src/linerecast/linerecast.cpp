#include "linerecast/linerecast.hpp"

#include <cstdint>
#include <limits>
#include <optional>

#include "layerline/listing.hpp"
#include "layerline/pointlist.hpp"
#include "records/error.hpp"
#include "records/source.hpp"

namespace linerecast {

const char* const help =
    "Usage: linerecast < layer-line-file > listing\n"
    "\n"
    "Rewrites a point-list layer-line file, read from standard input, as a layer-line listing on\n"
    "standard output. No dialogue, no arguments.\n"
    "\n"
    "Per block: a header line \"LAYER LINE\" with the block's number counted from 0 (4 wide), an\n"
    "80-column filler (79 blanks and one NUL byte), the amplitude weight (17 wide, 5 digits),\n"
    "the Bessel order n and the layer-line number l (5 wide each); then one line per point\n"
    "record, the terminator included: R, amplitude and phase (12 wide, 5 digits) and two zero\n"
    "fields.\n"
    "\n"
    "A block ends at the first point record after its first whose R, amplitude and phase are all\n"
    "0. The end of the input where a label record is expected is the normal end. An end of the\n"
    "input inside a block, or a field that is not a number, stops the run with a message naming\n"
    "the line and columns, exit status 2; what was written until then stays written.\n";

void recast(std::istream& in, std::ostream& out) {
  records::LineSource src(in, "standard input");
  layerline::PointListReader reader(src, layerline::EndOfBlockRule::AllZero);
  std::int32_t i = 0;
  while (std::optional<layerline::BlockHeader> h = reader.next_header()) {
    out << layerline::listing_header(i, h->scale, h->nn, h->nl) << '\n';
    if (i == std::numeric_limits<std::int32_t>::max())
      throw records::ReadError(src.name(), h->label_line, 0, 0, "more layer-line blocks than a block number holds");
    ++i;
    // The terminator is written as the block's last point line.
    for (;;) {
      const layerline::PointRead pr = reader.next_point();
      if (pr.kind == layerline::PointKind::EndOfFile) throw reader.end_of_file_in_block();
      out << layerline::listing_point(pr.point) << '\n';
      if (pr.kind == layerline::PointKind::EndOfBlock) break;
    }
  }
}

int run(const std::vector<std::string>& args, progmain::Streams streams) {
  if (!args.empty()) {
    streams.err << "linerecast: unexpected argument \"" << args[0]
                << "\": the layer-line file is read from standard input (see --help)\n";
    return 2;
  }
  recast(streams.in, streams.out);
  return 0;
}

}  // namespace linerecast
