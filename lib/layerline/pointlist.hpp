// The point-list layer-line file: one block per layer line, each a label record, a parameter
// record, point records (R, amplitude, phase) and a terminator record.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "records/error.hpp"
#include "records/source.hpp"

namespace layerline {

struct Point {
  float r = 0.0f;      // radial position, reciprocal Angstroms
  float amp = 0.0f;    // amplitude (-999.0 flags a sample near a CTF zero)
  float phase = 0.0f;  // degrees
};

struct BlockHeader {
  std::string label;    // the label record as read (readers never interpret it)
  float scale = 0.0f;   // amplitude weight, columns 1-10
  std::int32_t nn = 0;  // Bessel order n, columns 11-15
  std::int32_t nl = 0;  // layer-line number l, columns 16-20
  int label_line = 0;   // line number of the label record, for messages

  // Columns 1-50 of the label, padded with blanks: what gridscan, linerecast and recode keep.
  std::string label50() const;
};

// How a reader tells that a point record ends its block. Never on the block's first point
// record: a first record at R = 0 is a sample at R = 0.
enum class EndOfBlockRule {
  RadiusZero,  // R exactly 0, whatever amplitude and phase (gridscan)
  AllZero,     // R, amplitude and phase all exactly 0 (linerecast, recode, crestfind)
};

// How the parameter record's columns are taken.
enum class ParameterLayout {
  Standard,         // real 10 wide with 3 decimals, integers in 11-15 and 16-20
  SkipFirstColumn,  // column 1 skipped, a 9-wide real in 2-10 (crestfind), same integers
};

// What next_point() met.
enum class PointKind { Sample, EndOfBlock, EndOfFile };

struct PointRead {
  PointKind kind = PointKind::EndOfFile;
  Point point;   // the sample, or the record that ended the block
  int line = 0;  // its line number
};

// A whole block as read by read_block().
struct Block {
  BlockHeader header;
  std::vector<Point> points;  // the samples, in file order
  Point terminator;           // the record that ended the block
};

// Reads point-list blocks from a line source, record by record or block by block.
class PointListReader {
 public:
  PointListReader(records::LineSource& src, EndOfBlockRule rule, ParameterLayout layout = ParameterLayout::Standard);

  // Reads the label and parameter records of the next block. The end of the input where the
  // label is expected returns nothing (each program decides whether that is the normal end);
  // the end of the input at the parameter record, or a bad field in it, throws ReadError.
  std::optional<BlockHeader> next_header();
  // The next point record of the current block, tested against the end-of-block rule. At the
  // end of the input it returns kind EndOfFile and leaves the decision to the caller.
  PointRead next_point();
  // next_header() and every point up to the end of the block; the end of the input inside the
  // block throws ReadError ("end of file inside the layer-line block that begins at line N").
  std::optional<Block> read_block();
  // The error for an end of the input met inside the current block (after next_point()
  // returned EndOfFile), for readers to whom that is fatal.
  records::ReadError end_of_file_in_block() const;

  records::LineSource& source() { return src_; }

 private:
  records::LineSource& src_;
  EndOfBlockRule rule_;
  ParameterLayout layout_;
  bool first_point_ = true;
  int block_line_ = 0;
};

// Every block of a point-list file held whole in memory (bytes, named `name` in messages), as
// repeated read_block() calls give them; the end of the input inside a block throws the same
// ReadError. Point records in the exact form that point_record() writes are read without the
// general field path, which makes large files fast to read.
std::vector<Block> read_point_list(std::string_view bytes, const std::string& name, EndOfBlockRule rule);

// One point record: R, amplitude, phase in the 10-wide exponent form with 3 digits (30 columns).
std::string point_record(const Point& p);
// The terminator record: three zeros, " 0.000E+00" three times.
std::string terminator_record();
// The parameter record: weight fixed 10 wide with 3 decimals, n and l 5 wide (20 columns).
std::string parameter_record(float scale, std::int32_t nn, std::int32_t nl);
// The label record as sidesplit writes it (61 columns): blank, title (40), "LL", llno (3),
// blank, "NEAR" or "FAR ", ysp in fixed form 10 wide with 3 decimals.
std::string sidesplit_label(std::string_view title, std::int32_t llno, bool near_side, float ysp);

// Writes a whole block: label, parameter record, the points, the terminator record.
void write_block(std::ostream& out, std::string_view label, float scale, std::int32_t nn, std::int32_t nl,
                 const std::vector<Point>& points);

}  // namespace layerline
