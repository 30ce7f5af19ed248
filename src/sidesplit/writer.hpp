// Writing the samples of one layer line as point-list blocks of the near-side and far-side
// layer-line files.
#pragma once

#include <cstdint>
#include <string>

#include "sidesplit/deck.hpp"
#include "sidesplit/sampling.hpp"

namespace sidesplit {

// The amplitude that marks a sample within the exclusion band of a CTF zero.
inline constexpr float ctf_zero_flag = -999.0f;

// Appends the block (or, for a meridional layer line with merid = 0, the two blocks) of layer
// line e to the texts of the near-side and the far-side file. The negative-R half goes to the
// near side and the positive-R half to the far side, the other way round when nord < 0; the
// side label follows the file. Samples within the exclusion band of a CTF zero get the flag
// amplitude in s.arrf itself as they are written. my is the image's sampling count along y.
// The index ranges of e must lie inside the grid of s (read_deck checks them).
void write_layer_line(std::string& near, std::string& far, const Deck& deck, const LayerLineEntry& e, std::int32_t my,
                      LayerLineSamples& s);

}  // namespace sidesplit
