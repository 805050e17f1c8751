// A plain per-user registry file in which plug-in modules register their classes and hosts find them.
//
// The file lists keys in brackets, each followed by its values as name=value lines ("@" names a key's
// default value). Keys are case-sensitive paths with "\" between their parts.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace contract {

class Registry {
 public:
  // $XDG_CONFIG_HOME/dsmcc/registry.ini, or ~/.config/dsmcc/registry.ini.
  static std::string default_path();

  explicit Registry(std::string path = default_path());

  // Reads the file; a missing file is an empty registry. False (with error()) when it cannot be read.
  bool load();
  // Writes the whole registry through a temporary file renamed over the old one, so a reader never
  // sees half a file. False (with error()) on failure.
  bool save() const;
  const std::string& error() const { return error_; }
  const std::string& path() const { return path_; }

  void set_value(const std::string& key, const std::string& name, const std::string& value);
  std::optional<std::string> value(const std::string& key, const std::string& name = "@") const;
  bool has_key(const std::string& key) const;
  // Removes the key and every key below it.
  void delete_tree(const std::string& key);
  // The names of the keys directly below key, in order.
  std::vector<std::string> subkeys(const std::string& key) const;

 private:
  std::string path_;
  mutable std::string error_;
  std::map<std::string, std::map<std::string, std::string>> keys_;
};

}  // namespace contract
