#include "recode/recode.hpp"

#include <optional>

#include "layerline/pointlist.hpp"
#include "records/error.hpp"
#include "records/source.hpp"

namespace recode {

const char* const help =
    "Usage: recode < layer-line-file > shifted-file\n"
    "\n"
    "Copies a point-list layer-line file from standard input to standard output and adds 180\n"
    "degrees to the phase of every sample, taking 360 off a result of 360 or more (so phases\n"
    "in -180..180 come out in 0 up to 360; 180 becomes 0). No dialogue, no arguments.\n"
    "\n"
    "The label record comes out as its first 50 characters (padded with blanks), the parameter\n"
    "record is written again in its layout (weight 10 wide with 3 decimals, n and l 5 wide),\n"
    "R and amplitude are written again in the point layout, and the terminator record (the first\n"
    "point record after a block's first with R, amplitude and phase all 0) is written unchanged.\n"
    "\n"
    "The end of the input where a label record is expected is the normal end. An end of the\n"
    "input inside a block, or a field that is not a number, stops the run with a message naming\n"
    "the line and columns, exit status 2; what was written until then stays written.\n";

float shifted_phase(float phi) {
  phi = phi + 180.0f;
  if (phi >= 360.0f) phi = phi - 360.0f;
  return phi;
}

void recode_file(std::istream& in, std::ostream& out) {
  records::LineSource src(in, "standard input");
  layerline::PointListReader reader(src, layerline::EndOfBlockRule::AllZero);
  while (std::optional<layerline::BlockHeader> h = reader.next_header()) {
    out << h->label50() << '\n' << layerline::parameter_record(h->scale, h->nn, h->nl) << '\n';
    for (;;) {
      const layerline::PointRead pr = reader.next_point();
      if (pr.kind == layerline::PointKind::EndOfFile) throw reader.end_of_file_in_block();
      if (pr.kind == layerline::PointKind::EndOfBlock) {
        out << layerline::point_record(pr.point) << '\n';
        break;
      }
      out << layerline::point_record({pr.point.r, pr.point.amp, shifted_phase(pr.point.phase)}) << '\n';
    }
  }
}

int run(const std::vector<std::string>& args, progmain::Streams streams) {
  if (!args.empty()) {
    streams.err << "recode: unexpected argument \"" << args[0]
                << "\": the layer-line file is read from standard input (see --help)\n";
    return 2;
  }
  recode_file(streams.in, streams.out);
  return 0;
}

}  // namespace recode
