// File names for objects whose names come from the broadcast.
//
// A binding id is whatever a carousel sends, so it is treated as hostile: it may be empty, ".", "..",
// hold a '/', control bytes or bytes that are not UTF-8. Such an id is written in an escaped form that
// always names one entry inside the directory being written:
//
//   - '%' becomes "%25" and '/' becomes "%2F";
//   - C0 control bytes (0x00-0x1F), DEL (0x7F) and the C1 controls U+0080-U+009F become "%XX" per byte;
//   - every byte that is not part of a well-formed UTF-8 sequence (stray continuation bytes, truncated
//     or overlong sequences, surrogates, code points above U+10FFFF) becomes "%XX";
//   - the whole name "." becomes "%2E" and ".." becomes "%2E%2E";
//   - the empty id becomes "%00" (an id is cut at its first zero byte, so no id holds one).
// XX is two upper-case hexadecimal digits. Everything else, other UTF-8 text included, is kept as sent,
// so an ordinary name is written unchanged and every name that was not cut (below) decodes back to
// its id.
//
// A name longer than kMaxEscapedName bytes (the file system's limit) once escaped is cut, never inside
// an escape or a UTF-8 sequence; a final extension of up to kKeptExtension bytes (".js", ".html") is
// kept and the part in front of it is cut.
//
// Two bindings whose names come out equal in one directory (the same id bound twice, or two long ids
// cut to the same prefix) do not overwrite each other: the first keeps the name and every later one
// gets the suffix "%~N" with the smallest N from 1 up that is still free, the name in front of it cut
// as above where the suffix would pass the limit. An escaped name never holds "%~" ('%' is always
// followed by two hexadecimal digits there), so a suffixed name cannot collide with the name of another
// binding. Temporary files use the prefix "%tmp." for the same reason.
//
// Every name the save writes otherwise than it was sent is listed with the id beside it (renamed.txt);
// listed_binding_id gives the id as it is listed there.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <string_view>

namespace save {

inline constexpr size_t kMaxEscapedName = 255;
inline constexpr size_t kKeptExtension = 32;

// The escaped file name of a binding id (see above).
std::string escape_binding_id(std::string_view id);

// The id as sent, for a listing of one name a line: bytes of well-formed UTF-8 text stay as they are;
// a control byte, a backslash or a byte outside well-formed UTF-8 becomes "\xNN" (lower-case hex).
std::string listed_binding_id(std::string_view id);

// The names already taken in one directory during one save.
class NameClaims {
 public:
  // Takes `name`, or when it is taken already the first free "name%~N". `suffixed` tells which.
  std::string claim(const std::string& name, bool* suffixed = nullptr);
  bool taken(const std::string& name) const { return names_.count(name) != 0; }

 private:
  std::set<std::string> names_;
};

}  // namespace save
