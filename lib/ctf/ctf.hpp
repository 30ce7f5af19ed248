// The contrast transfer function of the microscope, once for every program: helixsim imposes
// it on a projection, helixft flips the phases it inverted, layermean weights each data set by
// it.
//
// For spatial frequency s (reciprocal Angstroms) in the direction theta from the image's x axis
//     chi(s, theta) = pi lambda dF(theta) s^2 - (pi/2) Cs lambda^3 s^4 + phase shift
//     dF(theta)     = (dU + dV)/2 + (dU - dV)/2 cos 2(theta - angle)
//     CTF(s, theta) = -(sqrt(1 - A^2) sin chi + A cos chi) exp(-B s^2 / 4)
// with lambda the relativistic electron wavelength, defocus positive for underfocus, dU along
// the direction `angle` (degrees from the x axis) and dV across it, A the amplitude contrast
// and B the B-factor of the envelope. At s = 0 the CTF is -A: density is dark in an image as
// the microscope records it.
//
// The values are evaluated in double precision; callers round the results they keep.
#pragma once

#include <string>

namespace ctf {

// The microscope and one image's defocus, as a data set's record gives them.
struct Params {
  float voltage = 300.0f;           // kV
  float cs = 2.7f;                  // spherical aberration, mm
  float amplitude_contrast = 0.1f;  // fraction, 0 to 1 (below 1)
  float defocus_u = 0.0f;           // Angstroms, positive underfocus
  float defocus_v = 0.0f;           // Angstroms
  float angle = 0.0f;               // degrees: the defocus-U axis from the image's x axis
  float bfactor = 0.0f;             // Angstroms^2; 0: no envelope
  float phase_shift = 0.0f;         // degrees (a phase plate); 0: none
};

// What is wrong with the values ("" when nothing): a voltage that is not above 0, a Cs or a
// defocus that is negative, an amplitude contrast outside 0 to 1 (1 excluded), a value that is
// not finite. The text names the value, e.g. "the voltage must be above 0 kV (0 given)".
std::string fault(const Params& p);

// The values of a program's --ctf option, separated by single or repeated spaces: voltage (kV),
// Cs (mm), amplitude contrast, defocus U and V (A), astigmatism angle (degrees) and an
// optional B-factor, as helixsim's ctf line gives them. Throws records::ReadError("command
// line", ...) naming the value that is not a number, too few values, or what fault() finds.
Params from_option(const std::string& text);

// The relativistic wavelength of electrons accelerated through kv kilovolts, in Angstroms
// (0.019687 A at 300 kV).
double wavelength(double kv);

class Ctf {
 public:
  explicit Ctf(const Params& p);

  // Defocus (Angstroms) in the direction theta (radians from the x axis).
  double defocus(double theta) const;
  // The phase aberration and the CTF at the frequency (sx, sy), reciprocal Angstroms, along the
  // image's x and y axes.
  double chi(double sx, double sy) const;
  double value(double sx, double sy) const;
  // +1 or -1: the sign of the CTF at (sx, sy); +1 where it is 0.
  double sign(double sx, double sy) const;

  const Params& params() const { return p_; }

 private:
  Params p_;
  double lambda_;
  double mean_, half_diff_, angle_;  // (dU + dV)/2, (dU - dV)/2, angle in radians
  double cs_;                        // Angstroms
  double sin_a_, cos_a_;             // sqrt(1 - A^2), A
  double shift_;                     // radians
};

}  // namespace ctf
