#include "progmain/progmain.hpp"
#include "sidesplit/sidesplit.hpp"

namespace {

constexpr const char* help =
    "Usage: sidesplit\n"
    "Samples amplitude and phase along the layer lines of a transform image and writes them as\n"
    "point-list layer-line files for the near and the far side of the helix.\n"
    "\n"
    "Reads:\n"
    "  the transform image (complex, data mode 3 or 4) bound to the logical name IN: the file\n"
    "    named by environment variable IN, or the file IN when it is unset;\n"
    "  the deck sidesplit.dek in the working directory: the title; lltot sampl xshft yshft delr\n"
    "    rot shear tilt yfact; rmin rmax idump merid iywidth iphase; exclusion izeros; the CTF\n"
    "    zeros; then per layer line llno nord ysp and, when idump is not 0, nl1 nl2 nr1 nr2.\n"
    "Writes:\n"
    "  near.dat and far.dat in the working directory when idump is not 0 (neither may exist);\n"
    "  the image library's report and an echo of the run parameters on standard output.\n"
    "The near side of a layer line is its half at negative R when its Bessel order nord is 0 or\n"
    "more, its half at positive R otherwise; the far side is the other half, and both files hold\n"
    "|R|. In the suite's convention (the transform at R > 0 holds i^-n G_nl, at R < 0 i^n G_nl)\n"
    "a near side holds i^|n| G_nl(R) and a far side n*180 degrees more. A meridional layer line\n"
    "written twice (merid 0) holds the halves exchanged in its second block.\n";

}  // namespace

int main(int argc, char** argv) {
  return progmain::run_main(argc, argv, progmain::ProgramInfo{"sidesplit", help},
                            [](const std::vector<std::string>& args, progmain::Streams streams) {
                              sidesplit::ImageTransformSource transform;
                              return sidesplit::run(args, streams, transform);
                            });
}
