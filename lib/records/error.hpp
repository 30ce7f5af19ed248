// The one error type for text input: where it happened and what was expected.
#pragma once

#include <stdexcept>
#include <string>

namespace records {

// A text record that could not be read, a file that could not be opened, or input beyond a
// capacity. what() is the message without the program name, e.g.
//   standard input, line 7, columns 11-20: "1.2.3" is not a number
//   ref.dat: 1200 layer lines, at most 1000 are supported
// Programs end on it with "<program>: <what()>" on standard error and exit status 2.
class ReadError : public std::runtime_error {
public:
  // line 0: no line to name; first_col 0: no columns to name.
  ReadError(std::string source, int line, int first_col, int last_col, std::string message);
  // A failure of the file as a whole (cannot open, beyond a capacity).
  ReadError(std::string source, std::string message);

  const std::string& source() const { return source_; }
  int line() const { return line_; }
  int first_col() const { return first_col_; }
  int last_col() const { return last_col_; }
  const std::string& message() const { return message_; }

private:
  std::string source_;
  int line_ = 0;
  int first_col_ = 0;
  int last_col_ = 0;
  std::string message_;
};

// The exit status of a run that ends on a ReadError.
inline constexpr int read_error_status = 2;

}  // namespace records
