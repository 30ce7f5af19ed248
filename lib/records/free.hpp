// Free-format (list-directed) input: one record of values separated by blanks or commas.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/source.hpp"

namespace records {

// Reads the values of one free-format record from a line source. The values may continue over
// as many lines as needed (blank lines are passed over); when the record is done, the rest of
// the line that held its last value is skipped: the next FreeRecord starts on the next line.
// A run of blanks and at most one comma separates two values; "r*v" stands for r copies of v;
// a text value may be quoted with ' or " (a doubled quote inside stands for one).
// `what` names the value for messages: an end of file gives
//   "<source>, line N: end of file: <what> expected",
// a bad value "<source>, line N, columns a-b: "x" is not a number".
class FreeRecord {
public:
  explicit FreeRecord(LineSource& src) : src_(src) {}

  float real(std::string_view what);
  std::int32_t integer(std::string_view what);
  std::string text(std::string_view what);
  std::vector<float> reals(int count, std::string_view what);
  std::vector<std::int32_t> integers(int count, std::string_view what);

private:
  struct Token {
    std::string text;
    int line = 0;
    int first = 0;
    int last = 0;
  };
  Token next(std::string_view what);

  LineSource& src_;
  std::optional<Record> rec_;
  std::size_t pos_ = 0;
  Token repeated_;
  long repeat_left_ = 0;
};

}  // namespace records
