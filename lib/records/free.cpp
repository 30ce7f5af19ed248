#include "records/free.hpp"

#include "records/error.hpp"
#include "records/numbers.hpp"

namespace records {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

FreeRecord::Token FreeRecord::next(std::string_view what) {
  if (repeat_left_ > 0) {
    --repeat_left_;
    return repeated_;
  }
  for (;;) {
    if (rec_) {
      const std::string& s = rec_->text();
      std::size_t i = pos_;
      while (i < s.size() && is_blank(s[i])) ++i;
      // A comma between values is a separator; a comma right after the previous value's
      // blanks is the same separator.
      if (i < s.size() && s[i] == ',' && pos_ > 0) {
        ++i;
        while (i < s.size() && is_blank(s[i])) ++i;
      }
      if (i < s.size()) {
        Token t;
        t.line = rec_->line();
        t.first = static_cast<int>(i) + 1;
        if (s[i] == '\'' || s[i] == '"') {
          const char q = s[i++];
          for (;;) {
            if (i >= s.size())
              throw ReadError(rec_->source(), rec_->line(), t.first, static_cast<int>(i), "a quoted text is not closed");
            if (s[i] == q) {
              if (i + 1 < s.size() && s[i + 1] == q) {
                t.text += q;
                i += 2;
                continue;
              }
              ++i;
              break;
            }
            t.text += s[i++];
          }
        } else {
          while (i < s.size() && !is_blank(s[i]) && s[i] != ',') t.text += s[i++];
        }
        t.last = static_cast<int>(i);
        pos_ = i;
        // r*v: r copies of v
        const std::size_t star = t.text.find('*');
        if (star != std::string::npos && star > 0 && t.text[0] != '\'' && t.text[0] != '"') {
          Parsed<std::int32_t> r = parse_free_int(std::string_view(t.text).substr(0, star));
          if (r.ok() && r.value > 0 && star + 1 < t.text.size()) {
            t.text = t.text.substr(star + 1);
            repeated_ = t;
            repeat_left_ = r.value - 1;
          }
        }
        return t;
      }
    }
    rec_ = src_.next();
    pos_ = 0;
    if (!rec_) throw ReadError(src_.name(), src_.line() + 1, 0, 0, "end of file: " + std::string(what) + " expected");
  }
}

float FreeRecord::real(std::string_view what) {
  Token t = next(what);
  Parsed<float> p = parse_free_real(t.text);
  if (!p.ok()) throw ReadError(src_.name(), t.line, t.first, t.last, p.error + " (" + std::string(what) + ")");
  return p.value;
}

std::int32_t FreeRecord::integer(std::string_view what) {
  Token t = next(what);
  Parsed<std::int32_t> p = parse_free_int(t.text);
  if (!p.ok()) throw ReadError(src_.name(), t.line, t.first, t.last, p.error + " (" + std::string(what) + ")");
  return p.value;
}

std::string FreeRecord::text(std::string_view what) { return next(what).text; }

std::vector<float> FreeRecord::reals(int count, std::string_view what) {
  std::vector<float> v;
  for (int i = 0; i < count; ++i) v.push_back(real(what));
  return v;
}

std::vector<std::int32_t> FreeRecord::integers(int count, std::string_view what) {
  std::vector<std::int32_t> v;
  for (int i = 0; i < count; ++i) v.push_back(integer(what));
  return v;
}

}  // namespace records
