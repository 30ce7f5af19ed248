#include "ctf/ctf.hpp"

#include <cmath>
#include <vector>

#include "records/error.hpp"
#include "records/numbers.hpp"

namespace ctf {

namespace {

constexpr double pi = 3.14159265358979323846;

std::string number(float v) {
  std::string s = std::to_string(v);
  while (s.size() > 1 && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s;
}

}  // namespace

std::string fault(const Params& p) {
  const struct {
    float v;
    const char* name;
  } all[] = {{p.voltage, "the voltage"},
             {p.cs, "Cs"},
             {p.amplitude_contrast, "the amplitude contrast"},
             {p.defocus_u, "defocus U"},
             {p.defocus_v, "defocus V"},
             {p.angle, "the astigmatism angle"},
             {p.bfactor, "the B-factor"},
             {p.phase_shift, "the phase shift"}};
  for (const auto& a : all)
    if (!std::isfinite(a.v)) return std::string(a.name) + " is not a finite number";
  if (!(p.voltage > 0.0f)) return "the voltage must be above 0 kV (" + number(p.voltage) + " given)";
  if (p.cs < 0.0f) return "Cs must not be negative (" + number(p.cs) + " mm given)";
  if (p.amplitude_contrast < 0.0f || !(p.amplitude_contrast < 1.0f))
    return "the amplitude contrast is a fraction from 0 to below 1 (" + number(p.amplitude_contrast) + " given)";
  if (p.defocus_u < 0.0f) return "defocus U must not be negative (" + number(p.defocus_u) + " A given)";
  if (p.defocus_v < 0.0f) return "defocus V must not be negative (" + number(p.defocus_v) + " A given)";
  if (p.bfactor < 0.0f) return "the B-factor must not be negative (" + number(p.bfactor) + " given)";
  return {};
}

double wavelength(double kv) {
  // lambda = h / sqrt(2 m0 e V (1 + e V / (2 m0 c^2))), in Angstroms.
  constexpr double h = 6.62607015e-34, m0 = 9.1093837015e-31, e = 1.602176634e-19, c = 299792458.0;
  const double v = kv * 1000.0;
  return h / std::sqrt(2.0 * m0 * e * v * (1.0 + e * v / (2.0 * m0 * c * c))) * 1e10;
}

Ctf::Ctf(const Params& p)
    : p_(p),
      lambda_(wavelength(double(p.voltage))),
      mean_(0.5 * (double(p.defocus_u) + double(p.defocus_v))),
      half_diff_(0.5 * (double(p.defocus_u) - double(p.defocus_v))),
      angle_(double(p.angle) * pi / 180.0),
      cs_(double(p.cs) * 1e7),
      sin_a_(std::sqrt(1.0 - double(p.amplitude_contrast) * double(p.amplitude_contrast))),
      cos_a_(double(p.amplitude_contrast)),
      shift_(double(p.phase_shift) * pi / 180.0) {}

double Ctf::defocus(double theta) const { return mean_ + half_diff_ * std::cos(2.0 * (theta - angle_)); }

double Ctf::chi(double sx, double sy) const {
  const double s2 = sx * sx + sy * sy;
  const double df = s2 > 0.0 ? defocus(std::atan2(sy, sx)) : mean_;
  return pi * lambda_ * df * s2 - 0.5 * pi * cs_ * lambda_ * lambda_ * lambda_ * s2 * s2 + shift_;
}

double Ctf::value(double sx, double sy) const {
  const double x = chi(sx, sy);
  double v = -(sin_a_ * std::sin(x) + cos_a_ * std::cos(x));
  if (p_.bfactor > 0.0f) v *= std::exp(-double(p_.bfactor) * (sx * sx + sy * sy) / 4.0);
  return v;
}

double Ctf::sign(double sx, double sy) const {
  const double x = chi(sx, sy);
  return -(sin_a_ * std::sin(x) + cos_a_ * std::cos(x)) < 0.0 ? -1.0 : 1.0;
}

Params from_option(const std::string& text) {
  static const char* const names[] = {
      "the voltage", "Cs", "the amplitude contrast", "defocus U", "defocus V", "the astigmatism angle", "the B-factor"};
  std::vector<float> v;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t s = i;
    while (i < text.size() && text[i] != ' ') ++i;
    if (v.size() == 7) break;
    const auto p = records::parse_free_real(text.substr(s, i - s));
    if (!p.ok()) throw records::ReadError("command line", "--ctf: " + std::string(names[v.size()]) + ": " + p.error);
    v.push_back(p.value);
    while (i < text.size() && text[i] == ' ') ++i;
  }
  if (v.size() < 6)
    throw records::ReadError("command line",
                             "--ctf takes the voltage (kV), Cs (mm), the amplitude contrast, defocus U and V (A), "
                             "the astigmatism angle (degrees) and an optional B-factor");
  Params c;
  c.voltage = v[0], c.cs = v[1], c.amplitude_contrast = v[2], c.defocus_u = v[3], c.defocus_v = v[4], c.angle = v[5];
  if (v.size() == 7) c.bfactor = v[6];
  if (const std::string f = fault(c); !f.empty()) throw records::ReadError("command line", "--ctf: " + f);
  return c;
}

}  // namespace ctf
