// The DownloadInfoIndication decoder on arbitrary message bytes.
//
// Beyond "no crash": an accepted DII holds exactly numberOfModules entries, each module's info and
// the private data are views of the announced sizes inside the message, and the fields account for
// no more bytes than the message has.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "dsmcc/messages.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  const std::vector<uint8_t> copy(data, data + size);
  const ByteView message(copy);

  CDownloadInfoIndication dii;
  if (!dii.Parse(message)) return 0;

  const DsmccMessageHeader& h = dii.header;
  FUZZ_CHECK(h.body_offset == 12 + h.adaptationLength);
  FUZZ_CHECK(fuzz::view_inside(h.adaptation, message));
  FUZZ_CHECK(dii.modules.size() == dii.numberOfModules);
  size_t used = h.body_offset + 20;  // fixed body fields, compatibilityDescriptorLength, numberOfModules
  for (const Module& module : dii.modules) {
    FUZZ_CHECK(module.moduleInfo.size() == module.moduleInfoLength);
    FUZZ_CHECK(fuzz::view_inside(module.moduleInfo, message));
    FUZZ_CHECK(module.moduleId <= 0xFFFF && module.moduleVersion <= 0xFF);
    used += 8 + module.moduleInfoLength;
  }
  FUZZ_CHECK(dii.privateData.size() == dii.privateDataLength);
  FUZZ_CHECK(fuzz::view_inside(dii.privateData, message));
  used += 2 + dii.privateDataLength;
  FUZZ_CHECK(used <= message.size());
  // The entries follow each other without gaps or overlaps.
  for (size_t i = 1; i < dii.modules.size(); ++i) {
    const auto& before = dii.modules[i - 1];
    FUZZ_CHECK(before.moduleInfo.data() + before.moduleInfo.size() + 8 == dii.modules[i].moduleInfo.data());
  }

  // The same bytes decode to the same DII a second time: nothing of the first run is kept over.
  CDownloadInfoIndication again;
  FUZZ_CHECK(again.Parse(message));
  FUZZ_CHECK(again.downloadId == dii.downloadId && again.modules.size() == dii.modules.size());
  return 0;
}
