// The helical conventions of the suite, in one place. Every program that makes, samples,
// moves or inverts layer lines (helixsim, sidesplit, gridscan, curvematch, layermean,
// besselmap) follows them through this library.
//
// Density and transform. A helix of repeat c (Angstroms) is the sum over its layer lines
//     rho(r, phi, z) = sum over (n, l) of g_nl(r) exp(i (n phi + 2 pi l z / c))
// (phi = atan2(y, x), and the complex conjugate of each term for a real density), and its
// Fourier transform is F(X, Y, Z) = integral rho exp(-2 pi i (x X + y Y + z Z)). On layer line
// l (Z = l/c), at cylindrical radius R and azimuth Phi,
//     F = sum over n of i^-n G_nl(R) exp(i n Phi),  G_nl(R) = 2 pi integral g_nl(r) J_n(2 pi R r) r dr,
// and back g_nl(r) = 2 pi integral G_nl(R) J_n(2 pi R r) R dR (besselmap).
//
// Sides. An image projects along y; its transform is the section Y = 0, where X > 0 is
// Phi = 0 and X < 0 is Phi = 180 degrees. So the raw transform at signed X holds
//     i^-n G_nl(|X|) for X >= 0,   i^n G_nl(|X|) for X < 0      (transform_factor)
// The near side of a layer line is its negative-X half when n >= 0 and its positive-X half
// when n < 0 (near_is_negative_x, x_sign); the far side is the other half. Hence
//     near = i^|n| G_nl(R),   far = (-1)^n i^|n| G_nl(R) = near + n*180 degrees   (side_factor)
// and G_nl = i^-|n| near (g_from_near). sidesplit writes the two halves by this rule, with
// |R| as the radius; a meridional layer line written twice holds the halves exchanged in its
// second block.
//
// Motion. A particle turned by phi about the axis, shifted by z along it and larger by s across
// it, rho'(r, phi', z') = rho(r/s, phi' + phi, z' - z), has
//     G'_nl(R) = s^2 G_nl(s R) exp(i (n phi - 360 l z / c) degrees)                (motion_phase)
// so its sample at R stands for the reference at s R; a particle of the opposite polarity
// ((x, y, z) -> (-x, y, -z)) has the complex conjugate of every value (phases negated). The
// search programs report (phi, z, s) for a test data set, its phases first negated when its
// polarity is opposite and 180*n added when it is a far side (phase_as_near); layermean takes
// a data set back to the reference's near side by phase_to_reference.
//
// Selection rule. A helix of u subunits in t turns per repeat holds order n on layer line l
// when l + t n is a multiple of u (Rule, admits); where J_n(2 pi R r) is not negligible within
// the particle's radius, several orders share one layer line (orders_reaching).
//
// Several orders on one layer line. The block of a side file carries one order, and that order
// alone decides which half of the layer line is its near side. The value sampled there is the
// sum over the orders n' of transform_factor(n', X) G_n'l, moved as above (view_coefficient,
// predict_view): an order of the other sign than the block's enters the near side with
// i^-|n'|, not i^|n'|. A layer-line file of separated orders holds one block per (n, l), each
// in the one-order form near = i^|n| G_nl, which besselmap inverts block by block.
#pragma once

#include "helix/bessel.hpp"
#include "helix/motion.hpp"
#include "helix/rule.hpp"
#include "helix/sides.hpp"
