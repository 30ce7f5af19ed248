// Synthetic reference and test point-list files of gridscan's cases, whose alignment is known,
// and the reading of its report.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "ctf/ctf.hpp"
#include "layerline/pointlist.hpp"
#include "records/forms.hpp"
#include "runprog.hpp"

namespace gridscantest {

using namespace testsupport;

// A reference data set and a test data set that is the reference rotated by phi0, shifted by
// z0 and radially scaled: test phase = reference phase + nn*phi0 - 360*nl*z0*recc, test radius
// = reference radius / scale. The reference holds grid points 2..points of every layer line;
// the test data reach further out, so no reference sample is left uncovered.
struct Synthetic {
  int lines = 6;
  int points = 40;
  float delbr = 0.001f;
  float recc = 0.01f;
  double phi0 = 0.0, z0 = 0.0, scale = 1.0;
  int iside = 0, ipole = 0, iprint = 0;
  int differing_nl_block = 0;                   // this test block carries another layer-line number
  bool cut_last_test_block = false;             // the test file ends inside its last block
  int ref_flag_every = 0, test_flag_every = 0;  // every n-th point written as a flagged sample
  double garble_beyond = 0.0;                   // test phases of samples beyond this resolution (1/A) are garbled
  bool flat_phases = false;                     // every layer line's phase constant along R, as between Bessel zeros
  std::vector<int> orders = {0, 1, -2, 3, -1, 2, -3, 4, 1, -4};
  // Not 0: a block of order nn + zero_order_offset with amplitudes 0 follows each reference
  // block, a model of two orders whose second adds nothing.
  int zero_order_offset = 0;
  // The test data as a phase-flipped image holds them: every amplitude times |CTF| at the test
  // sample's own frequency (r, l*recc); a stigmatic CTF, the same on either side.
  std::optional<ctf::Params> test_ctf;

  int nn(int l) const { return orders[static_cast<std::size_t>(l - 1) % orders.size()]; }
  static double amp(int l, int k) { return 100.0 + 60.0 * std::sin(0.2 * k + l); }
  double phase(int l, int k) const {
    return flat_phases ? 37.0 * l - 180.0 : std::fmod((4.0 + l % 5) * k + 37.0 * l, 360.0) - 180.0;
  }

  static bool flagged(int every, int k) { return every > 0 && k % every == 0; }
  static std::string point(double r, double a, double p) {
    return records::fixed_form(static_cast<float>(r), 10, 7) + records::fixed_form(static_cast<float>(a), 10, 4) +
           records::fixed_form(static_cast<float>(p), 10, 4) + "\n";
  }
  static std::string label(int l) {
    return layerline::sidesplit_label("synthetic particle", l, true, 10.0f * l) + "\n";
  }

  std::string reference() const {
    std::string s;
    for (int l = 1; l <= lines; ++l) {
      s += label(l) + layerline::parameter_record(1.0f, nn(l), l) + "\n";
      for (int k = 2; k <= points; ++k)
        s += point((k - 1) * double(delbr), flagged(ref_flag_every, k + l) ? -999.0 : amp(l, k), phase(l, k));
      s += layerline::terminator_record() + "\n";
      if (zero_order_offset == 0) continue;
      s += label(l) + layerline::parameter_record(1.0f, nn(l) + zero_order_offset, l) + "\n";
      for (int k = 2; k <= points; ++k) s += point((k - 1) * double(delbr), 0.0, 0.0);
      s += layerline::terminator_record() + "\n";
    }
    return s;
  }
  std::string test() const {
    std::string s;
    for (int l = 1; l <= lines; ++l) {
      const int nl = l == differing_nl_block ? l + 20 : l;
      s += label(l) + layerline::parameter_record(1.0f, nn(l), nl) + "\n";
      for (int k = 2; k <= points + points / 4; ++k) {
        const double r = (k - 1) * double(delbr) / scale;
        if (r >= 149.0 * double(delbr)) break;
        double q = phase(l, k) + nn(l) * phi0 - 360.0 * l * z0 * double(recc);
        if (iside == 1) q -= nn(l) * 180.0;
        if (ipole == 1) q = -q;
        const double rref = (k - 1) * double(delbr), zref = l * double(recc);
        if (garble_beyond > 0.0 && rref * rref + zref * zref > garble_beyond * garble_beyond) q += 97.0 * k + 41.0;
        const double a = test_ctf ? amp(l, k) * std::abs(ctf::Ctf(*test_ctf).value(r, l * double(recc))) : amp(l, k);
        s += point(r, flagged(test_flag_every, k + 2 * l) ? -999.0 : a, std::remainder(q, 360.0));
      }
      if (!(cut_last_test_block && l == lines)) s += layerline::terminator_record() + "\n";
    }
    return s;
  }
  std::string control() const {
    std::ostringstream s;
    s << lines << " " << recc << " " << delbr << " " << iprint << "\n";
    for (int l = 1; l <= lines; ++l) s << " 1.0";
    s << "\nsynthetic particle against itself\n" << iside << " " << ipole << "\n";
    return s.str();
  }
  void write(const TempDir& d) const {
    d.write("fort.2", control());
    d.write("fort.3", reference());
    d.write("fort.1", test());
  }
};

inline RunResult run(const TempDir& d, std::vector<std::string> args = {}) {
  RunSpec job;
  job.exe = program_path("gridscan");
  job.args = std::move(args);
  return run_in(d.path(), job);
}

inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

// The "0PHASE MINIMUM" lines of a report, one per pass.
struct Minimum {
  std::string resmin, phi, z, rsc;
};
inline std::vector<Minimum> minima(const std::string& report) {
  std::vector<Minimum> out;
  for (const std::string& l : lines_of(report))
    if (l.rfind("0PHASE MINIMUM ", 0) == 0) {
      EXPECT_EQ(l.size(), 79u) << l;
      out.push_back({l.substr(15, 10), l.substr(34, 10), l.substr(48, 10), l.substr(69, 10)});
    }
  return out;
}

inline std::string f1(double v) { return records::fixed_form(static_cast<float>(v), 10, 1); }
inline std::string f3(double v) { return records::fixed_form(static_cast<float>(v), 10, 3); }

// The last pass recovers phi0, z0 and the scale, with a phase residual of about zero.
inline void expect_recovered(const std::string& report, double phi0, double z0, double scale) {
  const std::vector<Minimum> m = minima(report);
  ASSERT_GE(m.size(), 2u) << report;
  EXPECT_EQ(m.back().phi, f1(phi0)) << report;
  EXPECT_EQ(m.back().z, f1(z0)) << report;
  EXPECT_EQ(m.back().rsc, f3(scale)) << report;
  EXPECT_LT(std::stof(m.back().resmin), 0.05f) << report;
}

}  // namespace gridscantest
