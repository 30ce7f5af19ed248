#include "layermean/layermean.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "layerline/pointlist.hpp"
#include "layermean/average.hpp"
#include "layermean/output.hpp"
#include "layermean/table.hpp"
#include "records/error.hpp"
#include "records/numbers.hpp"

namespace layermean {

const std::string_view help_text =
    "usage: layermean --table FILE --repeat C [--output FILE] [--halves A B] [--stats FILE]\n"
    "                 [--delr D] [--skip-missing] [--ctf VOLTAGE CS AMPCONTRAST [BFACTOR]]\n"
    "                 [--wiener K|auto] [--rule U T --radius RMAX [--filter F] [--bessel-level L]]\n"
    "\n"
    "Averages aligned layer-line data sets (point-list files, as sidesplit writes them) in the\n"
    "frame of the reference they were aligned to, and reports how well they agree.\n"
    "\n"
    "--table FILE   the alignment table: tab-separated, a header line naming the columns, lines\n"
    "               beginning with # are comments. Needed columns: file, phi, z, rscale (the\n"
    "               values gridscan or curvematch reported for the file against the common\n"
    "               near-side reference); optional: side (near or far, default near),\n"
    "               polarity (same or opposite, default same), weight (above 0, default 1),\n"
    "               half (1 or 2), particle (a name), status (rows whose status is not ok are\n"
    "               left out and counted); other columns are ignored.\n"
    "               Without a half, particles (named by the particle column, else by the file)\n"
    "               alternate between the halves in table order, both sides of a particle in\n"
    "               the same half. A relative file name is taken from the table's folder.\n"
    "--repeat C     the repeat distance in Angstroms\n"
    "--output FILE  the average (default average.dat): a point-list file in sidesplit's layout\n"
    "               with near-side phases, one block for each block of the data sets\n"
    "--halves A B   the averages of the data sets of half 1 and of half 2, in the same layout\n"
    "--stats FILE   per layer line and sample, tab-separated: block, n, l, R, amplitude, phase,\n"
    "               figure of merit |sum w G|/sum w|G|, number of data sets, and the\n"
    "               amplitude-weighted phase spread of the data sets about the average\n"
    "--delr D       put every layer line on the radii R = k*D (default: the first data set's)\n"
    "--skip-missing go on past data files that cannot be opened, and count them\n"
    "--ctf V CS A [B]\n"
    "               the data sets come from phase-flipped images (helixft --ctf) of a\n"
    "               microscope of V kV, Cs mm, amplitude contrast A (and B-factor B): average\n"
    "               them with CTF weights. Every row then needs the columns defocus_u (and\n"
    "               defocus_v, defocus_angle for astigmatism; Angstroms of underfocus, the U\n"
    "               axis in degrees from the image's x axis, the helix axis along its y axis)\n"
    "--wiener K     with --ctf: the constant 1/SNR of the Wiener-type mean (default 0.1)\n"
    "--wiener auto  with --ctf: 1/SNR shell by shell of the frequency s = sqrt(R^2 + (l/C)^2),\n"
    "               estimated from the two halves (below); every data set's amplitude scale\n"
    "               is then fitted against the two halves, free of its own noise\n"
    "--rule U T --radius RMAX\n"
    "               separate the Bessel orders that share a layer line, by least squares over\n"
    "               the views: on layer line l at radius R the unknowns are the order n of the\n"
    "               data sets' block and every other order the rule admits ((l + T n)/U\n"
    "               whole) whose |J_n(2 pi R r)| reaches the level L for some r up to RMAX\n"
    "               (Angstroms, the particle's outer radius); the output then holds one block\n"
    "               per order and layer line (see below)\n"
    "--filter F     with --rule: keep the directions of the least squares whose eigenvalue is\n"
    "               at least F times the largest (default 0.01); a radius where any is dropped\n"
    "               is under-determined (too few or too alike views) and left out\n"
    "--bessel-level L\n"
    "               with --rule: the level of |J_n| from which an order counts (default 0.1)\n"
    "\n"
    "Each data set is brought into the reference frame as the search programs score a trial:\n"
    "layer line (n, l) gets the phase psi - n*phi + 360*l*z/C (a far side n*180 more, since\n"
    "far = near + n*180), a data set of the opposite polarity has its phases negated before\n"
    "both (as the search programs' ipole does: phi and z are what they found for the negated\n"
    "data), the sample at R stands for the reference at rscale*R, and the values\n"
    "are divided by rscale^2 (a particle larger by s in real space has the transform s^2 G(sR)).\n"
    "The complex values are interpolated linearly onto the radial grid, scaled by least squares\n"
    "to the running average of the data sets before them (the first keeps scale 1) and averaged\n"
    "with the weights. The k-th block of every data set must have the same n and l; a data set\n"
    "with fewer blocks has no data on the rest. Amplitudes of -999.0 (CTF zero bands) and radii\n"
    "outside a data set's samples take no part. A meridional layer line that sidesplit wrote\n"
    "twice at half weight is two blocks, each averaged on its own and written with its weight.\n"
    "Blocks end at a point record with R = 0 that is not their first, as gridscan reads them.\n"
    "With --ctf the average is sum w c |CTF| G / (sum w CTF^2 + K) at every sample, |CTF| the\n"
    "data set's at the frequency (X, l/C) of its image (X = -R on the near side of a layer line\n"
    "of n >= 0, +R on its far side, the other way round for n < 0), R its own radius: samples\n"
    "near a data set's CTF zeros count for nothing there, and damped amplitudes are restored.\n"
    "K = 1/SNR keeps the mean finite where every data set is near a zero; the halves use the\n"
    "same K. Without --ctf the mean is sum w c G / sum w.\n"
    "With --wiener auto, K(s) = 1/snr(s), snr the signal-to-noise ratio of one data set of\n"
    "weight 1 where |CTF| = 1 (a data set of weight w taken to carry noise power sigma^2/w).\n"
    "Each half's sum N = sum w c |CTF| G holds the signal S G, S = sum w CTF^2, and noise of\n"
    "power sigma^2 S; over the samples of a shell that both halves carry\n"
    "    P = sum Re N1 conj(N2) / sum S1 S2,\n"
    "    sigma^2 = (sum |N1|^2 + |N2|^2 - P sum (S1^2 + S2^2)) / sum (S1 + S2),\n"
    "and snr = P / sigma^2 (with every S alike: FSC/(1 - FSC) = S snr, the SNR of a half's\n"
    "sum, FSC the correlation of the halves' sums). A shell is one of equal width from 0 to\n"
    "the largest such s, one for every 100 samples (4 to 24); log K is interpolated linearly\n"
    "between the shells' centres, K within 1e-6 (no noise) and 1e6 (no signal). The mean is\n"
    "then the least-squares (Wiener) estimate in every shell: damped amplitudes restored\n"
    "where the data carry the shell, noise held down where they hardly do. The data set's\n"
    "amplitude scale c makes |CTF| S_h' Re(g conj N_o) and |CTF|^2 Re(N_h' conj N_o) agree\n"
    "in sum (N_o the other half's sum, N_h' and S_h' its own half's without it), three times\n"
    "over, the first data set keeping 1: no data set's noise enters its own scale. The halves\n"
    "should be aligned independently (as the workflow's rounds do): halves aligned to one\n"
    "reference share its bias and overstate the SNR. The summary lists the shells.\n"
    "With --rule the orders of each layer line are separated instead: a data set turned by phi\n"
    "holds sum over n of H_n exp(i (n - m) phi) in the frame of its block's order m (the far\n"
    "side with (-1)^(n - m) more), H_n being what order n alone puts on its own near side (a\n"
    "block of order n >= 0 holds the half X < 0 of the layer line, of n < 0 the half X > 0;\n"
    "the other half has (-1)^n more). Every data set gives two equations (real and imaginary\n"
    "part) per radius, weighted by sqrt(w) (and |CTF|, with the K of --wiener added to every\n"
    "unknown), its values scaled by c; the real and imaginary parts of the H_n are found by a\n"
    "filtered least-squares solution by eigenvectors, all radii of a layer line that share\n"
    "the orders and the equations solved at once. With one order this is the mean above. The\n"
    "output holds, for every block of the data sets, one block per order that comes in on it\n"
    "(its own order first, then by |n|, +n before -n; amplitude 0 below the radius where an\n"
    "order starts to count). On the equator the orders n and -n are one (H_-n = (-1)^n\n"
    "conj(H_n) for a real density): only n >= 0 are solved, and the block of n > 0 holds 2 H_n,\n"
    "the orders n and -n together as besselmap reads an equator. The halves are separated each\n"
    "on its own. The stats file then holds per output block and radius: block, n, l, R,\n"
    "amplitude, phase, the figure of merit |H|^2/(|H|^2 + var H) (var H from the residual of\n"
    "the fit, 0 when there are no more equations than unknowns), the number of data sets, the\n"
    "phase spread of the data sets about the fit's prediction for each, the orders solved\n"
    "there, the real unknowns (directions) and the directions kept: kept < directions marks an\n"
    "under-determined radius, whose samples the output blocks leave out; standard output lists\n"
    "them.\n"
    "\n"
    "Standard output: per data set its half, weight, amplitude scale and phase residual against\n"
    "the average (weighted by the average's amplitudes), its file and \"(opposite polarity)\"\n"
    "for such a data set, per layer line its mean figure of merit, and per shell of R the phase\n"
    "residual and the correlation of the two half averages. With --rule then the separation: per\n"
    "layer line the orders solved, the R factor of the fit and the radii left out as\n"
    "under-determined; per data set its scale and phase residual against the fit's prediction\n"
    "for its view; and per shell of R the agreement of the two halves, each separated on its own.\n"
    "Output files appear only when the whole run succeeds (an existing file of that name is\n"
    "replaced then); a failed run leaves none.\n"
    "Exit status 0; 1 when an output cannot be written; 2 on unusable input.\n";

namespace {

float positive_number(const std::string& text, const std::string& option) {
  const records::Parsed<float> p = records::parse_free_real(text);
  if (!p.ok() || !std::isfinite(p.value) || !(p.value > 0.0f))
    throw records::ReadError("command line", option + " needs a number above 0, not \"" + text + "\"");
  return p.value;
}

// The whole file, or nothing when it cannot be opened.
bool read_bytes(const std::string& path, std::string& bytes, std::string& reason) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!f) {
    reason = std::strerror(errno);
    return false;
  }
  bytes.clear();
  char buf[1 << 16];
  for (;;) {
    const std::size_t n = std::fread(buf, 1, sizeof buf, f.get());
    bytes.append(buf, n);
    if (n < sizeof buf) break;
  }
  if (std::ferror(f.get())) throw records::ReadError(path, "could not be read");
  return true;
}

bool same_file(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

[[noreturn]] void write_failure(progmain::Streams s, const records::ReadError& e) {
  s.err << "layermean: " << e.what() << '\n';
  throw progmain::Exit{1};
}

}  // namespace

Options parse_arguments(const std::vector<std::string>& args) {
  Options o;
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--skip-missing") {
      o.skip_missing = true;
    } else if (args[i] == "--ctf") {
      std::vector<float> v;
      static const char* const names[] = {"the voltage", "Cs", "the amplitude contrast", "the B-factor"};
      while (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0 && v.size() < 4) {
        const records::Parsed<float> p = records::parse_free_real(args[i + 1]);
        if (!p.ok())
          throw records::ReadError("command line", "--ctf: " + std::string(names[v.size()]) + ": " + p.error);
        v.push_back(p.value);
        ++i;
      }
      if (v.size() < 3)
        throw records::ReadError(
            "command line", "--ctf takes the voltage (kV), Cs (mm), the amplitude contrast and an optional B-factor");
      o.has_ctf = true;
      o.ctf.voltage = v[0], o.ctf.cs = v[1], o.ctf.amplitude_contrast = v[2];
      if (v.size() == 4) o.ctf.bfactor = v[3];
      if (const std::string f = ctf::fault(o.ctf); !f.empty()) throw records::ReadError("command line", "--ctf: " + f);
    } else if (args[i] == "--rule") {
      if (i + 2 >= args.size()) throw records::ReadError("command line", "--rule needs two whole numbers U and T");
      std::int32_t v[2];
      for (int k = 0; k < 2; ++k) {
        const records::Parsed<std::int32_t> p = records::parse_free_int(args[i + 1 + static_cast<std::size_t>(k)]);
        if (!p.ok() || p.value < -1000 || p.value > 1000 || (k == 0 && p.value < 1))
          throw records::ReadError("command line", "--rule needs U from 1 to 1000 and T from -1000 to 1000, not \"" +
                                                       args[i + 1 + static_cast<std::size_t>(k)] + "\"");
        v[k] = p.value;
      }
      o.separate = true;
      o.separation.u = v[0], o.separation.t = v[1];
      i += 2;
    } else if (args[i] == "--halves") {
      if (i + 2 >= args.size() || args[i + 1].empty() || args[i + 2].empty())
        throw records::ReadError("command line", "--halves needs two file names");
      o.half1 = args[i + 1];
      o.half2 = args[i + 2];
      i += 2;
    } else {
      rest.push_back(args[i]);
    }
  }
  std::string repeat, delr, wiener, radius, filter, level;
  progmain::bind_options(rest,
                         {{"--table", &o.table, "a file name"},
                          {"--repeat", &repeat, "the repeat distance"},
                          {"--output", &o.output, "a file name"},
                          {"--stats", &o.stats, "a file name"},
                          {"--delr", &delr, "a radial step"},
                          {"--wiener", &wiener, "the constant 1/SNR or auto"},
                          {"--radius", &radius, "the particle's outer radius"},
                          {"--filter", &filter, "the fraction of the largest eigenvalue"},
                          {"--bessel-level", &level, "the level of |J_n|"}},
                         "layermean");
  if (o.table.empty()) throw records::ReadError("command line", "--table FILE is needed (see layermean --help)");
  if (repeat.empty()) throw records::ReadError("command line", "--repeat C is needed (see layermean --help)");
  o.repeat = positive_number(repeat, "--repeat");
  if (!delr.empty()) o.delr = positive_number(delr, "--delr");
  if (!wiener.empty()) {
    if (!o.has_ctf) throw records::ReadError("command line", "--wiener is the constant of the CTF weights: give --ctf");
    if (wiener == "auto")
      o.wiener_auto = true;
    else
      o.wiener = positive_number(wiener, "--wiener");
  }
  if (!o.separate && !(radius.empty() && filter.empty() && level.empty()))
    throw records::ReadError("command line", "--radius, --filter and --bessel-level go with --rule U T");
  if (o.separate) {
    if (radius.empty()) throw records::ReadError("command line", "--rule needs --radius RMAX, the particle's radius");
    o.separation.rmax = positive_number(radius, "--radius");
    if (!filter.empty()) {
      const records::Parsed<float> p = records::parse_free_real(filter);
      if (!p.ok() || !(p.value > 0.0f) || !(p.value < 1.0f))
        throw records::ReadError("command line",
                                 "--filter needs a fraction above 0 and below 1, not \"" + filter + "\"");
      o.separation.filter = p.value;
    }
    if (!level.empty()) {
      const records::Parsed<float> p = records::parse_free_real(level);
      if (!p.ok() || !(p.value >= 0.001f) || !(p.value < 1.0f))
        throw records::ReadError("command line",
                                 "--bessel-level needs a level from 0.001 to below 1, not \"" + level + "\"");
      o.separation.level = p.value;
    }
  }
  std::vector<std::string> outs{o.output};
  if (!o.half1.empty()) outs.insert(outs.end(), {o.half1, o.half2});
  if (!o.stats.empty()) outs.push_back(o.stats);
  for (std::size_t i = 0; i < outs.size(); ++i)
    for (std::size_t j = i + 1; j < outs.size(); ++j)
      if (std::filesystem::absolute(outs[i]).lexically_normal() ==
          std::filesystem::absolute(outs[j]).lexically_normal())
        throw records::ReadError("command line", "the output files need different names (" + outs[i] + " twice)");
  return o;
}

int run(const std::vector<std::string>& args, progmain::Streams streams) {
  const Options o = parse_arguments(args);
  std::string bytes, reason;
  if (!read_bytes(o.table, bytes, reason)) throw records::ReadError(o.table, "cannot open (" + reason + ")");
  const Table table = read_table(bytes, o.table);
  const std::filesystem::path folder = std::filesystem::path(o.table).parent_path();

  std::vector<std::string> outputs{o.output, o.half1, o.half2, o.stats};
  auto refuse_over = [&](const std::string& input) {
    for (const std::string& out : outputs)
      if (!out.empty() && same_file(out, input))
        throw records::ReadError(out, "is the input " + input + "; it would be overwritten");
  };
  refuse_over(o.table);

  if (o.has_ctf)
    for (const Row& row : table.rows)
      if (!row.has_defocus)
        throw records::ReadError(o.table, row.line, 0, 0,
                                 "column \"defocus_u\": the row gives no defocus, and --ctf weights every data set "
                                 "by its CTF");
  Averager avg(o.repeat, o.delr, o.has_ctf ? o.wiener : 0.0f, o.has_ctf && o.wiener_auto);
  int skipped = 0;
  for (const Row& row : table.rows) {
    const std::filesystem::path p(row.file);
    const std::string path = p.is_absolute() ? row.file : (folder / p).string();
    if (!read_bytes(path, bytes, reason)) {
      if (o.skip_missing) {
        ++skipped;
        continue;
      }
      throw records::ReadError(
          o.table, row.line, 0, 0,
          "the data file " + path + " cannot be opened (" + reason + "); --skip-missing goes on without it");
    }
    refuse_over(path);
    const std::vector<layerline::Block> blocks =
        layerline::read_point_list(bytes, path, layerline::EndOfBlockRule::RadiusZero);
    if (blocks.empty()) throw records::ReadError(path, "holds no layer-line block");
    Placement place{row.phi, row.z, row.rscale, row.far, row.weight, row.half, row.opposite};
    if (o.has_ctf) {
      place.has_ctf = true;
      place.ctf = o.ctf;
      place.ctf.defocus_u = row.defocus_u, place.ctf.defocus_v = row.defocus_v;
      place.ctf.angle = row.defocus_angle;
    }
    avg.add(path, blocks, place);
  }
  if (avg.contributions().empty())
    throw records::ReadError(o.table, "no data set to average (" + std::to_string(table.left_out) +
                                          " rows left out by their status, " + std::to_string(skipped) +
                                          " missing files skipped)");

  Weighting k;
  if (o.has_ctf && o.wiener_auto) {
    avg.fit_scales_from_halves();
    k.shells = wiener_shells(avg, o.table);
    k.per_sample = wiener_at_samples(avg, k.shells);
  }
  auto average = [&](const std::vector<SampleSums>& sums) {
    return k.shells.empty() ? mean_of(sums, avg.wiener()) : mean_of(sums, k.per_sample);
  };
  const std::vector<std::complex<float>> mean = average(avg.sums());
  const std::string title = "layermean average of " + std::to_string(avg.contributions().size());
  std::vector<std::unique_ptr<PendingFile>> files;
  Separation sep, sep1, sep2;
  if (o.separate) {
    // With --wiener auto the separation takes k(s) at every sample, as the mean does.
    sep = separate(avg, o.separation, 0, o.table, k.per_sample);
    sep1 = separate(avg, o.separation, 1, o.table, k.per_sample);
    sep2 = separate(avg, o.separation, 2, o.table, k.per_sample);
  }
  try {
    files.push_back(std::make_unique<PendingFile>(o.output));
    if (o.separate) {
      write_separated(files.back()->stream(), sep, title);
      if (!o.half1.empty()) {
        files.push_back(std::make_unique<PendingFile>(o.half1));
        write_separated(files.back()->stream(), sep1, "layermean half 1");
        files.push_back(std::make_unique<PendingFile>(o.half2));
        write_separated(files.back()->stream(), sep2, "layermean half 2");
      }
      if (!o.stats.empty()) {
        files.push_back(std::make_unique<PendingFile>(o.stats));
        write_separation_stats(files.back()->stream(), avg, sep);
      }
    } else {
      write_average(files.back()->stream(), avg.grid(), mean, title);
      if (!o.half1.empty()) {
        files.push_back(std::make_unique<PendingFile>(o.half1));
        write_average(files.back()->stream(), avg.grid(), average(avg.half_sums(1)), "layermean half 1");
        files.push_back(std::make_unique<PendingFile>(o.half2));
        write_average(files.back()->stream(), avg.grid(), average(avg.half_sums(2)), "layermean half 2");
      }
      if (!o.stats.empty()) {
        files.push_back(std::make_unique<PendingFile>(o.stats));
        write_stats(files.back()->stream(), avg, mean);
      }
    }
    for (auto& f : files) f->close();
  } catch (const records::ReadError& e) {
    write_failure(streams, e);
  }
  write_summary(streams.out, avg, mean, k, table.left_out, skipped, o.table);
  if (o.separate) write_separation_summary(streams.out, avg, sep, sep1, sep2, o.separation);
  streams.out.flush();
  if (!streams.out) write_failure(streams, records::ReadError("standard output", "could not be written"));
  try {
    for (auto& f : files) f->commit();
  } catch (const records::ReadError& e) {
    write_failure(streams, e);
  }
  return 0;
}

}  // namespace layermean
