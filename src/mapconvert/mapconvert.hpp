// mapconvert: rewrites a map image file of any layout the image library can classify as a
// native new-style map with a machine stamp.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "progmain/progmain.hpp"

namespace mapconvert {

inline constexpr std::string_view help_text =
    "usage: mapconvert INPUT OUTPUT\n"
    "\n"
    "Rewrites the map image file INPUT as OUTPUT, a new-style map in this machine's number\n"
    "formats (little-endian IEEE) with its machine stamp, so that every program of the suite\n"
    "can read and write it. Both names are logical names: an environment variable of that\n"
    "name holds the file name, otherwise the name is the file name. OUTPUT must not exist\n"
    "(unless IMAGE_OPEN=UNKNOWN).\n"
    "\n"
    "Accepted inputs: new-style maps (\"MAP \" in word 53) in this machine's formats or of\n"
    "another machine with a machine stamp (big-endian IEEE, VAX F, Convex native; NATIVEMAP\n"
    "and CONVERT_FROM are honoured as by the image library); new-style maps of the other\n"
    "byte order without a stamp; old-style maps (origin in words 54-55), of either byte order.\n"
    "Header values, labels and data (modes 0-4) are carried unchanged; space group 1 keeps its\n"
    "one symmetry record, other space groups are written as 0 without records.\n"
    "A file that is not a map image file is refused with a message and exit status 2.\n"
    "The image library prints its account of both files on standard output.\n";

// Converts args[0] into args[1]. Returns the exit status.
int run(const std::vector<std::string>& args, progmain::Streams streams);

}  // namespace mapconvert
