#include "gridscan/control.hpp"

#include "records/error.hpp"
#include "records/forms.hpp"
#include "records/free.hpp"

namespace gridscan {

void read_control_head(records::LineSource& src, Control& c) {
  {
    records::FreeRecord rec(src);
    c.llmax = rec.integer("llmax (control record 1)");
    c.recc = rec.real("recc (control record 1)");
    c.delbr = rec.real("delbr (control record 1)");
    c.iprint = rec.integer("iprint (control record 1)");
  }
  c.llmax_read = c.llmax;
  if (c.llmax > llcap) c.llmax = llcap;
  if (c.llmax < 1)
    throw records::ReadError(src.name(), src.line(), 0, 0,
                             "llmax = " + std::to_string(c.llmax) + ": at least one layer line must be compared");
  if (!(c.delbr > 0.0f))
    throw records::ReadError(src.name(), src.line(), 0, 0,
                             "delbr = " + records::free_real(c.delbr) + ": the radial grid step must be positive");
  if (!(c.recc > 0.0f))
    throw records::ReadError(src.name(), src.line(), 0, 0,
                             "recc = " + records::free_real(c.recc) +
                                 ": the reciprocal of the helical repeat must be positive; the axial shift of "
                                 "every trial is measured in it");
  records::FreeRecord rec(src);
  for (std::int32_t l = 1; l <= c.llmax; ++l)
    c.wtv[static_cast<std::size_t>(l - 1)] =
        rec.real("weight " + std::to_string(l) + " of " + std::to_string(c.llmax) + " (control record 2)");
}

void read_control_tail(records::LineSource& src, Control& c) {
  c.title = src.expect("the title (control record 3)").text(1, 80);
  records::FreeRecord rec(src);
  c.iside = rec.integer("iside (control record 4)");
  c.ipole = rec.integer("ipole (control record 4)");
}

}  // namespace gridscan
