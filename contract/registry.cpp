#include "contract/registry.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace contract {

namespace {

bool make_dirs(const std::string& dir) {
  if (dir.empty()) return true;
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  auto slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !make_dirs(dir.substr(0, slash))) return false;
  return ::mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST;
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

}  // namespace

std::string Registry::default_path() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg && *xdg == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : ".") + "/.config";
  }
  return base + "/dsmcc/registry.ini";
}

Registry::Registry(std::string path) : path_(std::move(path)) {}

bool Registry::load() {
  keys_.clear();
  std::ifstream in(path_);
  if (!in) {
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) return true;  // no file yet: nothing registered
    error_ = "cannot read " + path_ + ": " + std::strerror(errno);
    return false;
  }
  std::string line, key;
  while (std::getline(in, line)) {
    line = trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      key = line.substr(1, line.size() - 2);
      keys_[key];
      continue;
    }
    auto eq = line.find('=');
    if (key.empty() || eq == std::string::npos) continue;  // a stray line is skipped, not fatal
    keys_[key][trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
  }
  return true;
}

bool Registry::save() const {
  auto slash = path_.find_last_of('/');
  if (slash != std::string::npos && !make_dirs(path_.substr(0, slash))) {
    error_ = "cannot create the folder of " + path_ + ": " + std::strerror(errno);
    return false;
  }
  std::string temp = path_ + ".tmp." + std::to_string(::getpid());
  {
    std::ofstream out(temp, std::ios::trunc);
    if (!out) {
      error_ = "cannot write " + temp + ": " + std::strerror(errno);
      return false;
    }
    for (const auto& [key, values] : keys_) {
      out << '[' << key << "]\n";
      for (const auto& [name, value] : values) out << name << '=' << value << '\n';
      out << '\n';
    }
    out.flush();
    if (!out) {
      error_ = "cannot write " + temp;
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path_.c_str()) != 0) {
    error_ = "cannot replace " + path_ + ": " + std::strerror(errno);
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

void Registry::set_value(const std::string& key, const std::string& name, const std::string& value) {
  keys_[key][name] = value;
}

std::optional<std::string> Registry::value(const std::string& key, const std::string& name) const {
  auto k = keys_.find(key);
  if (k == keys_.end()) return std::nullopt;
  auto v = k->second.find(name);
  if (v == k->second.end()) return std::nullopt;
  return v->second;
}

bool Registry::has_key(const std::string& key) const { return keys_.count(key) != 0; }

void Registry::delete_tree(const std::string& key) {
  std::string prefix = key + "\\";
  for (auto it = keys_.begin(); it != keys_.end();) {
    if (it->first == key || it->first.compare(0, prefix.size(), prefix) == 0)
      it = keys_.erase(it);
    else
      ++it;
  }
}

std::vector<std::string> Registry::subkeys(const std::string& key) const {
  std::vector<std::string> names;
  std::set<std::string> unique;
  std::string prefix = key + "\\";
  for (const auto& [k, values] : keys_) {
    if (k.compare(0, prefix.size(), prefix) != 0) continue;
    std::string first = k.substr(prefix.size());
    first = first.substr(0, first.find('\\'));
    if (!first.empty()) unique.insert(first);
  }
  names.assign(unique.begin(), unique.end());
  return names;
}

}  // namespace contract
