#include "curvematch/datasets.hpp"

#include <algorithm>
#include <cmath>

#include "curvematch/roundedmath.hpp"
#include "helix/sides.hpp"
#include "layerline/gridded.hpp"
#include "records/error.hpp"
#include "records/forms.hpp"

namespace curvematch {

namespace {

// Trigonometric functions and square roots of the rescaling: evaluated in double precision on
// single-precision arguments, the result stored in single precision.
float cos_d(float x) { return static_cast<float>(std::cos(static_cast<double>(x))); }
float sin_d(float x) { return static_cast<float>(std::sin(static_cast<double>(x))); }
float sqrt_d(float x) { return static_cast<float>(std::sqrt(static_cast<double>(x))); }
float atan2_d(float y, float x) {
  return static_cast<float>(std::atan2(static_cast<double>(y), static_cast<double>(x)));
}

std::string show_int(std::int32_t v) { return std::to_string(v); }

// Refuses header values the arrays cannot hold, before anything of the file is stored.
void check_header(const records::LineSource& src, const layerline::GriddedHeader& h, bool reference) {
  const int line = src.line();
  if (h.llmax < 0 || h.llmax > max_layer_lines)
    throw records::ReadError(
        src.name(), line, 1, 10,
        show_int(h.llmax) + " layer lines, at most " + show_int(max_layer_lines) + " are supported");
  if (h.ismin < 1 || h.ismin > max_sample_index)
    throw records::ReadError(src.name(), line, 11, 20,
                             "first sample index " + show_int(h.ismin) + ", sample indices 1 to " +
                                 show_int(max_sample_index) + " are supported");
  if (h.ismax < 1 || h.ismax > max_sample_index)
    throw records::ReadError(src.name(), line, 21, 30,
                             "last sample index " + show_int(h.ismax) + ", sample indices 1 to " +
                                 show_int(max_sample_index) + " are supported");
  if (h.ismax < h.ismin)
    throw records::ReadError(src.name(), line, 11, 30,
                             "last sample index " + show_int(h.ismax) + " is below the first " + show_int(h.ismin) +
                                 ": the layer lines hold no samples");
  if (reference && !(h.dsr > 0.0f))
    throw records::ReadError(src.name(), line, 31, 40,
                             "radial sampling interval " + records::free_real(h.dsr) +
                                 " is not positive; the radial rescaling divides by it");
}

// Reads title, header and the value groups the header announces into ltlga, ltlgb, in, inl,
// applying the radial window to each layer line as soon as it is read.
layerline::GriddedHeader read_file(records::LineSource& src, Window w, bool reference, DataSets& d) {
  layerline::GriddedHeader h = layerline::read_gridded_header(src);
  check_header(src, h, reference);
  for (std::int32_t l = 1; l <= h.llmax; ++l)
    for (std::int32_t j = h.ismin; j <= h.ismax; ++j) {
      d.ltlga.at(l, j) = 0.0f;
      d.ltlgb.at(l, j) = 0.0f;
    }
  for (std::int32_t l = 1; l <= h.llmax; ++l) {
    const layerline::ValueGroup re = layerline::read_value_group(src, h.ismin, h.ismax);
    d.in[static_cast<std::size_t>(l)] = re.n;
    d.inl[static_cast<std::size_t>(l)] = re.l;
    for (std::int32_t j = h.ismin; j <= h.ismax; ++j)
      d.ltlga.at(l, j) = re.values[static_cast<std::size_t>(j - h.ismin)];
    const layerline::ValueGroup im = layerline::read_value_group(src, h.ismin, h.ismax);
    d.in[static_cast<std::size_t>(l)] = im.n;  // the second group's n and l are the ones kept
    d.inl[static_cast<std::size_t>(l)] = im.l;
    for (std::int32_t j = h.ismin; j <= h.ismax; ++j)
      d.ltlgb.at(l, j) = im.values[static_cast<std::size_t>(j - h.ismin)];
    for (std::int32_t j = h.ismin; j <= h.ismax; ++j)
      if (j < w.isminext || j > w.ismaxext) {
        d.ltlga.at(l, j) = 0.0f;
        d.ltlgb.at(l, j) = 0.0f;
      }
  }
  return h;
}

// An amplitude beyond the single-precision range would make every sum infinite or undefined.
void check_amplitude(const records::LineSource& src, float amp, std::int32_t l, std::int32_t j) {
  if (!std::isfinite(amp))
    throw records::ReadError(src.name(), "layer line " + show_int(l) + ", sample " + show_int(j) +
                                             ": the amplitude of the sample is beyond the single-precision range");
}

}  // namespace

float dratan2d(float i, float r) {
  // atan2_rounded: the library's double-precision arc tangent rounded to single precision.
  if (r != 0.0f && i != 0.0f) return atan2_rounded(i, r) * 57.295776f;
  float result = 0.0f;
  if (i > 0.0f) result = 90.0f;
  if (i < 0.0f) result = -90.0f;
  if (r < 0.0f) result = 180.0f;
  return result;
}

DataSets::DataSets()
    : in(max_layer_lines + 1, 0),
      inl(max_layer_lines + 1, 0),
      test_first(max_layer_lines + 1, 1),
      test_last(max_layer_lines + 1, max_sample_index),
      a2_first(max_layer_lines + 1, 1),
      a2_last(max_layer_lines + 1, max_sample_index) {
  ltlga.reset(max_layer_lines, max_sample_index + 2);
  ltlgb.reset(max_layer_lines, max_sample_index + 2);
}

void load_reference(records::LineSource& src, const std::string& refile40, Window w, float acut, DataSets& d,
                    std::ostream& out) {
  const layerline::GriddedHeader h = read_file(src, w, true, d);
  d.lgtitle = h.title;
  d.llmax = h.llmax;
  d.ismin = h.ismin;
  d.ismax = h.ismax;
  d.dsr = h.dsr;
  d.window = w;

  const std::int32_t cols = d.ismax + 2;
  for (Table* t : {&d.a, &d.p, &d.a1, &d.p1, &d.a2, &d.p2}) t->reset(d.llmax, cols);

  out << "  --- reading in reference data : " << refile40 << '\n';
  out << (records::FreeLine() << "llmax = " << d.llmax).str() << '\n';

  for (std::int32_t l = 1; l <= d.llmax; ++l)
    for (std::int32_t ir = d.ismin; ir <= d.ismax; ++ir) {
      const float re = d.ltlga.at(l, ir);
      const float im = d.ltlgb.at(l, ir);
      const float amp = std::sqrt(re * re + im * im);
      check_amplitude(src, amp, l, ir);
      d.a.at(l, ir) = amp;
      d.p.at(l, ir) = dratan2d(im, re);
      d.asum += amp;
      d.ncount += 1;
      if (amp > d.amax) d.amax = amp;
    }
  d.amin = acut * d.amax / 100.0f;
}

void load_test(records::LineSource& src, const std::string& tfile40, Window w, std::int32_t iside, std::int32_t ipole,
               DataSets& d, std::ostream& out, ShortTestRule rule) {
  const layerline::GriddedHeader h = read_file(src, w, false, d);
  d.lgtitle2 = h.title;
  d.llmax2 = h.llmax;
  d.ismin2 = h.ismin;
  d.ismax2 = h.ismax;
  d.dsr2 = h.dsr;

  out << "  --- reading in test data : " << tfile40 << "\n\n\n";
  out << (records::FreeLine() << "llmax = " << (rule == ShortTestRule::absent ? d.llmax2 : d.llmax)).str() << '\n';

  for (std::int32_t l = 1; l <= d.llmax; ++l) {
    const auto ls = static_cast<std::size_t>(l);
    if (rule == ShortTestRule::absent) {
      // Only what the test file holds; a layer line beyond its llmax has no sample.
      d.test_first[ls] = l <= d.llmax2 ? std::max(d.ismin, d.ismin2) : d.ismin;
      d.test_last[ls] = l <= d.llmax2 ? std::min(d.ismax, d.ismax2) : d.ismin - 1;
    } else {
      d.test_first[ls] = d.ismin;
      d.test_last[ls] = d.ismax;
    }
    const std::int32_t n = d.in[static_cast<std::size_t>(l)];
    for (std::int32_t ir = d.ismin; ir <= d.ismax; ++ir) {
      if (ir < d.test_first[ls] || ir > d.test_last[ls]) {
        d.a1.at(l, ir) = 0.0f;
        d.p1.at(l, ir) = 0.0f;
        continue;
      }
      const float re = d.ltlga.at(l, ir);
      const float im = d.ltlgb.at(l, ir);
      const float amp = std::sqrt(re * re + im * im);
      check_amplitude(src, amp, l, ir);
      const float phase = helix::phase_as_near(dratan2d(im, re), n, iside == 1, ipole == 1);
      d.a1.at(l, ir) = amp;
      d.p1.at(l, ir) = phase;
      d.a1sum += amp;
      d.ncount1 += 1;
    }
  }
}

namespace {

void check_scale(float rsc) {
  if (!(rsc > 0.0f) || !std::isfinite(rsc))
    throw RunStop{"radial scale " + records::free_real(rsc) +
                  " is not positive: the radial-scale grid has moved out of the range the rescaling can use"};
}

// Where the rescaling puts the interpolated value (ap, bp) of target k: amplitude and phase
// stored at once by the library's double-precision functions, or gathered for a layer line and
// evaluated side by side by the faster ones with the same single-precision results (stored when
// the layer line ends, in the order they came, so a target given twice keeps the later value).
struct LibraryStore {
  void put(float* a2, float* p2, std::int32_t k, float ap, float bp) {
    a2[k] = sqrt_d(ap * ap + bp * bp);
    p2[k] = atan2_d(bp, ap) * deg;
  }
  void end_line(float*, float*) {}
};

class BatchedStore {
 public:
  BatchedStore(RoundedBatchFn batch, std::int32_t size) : batch_(batch) {
    for (auto* v : {&q_, &y_, &x_, &amp_, &phase_}) v->resize(static_cast<std::size_t>(size));
    k_.resize(static_cast<std::size_t>(size));
  }
  void put(float*, float*, std::int32_t k, float ap, float bp) {
    if (n_ == k_.size()) grow();
    if (n_ > 0 && k != k_[n_ - 1] + 1) consecutive_ = false;
    q_[n_] = ap * ap + bp * bp;
    y_[n_] = bp;
    x_[n_] = ap;
    k_[n_] = k;
    ++n_;
  }
  void grow() {
    for (auto* v : {&q_, &y_, &x_, &amp_, &phase_}) v->resize(2 * n_ + 1);
    k_.resize(2 * n_ + 1);
  }
  void end_line(float* a2, float* p2) {
    if (n_ == 0) return;
    const std::int32_t k0 = k_[0];
    if (consecutive_) {
      // Increasing targets k0, k0 + 1, ... (every target of the interpolated rule): stored where
      // they go.
      batch_(q_.data(), y_.data(), x_.data(), a2 + k0, p2 + k0, static_cast<std::int32_t>(n_));
      for (std::size_t i = 0; i < n_; ++i) p2[k0 + static_cast<std::int32_t>(i)] *= deg;
    } else {
      batch_(q_.data(), y_.data(), x_.data(), amp_.data(), phase_.data(), static_cast<std::int32_t>(n_));
      for (std::size_t i = 0; i < n_; ++i) {
        a2[k_[i]] = amp_[i];
        p2[k_[i]] = phase_[i] * deg;
      }
    }
    n_ = 0;
    consecutive_ = true;
  }

 private:
  RoundedBatchFn batch_;
  std::vector<float> q_, y_, x_, amp_, phase_;
  std::vector<std::int32_t> k_;
  std::size_t n_ = 0;
  bool consecutive_ = true;  // every target the one after the one before
};

// a1 times cos and sin of p1/deg in double precision, rounded, at every use; or from tables.
struct LibraryRow {
  const DataSets* d;
  std::int32_t l;
  bool sine;
  float operator[](std::int32_t ir) const {
    const float x = d->p1.at(l, ir) / deg;
    return d->a1.at(l, ir) * (sine ? sin_d(x) : cos_d(x));
  }
};
struct LibraryRows {
  const DataSets* d;
  LibraryRow cos_row(std::int32_t l) const { return {d, l, false}; }
  LibraryRow sin_row(std::int32_t l) const { return {d, l, true}; }
};
struct TabledRows {
  const Table *ac, *as;
  const float* cos_row(std::int32_t l) const { return ac->row(l); }
  const float* sin_row(std::int32_t l) const { return as->row(l); }
};

// The interpolated rule; rows.cos_row(l)[ir] and rows.sin_row(l)[ir] give a1(l, ir) times cos
// and sin of p1(l, ir)/deg. Every target is computed on its own, from its source index, in single
// precision; the source of target k depends only on k and rsc, so it is found once for all
// layer lines.
template <typename Store, typename Rows>
void rescale_interpolated(DataSets& d, float rsc, Store& store, const Rows& rows) {
  check_scale(rsc);
  const auto targets = static_cast<std::size_t>(d.ismax - d.ismin + 1);
  std::vector<float> sources(targets), rbits(targets);
  std::vector<std::int32_t> below(targets);
  for (std::int32_t k = d.ismin; k <= d.ismax; ++k) {
    const auto t = static_cast<std::size_t>(k - d.ismin);
    // Target k lies at radius (k-1)*dsr, which is the radius (k-1)*dsr/rsc of the test data.
    const float src = static_cast<float>(k - 1) / rsc + 1.0f;
    sources[t] = src;
    // Only sources from 1 to ismax can be present (the integer part is taken of those only).
    below[t] = src >= 1.0f && src <= static_cast<float>(d.ismax) ? static_cast<std::int32_t>(src) : 0;
    rbits[t] = src - static_cast<float>(below[t]);
  }
  for (std::int32_t l = 1; l <= d.llmax; ++l) {
    const auto ls = static_cast<std::size_t>(l);
    // The test samples in use: those the file holds, inside the window.
    const std::int32_t lo = std::max(d.test_first[ls], std::max(d.ismin, d.window.isminext));
    const std::int32_t hi = std::min(d.test_last[ls], std::min(d.ismax, d.window.ismaxext));
    const float lof = static_cast<float>(lo);
    const float hif = static_cast<float>(hi);
    float* a2 = d.a2.row(l);
    float* p2 = d.p2.row(l);
    const auto ac = rows.cos_row(l);
    const auto as = rows.sin_row(l);
    std::int32_t first = d.ismax + 1, last = d.ismin - 1;
    for (std::int32_t k = d.ismin; k <= d.ismax; ++k) {
      const auto t = static_cast<std::size_t>(k - d.ismin);
      const float src = sources[t];
      if (!(src >= lof && src <= hif)) {
        a2[k] = 0.0f;
        p2[k] = 0.0f;
        continue;
      }
      const std::int32_t j = below[t];
      const std::int32_t j1 = j < hi ? j + 1 : j;  // at j = hi the source is exactly sample hi
      const float rbit = rbits[t];
      const float rbar = 1.0f - rbit;
      const float ap = ac[j] * rbar + ac[j1] * rbit;
      const float bp = as[j] * rbar + as[j1] * rbit;
      store.put(a2, p2, k, ap, bp);
      if (first > k) first = k;
      last = k;
    }
    store.end_line(a2, p2);
    // The source grows with k, so the present targets are one run.
    d.a2_first[ls] = first;
    d.a2_last[ls] = last;
  }
}

// The truncated rule; rows as above.
template <typename Store, typename Rows>
void rescale_walk(DataSets& d, float rsc, Store& store, const Rows& rows) {
  check_scale(rsc);
  for (std::int32_t l = 1; l <= d.llmax; ++l)
    for (std::int32_t ir = d.ismin; ir <= d.ismax; ++ir) {
      d.a2.at(l, ir) = 0.0f;
      d.p2.at(l, ir) = 0.0f;
    }
  const float dsr = d.dsr;
  const float ds = dsr / rsc;
  const float beyond = static_cast<float>(d.ismax) + 1.0f;  // first index past the samples
  for (std::int32_t l = 1; l <= d.llmax; ++l) {
    float* a2 = d.a2.row(l);
    float* p2 = d.p2.row(l);
    const auto ac = rows.cos_row(l);
    const auto as = rows.sin_row(l);
    // The walk starts at the radius value ismin, i.e. at the fractional sample index ismin/dsr + 1.
    float rs = static_cast<float>(d.ismin);
    for (;;) {
      const float rrs = rs / dsr + 1.0f;  // fractional sample index in the test data
      const float irf = rrs + 0.1f;
      if (!(irf < beyond)) break;  // ir = integer part of irf would exceed ismax: the layer line is done
      const std::int32_t ir = static_cast<std::int32_t>(irf);
      const float rbit = rrs - static_cast<float>(ir);
      const float rbar = 1.0f - rbit;
      const float ap = ac[ir] * rbar + ac[ir + 1] * rbit;
      const float bp = as[ir] * rbar + as[ir + 1] * rbit;
      // The target index comes from the integer ir, not from rrs. Targets never decrease along
      // the walk, so once one lies above ismax every later one does too.
      const float target = static_cast<float>(ir - 1) * dsr * rsc / dsr + 1.1f;
      if (!(target < beyond)) break;
      const std::int32_t irs = static_cast<std::int32_t>(target);
      store.put(a2, p2, irs, ap, bp);
      const float next = rs + ds;
      if (!(next > rs))
        throw RunStop{"radial scale " + records::free_real(rsc) + " is too large for the sampling interval " +
                      records::free_real(dsr) + ": the rescaling walk along layer line " + std::to_string(l) +
                      " cannot advance"};
      rs = next;
    }
    store.end_line(a2, p2);
    // Every target the test file holds is compared, whether the walk reached it or not; the
    // others are absent.
    const auto ls = static_cast<std::size_t>(l);
    const std::int32_t first = std::max(d.ismin, d.test_first[ls]);
    const std::int32_t last = std::min(d.ismax, d.test_last[ls]);
    for (std::int32_t k = d.ismin; k <= d.ismax; ++k)
      if (k < first || k > last) {
        a2[k] = 0.0f;
        p2[k] = 0.0f;
      }
    d.a2_first[ls] = first;
    d.a2_last[ls] = last;
  }
}

template <typename Store, typename Rows>
void rescale_by(DataSets& d, float rsc, RescaleRule rule, Store& store, const Rows& rows) {
  if (rule == RescaleRule::truncated)
    rescale_walk(d, rsc, store, rows);
  else
    rescale_interpolated(d, rsc, store, rows);
}

}  // namespace

void rescale_test(DataSets& d, float rsc, RescaleRule rule) {
  LibraryStore store;
  rescale_by(d, rsc, rule, store, LibraryRows{&d});
}

void rescale_test(DataSets& d, float rsc, RescaleRule rule, const Table& ac, const Table& as, phaselanes::Level level) {
  BatchedStore store(rounded_batch_for(level), d.ismax + 2);
  rescale_by(d, rsc, rule, store, TabledRows{&ac, &as});
}

void test_phase_tables(const DataSets& d, Table& ac, Table& as) {
  ac.reset(d.p1.rows(), d.p1.cols());
  as.reset(d.p1.rows(), d.p1.cols());
  for (std::int32_t l = 1; l <= d.p1.rows(); ++l)
    for (std::int32_t j = 0; j < d.p1.cols(); ++j) {
      ac.at(l, j) = d.a1.at(l, j) * cos_d(d.p1.at(l, j) / deg);
      as.at(l, j) = d.a1.at(l, j) * sin_d(d.p1.at(l, j) / deg);
    }
}

}  // namespace curvematch
