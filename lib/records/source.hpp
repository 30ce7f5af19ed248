// Line sources that know where they are, and fixed-column access to one record.
#pragma once

#include <cstdint>
#include <fstream>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace records {

class LineSource;

// One record (a line without its newline) with the place it came from, for error messages.
class Record {
public:
  Record(std::string text, std::string source, int line) : text_(std::move(text)), source_(std::move(source)), line_(line) {}

  const std::string& text() const { return text_; }
  const std::string& source() const { return source_; }
  int line() const { return line_; }

  // Columns first..first+width-1 (counted from 1); a record shorter than that reads as if
  // padded with blanks.
  std::string columns(int first, int width) const;
  // A real field with `decimals` implied decimals; throws ReadError naming line and columns.
  float real(int first, int width, int decimals) const;
  // An integer field; throws ReadError naming line and columns.
  std::int32_t integer(int first, int width) const;
  // A text field, padded with blanks to its width.
  std::string text(int first, int width) const { return columns(first, width); }

private:
  std::string text_;
  std::string source_;
  int line_;
};

// A sequence of text records from a file or a stream. A trailing carriage return is dropped
// from every line, so files written on other systems read the same; a last line without its
// newline is still a record.
class LineSource {
public:
  // A source over an open stream that the caller owns (standard input: name "standard input").
  LineSource(std::istream& in, std::string name);
  // Opens a file for reading; throws ReadError "<path>: cannot open (<reason>)" when it cannot.
  static LineSource open_file(const std::string& path);

  LineSource(LineSource&&) noexcept;
  LineSource& operator=(LineSource&&) noexcept;
  ~LineSource();

  // The next record, or nothing at the end of the input. A read failure of the stream itself
  // throws ReadError.
  std::optional<Record> next();
  // Like next(), but the end of the input throws ReadError "end of file: <expected> expected".
  Record expect(std::string_view expected);

  const std::string& name() const { return name_; }
  // Number of the last record returned (0 before the first).
  int line() const { return line_; }
  // Starts again from the first record; only sources opened with open_file can.
  void rewind();

private:
  LineSource(std::unique_ptr<std::ifstream> owned, std::string name);
  std::unique_ptr<std::ifstream> owned_;
  std::istream* in_;
  std::string name_;
  int line_ = 0;
};

}  // namespace records
