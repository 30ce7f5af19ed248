// Segments whose helix axis is not vertical in their box: the image moved and turned in its
// plane before it is boxed and transformed.
#pragma once

#include <cstdint>
#include <vector>

namespace helixft {

// The width x height image (rows of width values) with its content moved by (sx, sy) pixels
// and then turned by psi degrees (from +x towards +y) about column cx, row cy (from 0): a
// feature at q lands at c + R(psi) (q - c + s). Resampled by planefilt's 2 x 2 interpolation;
// what comes in from beyond the image edge takes the image's mean.
std::vector<float> move_and_turn(const std::vector<float>& image, std::int32_t width, std::int32_t height, float psi,
                                 float sx, float sy, float cx, float cy);

}  // namespace helixft
