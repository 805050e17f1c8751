// The DownloadInfoIndication decoder on arbitrary message bytes. An accepted DII holds exactly
// numberOfModules entries whose info lies inside the message, and decodes the same a second time.
#include "dsmcc/messages.h"
#include "fuzz/fuzz_support.h"

using namespace dsmcc;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  const std::vector<uint8_t> copy(data, data + size);
  CDownloadInfoIndication dii, again;
  if (!dii.Parse(bytes::ByteView(copy))) return 0;
  FUZZ_CHECK(dii.modules.size() == dii.numberOfModules && fuzz::view_inside(dii.privateData, copy));
  for (const Module& module : dii.modules)
    FUZZ_CHECK(module.moduleInfo.size() == module.moduleInfoLength && fuzz::view_inside(module.moduleInfo, copy));
  FUZZ_CHECK(again.Parse(bytes::ByteView(copy)) && again.modules.size() == dii.modules.size());
  return 0;
}
