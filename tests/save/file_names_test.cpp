// How a name from the broadcast becomes a file name that stays in its directory and reads back.
#include "save/file_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace save;

namespace {

struct EscapeCase {
  const char* what;
  std::string id;
  std::string name;
};

TEST(EscapeBindingId, HostileAndOrdinaryIds) {
  const std::vector<EscapeCase> cases = {
      {"ordinary name kept", "index.html", "index.html"},
      {"slash escaped", "a/b", "a%2Fb"},
      {"dot names escaped", "..", "%2E%2E"},
      {"query-like name kept", "sample8?parameter=foo", "sample8?parameter=foo"},
      {"leading dot kept", ".hidden", ".hidden"},
      {"percent escaped so that escapes stay unambiguous", "100%", "100%25"},
      {"text that looks escaped", "a%2Fb", "a%252Fb"},
      {"delete", "x\x7f", "x%7F"},
      {"two-byte UTF-8 kept", "caf\xc3\xa9", "caf\xc3\xa9"},
      {"four-byte UTF-8 kept", "\xf0\x9f\x93\xba.png", "\xf0\x9f\x93\xba.png"},
      {"C1 control NEL", "a\xc2\x85", "a%C2%85"},
      {"first character above the C1 controls kept", "\xc2\xa0", "\xc2\xa0"},
      {"stray continuation byte", "\x80x", "%80x"},
      {"truncated sequence at the end", "ab\xc3", "ab%C3"},
      {"overlong slash", "\xc0\xaf", "%C0%AF"},
      {"surrogate", "\xed\xa0\x80", "%ED%A0%80"},
      {"above U+10FFFF", "\xf4\x90\x80\x80", "%F4%90%80%80"},
      {"highest code point kept", "\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},
  };
  for (const auto& c : cases) EXPECT_EQ(escape_binding_id(c.id), c.name) << c.what;
}

}  // namespace
