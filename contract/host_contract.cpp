#include "contract/host_contract.h"

#include <cstdio>
#include <cstdlib>

std::string iid_to_string(const IID& id) {
  char text[64];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", id.data1, id.data2,
                id.data3, id.data4[0], id.data4[1], id.data4[2], id.data4[3], id.data4[4], id.data4[5],
                id.data4[6], id.data4[7]);
  return text;
}

void* task_alloc(size_t size) { return std::malloc(size ? size : 1); }
void task_free(void* p) { std::free(p); }
