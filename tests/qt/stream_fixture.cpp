#include "tests/qt/stream_fixture.h"

#include <fstream>

#include "tests/support/oc_builder.h"
#include "tests/support/psi_builder.h"
#include "tests/support/ts_builder.h"

namespace qttest {

SyntheticMultiplex write_synthetic_multiplex(const std::string& dir) {
  using namespace testsupport;
  SyntheticMultiplex mux;
  mux.path = dir + "/synthetic-multiplex.ts";
  mux.index_html = "<html><body>carousel</body></html>";
  mux.readme = "read me first";
  mux.logo = pattern_bytes(3000, 7);

  OcCarousel oc(SyntheticMultiplex::kCarouselId);
  const OcCarousel::Object apps = oc.add_directory(oc.gateway(), "apps", 1);
  oc.add_file(apps, "index.html", text_bytes(mux.index_html), 1);
  oc.add_file(apps, "logo.png", mux.logo, 2);
  oc.add_file(oc.gateway(), "readme.txt", text_bytes(mux.readme), 1);

  const Bytes pat = pat_section(1, {{0, 0x10}, {1, 0x100}, {2, 0x101}});
  const Bytes pmt1 = pmt_section(
      1, 0x1FFF, {},
      {{0x0B, SyntheticMultiplex::kCarouselPid, carousel_id_descriptor(SyntheticMultiplex::kCarouselId)},
       {0x06, 0x300, data_broadcast_id_descriptor(0x00F0)}});
  const Bytes pmt2 = pmt_section(
      2, 0x1FFF, {}, {{0x0B, SyntheticMultiplex::kSecondPid, data_broadcast_id_descriptor(0x00F0)}});

  Packetizer ts;
  for (int i = 0; i < 3; ++i) {
    ts.add_section(0x0000, pat);
    ts.add_section(0x0100, pmt1);
    ts.add_section(0x0101, pmt2);
    ts.add_sections(SyntheticMultiplex::kCarouselPid, oc.sections());
  }
  std::ofstream out(mux.path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(ts.stream().data()),
            static_cast<std::streamsize>(ts.stream().size()));
  mux.mux_entries = {"Prg 0x0001 PID 0x0200", "Prg 0x0002 PID 0x0201"};
  return mux;
}

}  // namespace qttest
