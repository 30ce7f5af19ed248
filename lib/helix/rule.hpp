// The helical selection rule: which Bessel orders a layer line holds.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace helix {

// A helix of u subunits in t turns per repeat c: subunit k lies at azimuth 360*t*k/u degrees
// and height k*c/u. Its transform holds order n on layer line l exactly when l + t*n is a
// multiple of u (the pairs jtable lists with i = u, j = t); u = 0 admits nothing.
struct Rule {
  std::int32_t u = 1;
  std::int32_t t = 0;
};

// Where subunit k of the rule lies (u taken as |u|): azimuth 360*t*k/u degrees and height
// k*c/u Angstroms for a repeat of c Angstroms, in double precision in this order.
double subunit_azimuth(const Rule& rule, std::int64_t k);
double subunit_height(const Rule& rule, std::int64_t k, double c);

// Whether the rule admits order n on layer line l (in 64-bit integers: never an overflow).
bool admits(const Rule& rule, std::int32_t n, std::int32_t l);

// The orders n with |n| <= nmax that the rule admits on layer line l, ascending.
std::vector<std::int32_t> orders_on(const Rule& rule, std::int32_t l, std::int32_t nmax);

// The admitted order of smallest |n| <= nmax on layer line l, the positive one of a pair;
// none when the rule admits no order there.
std::optional<std::int32_t> lowest_order(const Rule& rule, std::int32_t l, std::int32_t nmax);

// The orders of orders_on(rule, l, nmax) that a density within radius rmax (Angstroms) can
// bring to `level` at radius R (reciprocal Angstroms) of layer line l: those whose
// |J_n(2 pi R r)| reaches level for some r <= rmax (bessel_peak(n, 2 pi R rmax) >= level, as
// the workflow's check counts an order with its bessel_level). Ascending; with level 0 or
// below every admitted order.
std::vector<std::int32_t> orders_reaching(const Rule& rule, std::int32_t l, std::int32_t nmax, double R, double rmax,
                                          double level);

}  // namespace helix
