#include "records/error.hpp"

namespace records {

namespace {

std::string compose(const std::string& source, int line, int first_col, int last_col, const std::string& message) {
  std::string s = source;
  if (line > 0) s += ", line " + std::to_string(line);
  if (first_col > 0) {
    if (last_col > first_col)
      s += ", columns " + std::to_string(first_col) + "-" + std::to_string(last_col);
    else
      s += ", column " + std::to_string(first_col);
  }
  return s + ": " + message;
}

}  // namespace

ReadError::ReadError(std::string source, int line, int first_col, int last_col, std::string message)
    : std::runtime_error(compose(source, line, first_col, last_col, message)),
      source_(std::move(source)),
      line_(line),
      first_col_(first_col),
      last_col_(last_col),
      message_(std::move(message)) {}

ReadError::ReadError(std::string source, std::string message) : ReadError(std::move(source), 0, 0, 0, std::move(message)) {}

}  // namespace records
