// File names made from binding ids: the escaped form of hostile ids and the suffix on collisions.
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

std::string repeated(const std::string& piece, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

struct EscapeCase {
  const char* what;
  std::string id;
  std::string name;
};

TEST(EscapeBindingId, HostileAndOrdinaryIds) {
  const std::vector<EscapeCase> cases = {
      {"ordinary name kept", "index.html", "index.html"},
      {"name with spaces and punctuation kept", "KeyPad$Key (1).class", "KeyPad$Key (1).class"},
      {"query-like name kept", "sample8?parameter=foo", "sample8?parameter=foo"},
      {"empty id", "", "%00"},
      {"dot", ".", "%2E"},
      {"dot dot", "..", "%2E%2E"},
      {"three dots are an ordinary name", "...", "..."},
      {"leading dot kept", ".hidden", ".hidden"},
      {"slash", "a/b", "a%2Fb"},
      {"climbing path", "../../etc/passwd", "..%2F..%2Fetc%2Fpasswd"},
      {"lone slash", "/", "%2F"},
      {"percent escaped so that escapes stay unambiguous", "100%", "100%25"},
      {"text that looks escaped", "a%2Fb", "a%252Fb"},
      {"newline and tab", "a\nb\tc", "a%0Ab%09c"},
      {"control bytes", std::string("\x01\x1f", 2), "%01%1F"},
      {"delete", "x\x7f", "x%7F"},
      {"two-byte UTF-8 kept", "caf\xc3\xa9", "caf\xc3\xa9"},
      {"three-byte UTF-8 kept", "\xe2\x82\xac", "\xe2\x82\xac"},
      {"four-byte UTF-8 kept", "\xf0\x9f\x93\xba.png", "\xf0\x9f\x93\xba.png"},
      {"C1 control NEL", "a\xc2\x85", "a%C2%85"},
      {"first character above the C1 controls kept", "\xc2\xa0", "\xc2\xa0"},
      {"stray continuation byte", "\x80x", "%80x"},
      {"byte never used in UTF-8", "\xff\xfe.bin", "%FF%FE.bin"},
      {"truncated sequence at the end", "ab\xc3", "ab%C3"},
      {"truncated sequence before ASCII", "\xe2\x82z", "%E2%82z"},
      {"overlong slash", "\xc0\xaf", "%C0%AF"},
      {"overlong three-byte form", "\xe0\x80\xaf", "%E0%80%AF"},
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
      {"exactly at the limit", std::string(kMaxEscapedName, 'a'), std::string(kMaxEscapedName, 'a')},
      {"one over the limit", std::string(kMaxEscapedName + 1, 'a'), std::string(kMaxEscapedName, 'a')},
      {"escapes are not split", "a" + std::string(100, '/'), "a" + repeated("%2F", 66)},
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

TEST(NameClaims, LaterEqualNamesGetTheNextFreeSuffix) {
  struct Step {
    std::string wanted;
    std::string got;
    bool suffixed;
  };
  const std::vector<Step> steps = {
      {"a", "a", false},
      {"a", "a%~1", true},
      {"b", "b", false},
      {"a", "a%~2", true},
      {"missing.txt", "missing.txt", false},
      {"missing.txt", "missing.txt%~1", true},
  };
  NameClaims claims;
  for (const auto& step : steps) {
    bool suffixed = !step.suffixed;
    EXPECT_EQ(claims.claim(step.wanted, &suffixed), step.got) << step.wanted;
    EXPECT_EQ(suffixed, step.suffixed) << step.wanted;
    EXPECT_TRUE(claims.taken(step.got));
  }
  EXPECT_FALSE(claims.taken("c"));
}

TEST(NameClaims, CutNamesThatComeOutEqualStayApart) {
  const std::string first = escape_binding_id(std::string(230, 'x') + "1");
  const std::string second = escape_binding_id(std::string(230, 'x') + "2");
  ASSERT_EQ(first, second);
  NameClaims claims;
  EXPECT_EQ(claims.claim(first), std::string(kMaxEscapedName, 'x'));
  EXPECT_EQ(claims.claim(second), std::string(kMaxEscapedName, 'x') + "%~1");
}

}  // namespace
