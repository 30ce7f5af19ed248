// Fixed-column fields and free-format records. The first two bytes choose the column and the
// width of the fixed fields; the rest is the text of the records.
#include <sstream>

#include "records/error.hpp"
#include "records/free.hpp"
#include "records/source.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int first = 1 + data[0] % 90;
  const int width = data[1] % 32;
  const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
  {
    std::istringstream in(text);
    records::LineSource src(in, "fuzz");
    while (auto rec = src.next()) {
      try {
        (void)rec->real(first, width, width % 7);
      } catch (const records::ReadError&) {
      }
      try {
        (void)rec->integer(first, width);
      } catch (const records::ReadError&) {
      }
      (void)rec->text(first, width);
    }
  }
  {
    std::istringstream in(text);
    records::LineSource src(in, "fuzz");
    try {
      for (int i = 0; i < 8; ++i) {
        records::FreeRecord r(src);
        (void)r.integer("n");
        (void)r.real("x");
        (void)r.reals(width % 5, "xs");
        (void)r.text("t");
      }
    } catch (const records::ReadError&) {
    }
  }
  return 0;
}
