// layermean's alignment table reader, then its point-list buffer reader and the averaging of
// what was read, with CTF weights where a row gives a defocus: input "table %% data file".
#include <string>

#include "fuzzsupport.hpp"
#include "layerline/pointlist.hpp"
#include "layermean/average.hpp"
#include "layermean/table.hpp"
#include "records/error.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> p = fuzzsupport::parts(data, size, 2);
  try {
    const layermean::Table t = layermean::read_table(p[0], "fuzz.tsv");
    const std::vector<layerline::Block> blocks =
        layerline::read_point_list(p[1], "fuzz.dat", layerline::EndOfBlockRule::RadiusZero);
    // Rows that give a defocus are weighted by their CTF, as --ctf does.
    layermean::Averager avg(100.0f, t.rows.size() % 2 ? 0.002f : 0.0f, 0.1f);
    for (const layermean::Row& r : t.rows) {
      layermean::Placement place{r.phi, r.z, r.rscale, r.far, r.weight, r.half};
      place.opposite = r.opposite;
      if (r.has_defocus) {
        place.has_ctf = true;
        place.ctf.defocus_u = r.defocus_u, place.ctf.defocus_v = r.defocus_v, place.ctf.angle = r.defocus_angle;
      }
      avg.add(r.file, blocks, place);
    }
    (void)layermean::mean_of(avg.sums(), avg.wiener());
  } catch (const records::ReadError&) {
  }
  return 0;
}
