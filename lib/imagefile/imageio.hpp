// The image operations: open, describe, read and write map image files by stream number.
//
// A program names an open image file by a stream number 1-12 of its own choosing; at most 5
// image files are open at a time. The library keeps a copy of each open file's header; the
// setters and getters work on that copy and nothing reaches the file until iwrhdr. Lines and
// sections move between the file's data mode and the caller's float arrays (one float per
// number, two per complex item, the column index varying fastest).
//
// Every failure prints its message on standard output and ends the run (through the disk
// layer's fatal path, or a stop with exit status 1). The only failure handed back is a short
// read of data: the readers return false where a read-error branch is to be taken, with the
// numbers read so far left in the array. An array too small for what is asked ends the run
// with a message instead of reading or writing past its end.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "imagefile/header.hpp"

namespace imagefile {

inline constexpr int max_image_streams = 12;
inline constexpr int max_open_images = 5;

// --- opening and closing ---------------------------------------------------------------

// Opens image file `name` (a logical name, or a file name looked up as one first) on stream
// istream 1-12 with status atbute ("RO", "OLD", "NEW", "SCRATCH", "UNKNOWN"; first letter
// counts). A file opened for reading is classified (new-style, old-style or foreign map) with
// warnings; the open is reported on standard output.
void imopen(int istream, std::string_view name, std::string_view atbute);
// Closes the file of istream; the open count goes down (not below 0).
void imclose(int istream);
// -1 when the file of istream is an old-style map, else 0.
int imform(int istream);
// The disk stream of istream.
int imunit(int istream);

// --- headers ----------------------------------------------------------------------------

// Reads the header of istream into its copy, prints the header report and leaves the file at
// the first data byte. Returns NX-NZ, MX-MZ, MODE and the densities.
void irdhdr(int istream, Int3& inxyz, Int3& imxyz, std::int32_t& imode, float& dmin, float& dmax, float& dmean);
// Stores the densities and the title (by ntflag: 0 title is the only label, 1 appended,
// 2 inserted first, -1 labels unchanged), writes the header, the symmetry record of space
// group 1 and the machine stamp, and leaves the file at the first data byte.
void iwrhdr(int istream, std::string_view title, int ntflag, float dmin, float dmax, float dmean);
// Copies the header of jstream into istream, without symmetry (ISPG and NSYMBT 0).
void itrhdr(int istream, int jstream);
// Copies the labels (NLABL and all 10 slots) of jstream into istream.
void itrlab(int istream, int jstream);
// Copies the cell (CELLA, CELLB) of jstream into istream.
void itrcel(int istream, int jstream);
// A fresh header: sizes inxyz, sampling imxyz, cell edges = sampling, angles 90, mode imode,
// axes 1 2 3, everything else 0, and the first nl (0-10) of labels. Nothing is written.
void icrhdr(int istream, const Int3& inxyz, const Int3& imxyz, std::int32_t imode, std::span<const std::string> labels,
            int nl);

// --- positioning and data ---------------------------------------------------------------

// Positions istream at line iy of section iz (both from 0; negative values count as 0).
void imposn(int istream, int iz, int iy);

// Read the next line (NX items) / section (NX * NY items) into array.
[[nodiscard]] bool irdlin(int istream, std::span<float> array);
[[nodiscard]] bool irdsec(int istream, std::span<float> array);
// Reads items nx1..nx2 (from 0) of the next line into array, skipping the rest of the line.
[[nodiscard]] bool irdpal(int istream, std::span<float> array, int nx1, int nx2);
// Zeroes array (mx by my numbers), skips ny1 lines, then reads lines ny1..ny2 by irdpal, line
// ny1 + k - 1 into column k of array (k from 1).
[[nodiscard]] bool irdpas(int istream, std::span<float> array, int mx, int my, int nx1, int nx2, int ny1, int ny2);

// Write array as the next line / section.
void iwrlin(int istream, std::span<const float> array);
void iwrsec(int istream, std::span<const float> array);
// Writes items nx1..nx2 of the line array at the current position, then skips the rest of
// the line (NX - (nx2 - nx1 + 1) items).
void iwrpal(int istream, std::span<const float> array, int nx1, int nx2);
// Writes columns k = ny1 + 1 .. ny2 + 1 of array (mx by my numbers) by iwrpal, one line each.
void iwrpas(int istream, std::span<const float> array, int mx, int my, int nx1, int nx2, int ny1, int ny2);

// --- limits dialogues and densities -----------------------------------------------------

// Prompts on standard output for the lower and upper limits (x, y, z from 0) and reads them
// free-format from standard input; clamps them to the file's size; mxyz = the extents.
void icllim(int istream, Int3& ixyzmin, Int3& ixyzmax, Int3& mxyz);
// The same for a box given by its centre and half widths.
void ictlim(int istream, Int3& ixyzmin, Int3& ixyzmax, Int3& mxyz);

// Minimum, maximum and mean of array(nx1..nx2, ny1..ny2) (1-based, array mx numbers per
// column line) ...
void iclden(std::span<const float> array, int mx, int my, int nx1, int nx2, int ny1, int ny2, float& dmin, float& dmax,
            float& dmean);
// ... and of the moduli of a complex array (mx complex numbers, 2 * mx floats, per line).
void iclcdn(std::span<const float> carray, int mx, int my, int nx1, int nx2, int ny1, int ny2, float& dmin, float& dmax,
            float& dmean);

// --- setters and getters of the in-memory header ----------------------------------------

void ialcel(int istream, const std::array<float, 6>& cell);  // CELLA, CELLB
void irtcel(int istream, std::array<float, 6>& cell);
void ialcon(int istream, bool convert);  // false: modes 0, 1, 3 move raw file bytes
// EXTRA(istart .. istart + nextra - 1), istart from 1; out of 1..25 stops.
void ialext(int istream, std::span<const std::int32_t> extra, int istart, int nextra);
void irtext(int istream, std::span<std::int32_t> extra, int istart, int nextra);
// NLABL = min(nl, 10) labels from `labels`; the other slots blank.
void iallab(int istream, std::span<const std::string> labels, int nl);
// The labels in use (80 characters each).
std::vector<std::string> irtlab(int istream);
void ialmod(int istream, std::int32_t imode);
void ialorg(int istream, float xorig, float yorig, float zorig);
void irtorg(int istream, float& xorig, float& yorig, float& zorig);
void ialrms(int istream, float rms);
void irtrms(int istream, float& rms);
void ialsam(int istream, const Int3& imxyz);
void irtsam(int istream, Int3& imxyz);
void ialsiz(int istream, const Int3& inxyz, const Int3& nxyzst);
void irtsiz(int istream, Int3& inxyz, Int3& imxyz, Int3& nxyzst);
// ispg 0 (nbsym = 0) or 1 (nbsym = 80); other values stop.
void ialsym(int istream, std::int32_t ispg, std::int32_t& nbsym);
void irtsym(int istream, std::int32_t& ispg, std::int32_t& nbsym);
void ialuvw(int istream, const Int3& iuvw);  // MAPC, MAPR, MAPS
void irtuvw(int istream, Int3& iuvw);

// The whole in-memory header of istream (for programs that carry every field, e.g. a map
// converter).
const Header& header_of(int istream);
// Before room is made for `items` items of the open map of istream: throws ReadError(name,
// "the file holds N bytes, its header announces M") unless the file holds the header, its
// symmetry bytes and that many items of its data mode.
void require_items(int istream, std::string_view name, std::int64_t items);

}  // namespace imagefile
