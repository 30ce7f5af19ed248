#include "helixft/inplane.hpp"

#include <cmath>

#include "planefilt/interp.hpp"

namespace helixft {

std::vector<float> move_and_turn(const std::vector<float>& image, std::int32_t width, std::int32_t height, float psi,
                                 float sx, float sy, float cx, float cy) {
  double sum = 0.0;
  for (float v : image) sum += double(v);
  const auto mean = static_cast<float>(sum / double(image.size()));
  std::vector<float> floated(image.size());
  for (std::size_t i = 0; i < image.size(); ++i) floated[i] = image[i] - mean;
  // interp takes output point c + e from input point R^-1 e + (xcin, ycin): with the output
  // centre shifted onto c and the input centre at c - s, content at q goes to c + R (q - c + s).
  const double rad = double(psi) * 3.14159265358979323846 / 180.0;
  const auto c = static_cast<float>(std::cos(rad)), s = static_cast<float>(std::sin(rad));
  const planefilt::Matrix2 rmat{c, s, -s, c};  // column order: (1,1), (2,1), (1,2), (2,2)
  const float half_w = 0.5f * static_cast<float>(width), half_h = 0.5f * static_cast<float>(height);
  std::vector<float> out(image.size());
  planefilt::interp(floated, out, width, height, width, height, rmat, cx - sx, cy - sy, cx - half_w, cy - half_h, 1.0f);
  for (float& v : out) v += mean;
  return out;
}

}  // namespace helixft
