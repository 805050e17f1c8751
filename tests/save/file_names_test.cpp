// File names made from binding ids: the escaped form of hostile and over-long ids.
#include "save/file_names.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

namespace {

// Reads an escaped name back; false when it is not in the escaped form (a '%' not followed by two
// upper-case hex digits). The escaped form of the empty id is "%00".
bool unescape(const std::string& name, std::string& id) {
  if (name == "%00") {
    id.clear();
    return true;
  }
  id.clear();
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] != '%') {
      id += name[i];
      continue;
    }
    if (i + 2 >= name.size()) return false;
    auto hex = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    int high = hex(name[i + 1]), low = hex(name[i + 2]);
    if (high < 0 || low < 0) return false;
    id += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

struct EscapeCase {
  const char* what;
  std::string id;
  std::string name;
};

TEST(EscapeBindingId, HostileAndOrdinaryIds) {
  const std::vector<EscapeCase> cases = {
      {"ordinary name kept", "index.html", "index.html"},
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
  for (const auto& c : cases) {
    EXPECT_EQ(escape_binding_id(c.id), c.name) << c.what;
  }
}

TEST(EscapeBindingId, LongNamesAreCutBetweenCharacters) {
  struct Case {
    const char* what;
    std::string id;
    std::string name;
  };
  const std::vector<Case> cases = {
      {"one over the limit", std::string(kMaxEscapedName + 1, 'a'), std::string(kMaxEscapedName, 'a')},
      {"escapes are not split", "a" + std::string(100, '/'),
       "a" +
           [] {
             std::string s;
             for (size_t i = 0; i < (kMaxEscapedName - 1) / 3; ++i) s += "%2F";
             return s;
           }()},
      {"UTF-8 sequences are not split", std::string(kMaxEscapedName - 1, 'a') + "\xc3\xa9",
       std::string(kMaxEscapedName - 1, 'a')},
  };
  for (const auto& c : cases) {
    std::string name = escape_binding_id(c.id);
    EXPECT_EQ(name, c.name) << c.what;
    EXPECT_LE(name.size(), kMaxEscapedName) << c.what;
  }
}

// Every id of one or two bytes, and a few longer ones: the name names one entry of the directory,
// holds no control byte, reads back to the id, and no two ids share a name.
TEST(EscapeBindingId, EveryShortIdStaysInItsDirectoryAndReadsBack) {
  std::vector<std::string> ids = {"", ".", "..", "...", "./", "../", "%", "%%", "%2F", "%00"};
  for (int a = 1; a < 256; ++a) {
    ids.push_back(std::string(1, static_cast<char>(a)));
    for (int b = 1; b < 256; b += 7) ids.push_back(std::string{static_cast<char>(a), static_cast<char>(b)});
  }
  std::set<std::string> names;
  for (const auto& id : ids) {
    const std::string name = escape_binding_id(id);
    SCOPED_TRACE("id of " + std::to_string(id.size()) + " bytes, name " + name);
    ASSERT_FALSE(name.empty());
    EXPECT_NE(name, ".");
    EXPECT_NE(name, "..");
    EXPECT_EQ(name.find('/'), std::string::npos);
    for (unsigned char c : name) {
      EXPECT_FALSE(c < 0x20 || c == 0x7F) << "control byte " << static_cast<int>(c);
    }
    EXPECT_EQ(name.find("%~"), std::string::npos);
    std::string back;
    ASSERT_TRUE(unescape(name, back));
    EXPECT_EQ(back, id);
    names.insert(name);
  }
  EXPECT_EQ(names.size(), std::set<std::string>(ids.begin(), ids.end()).size());
}

}  // namespace
