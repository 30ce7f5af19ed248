#include "layerline/listing.hpp"

#include "records/forms.hpp"

namespace layerline {

std::string listing_header(std::int32_t block_number, float scale, std::int32_t nn, std::int32_t nl) {
  std::string filler(79, ' ');
  filler += '\0';
  return "LAYER LINE" + records::int_form(block_number, 4) + filler + records::exp_form(scale, 17, 5) +
         records::int_form(nn, 5) + records::int_form(nl, 5);
}

std::string listing_point(const Point& p) {
  return records::exp_form(p.r, 12, 5) + records::exp_form(p.amp, 12, 5) + records::exp_form(p.phase, 12, 5) +
         records::fixed_form(0.0f, 10, 3) + records::fixed_form(0.0f, 10, 2);
}

}  // namespace layerline
