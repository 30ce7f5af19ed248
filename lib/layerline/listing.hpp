// The layer-line listing that linerecast writes (nothing in the suite reads it).
#pragma once

#include <cstdint>
#include <string>

#include "layerline/pointlist.hpp"

namespace layerline {

// Header line, 121 columns: "LAYER LINE", the block's number from 0 (4 wide), 79 blanks and a
// NUL byte, the weight in exponent form 17 wide with 5 digits, n and l 5 wide.
std::string listing_header(std::int32_t block_number, float scale, std::int32_t nn, std::int32_t nl);
// Point line, 56 columns: R, amplitude, phase in exponent form 12 wide with 5 digits, then 0 in
// fixed form 10 wide with 3 decimals and 0 in fixed form 10 wide with 2 decimals.
std::string listing_point(const Point& p);

}  // namespace layerline
