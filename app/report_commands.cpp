#include "text/printed.h"
#include "app/report_commands.h"

#include <cstdarg>
#include <cstdio>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "app/cli.h"
#include "ui/headless/tree_render.h"

namespace app {

namespace {

using namespace health;
using ui::headless::json_string;

const char* severity_text(Severity s) { return s == Severity::error ? "error" : "warning"; }

std::string place_text(const Place& p) {
  std::string out = p.programme ? text::printed("prg 0x%04x", *p.programme) : "capture";
  if (p.pid) out += text::printed(" pid 0x%04x", *p.pid);
  if (p.download && p.download != p.carousel) out += text::printed(" download 0x%08x", *p.download);
  if (p.carousel) out += text::printed(" carousel 0x%08x", *p.carousel);
  if (p.module) out += text::printed(" module 0x%04x", *p.module);
  if (!p.path.empty()) out += " " + p.path;
  return out;
}

std::string carousel_text(const CarouselDescription& c) {
  std::string out = text::printed("prg 0x%04x download 0x%08x", c.programme, c.downloadId);
  if (c.carouselId) out += text::printed(" (object carousel 0x%08x)", *c.carouselId);
  return out;
}

void json_number(std::string& out, const char* name, uint64_t value) {
  out += text::printed(",\"%s\":%llu", name, static_cast<unsigned long long>(value));
}

std::string list_text(const std::vector<uint32_t>& values) {
  std::string out;
  for (uint32_t v : values) out += (out.empty() ? "" : ", ") + text::printed("0x%08x", v);
  return out.empty() ? "none" : out;
}

std::string versions_text(const std::vector<uint32_t>& transactions) {
  std::set<uint32_t> versions;
  for (uint32_t t : transactions) versions.insert(transaction_version(t));
  std::string out;
  for (uint32_t v : versions) out += (out.empty() ? "" : ", ") + text::printed("%u", v);
  return out.empty() ? "none" : out;
}

// One line of differences under a carousel: what (module 0x0001, file /a), how it changed, details.
struct Change {
  std::string subject;
  std::string change;  // added, removed, changed
  std::vector<std::string> details;
};

template <typename T>
void detail(std::vector<std::string>& out, const char* name, const T& a, const T& b,
            std::string (*show)(const T&)) {
  if (!(a == b)) out.push_back(std::string(name) + " " + show(a) + " -> " + show(b));
}

std::string show_u32(const uint32_t& v) { return text::printed("%u", v); }
std::string show_bytes(const uint64_t& v) {
  return text::printed("%llu bytes", static_cast<unsigned long long>(v));
}

std::vector<std::string> module_details(const ModuleDescription& a, const ModuleDescription& b) {
  std::vector<std::string> out;
  if (a.announced != b.announced) out.push_back(a.announced ? "no longer announced" : "now announced");
  detail(out, "version", a.version, b.version, show_u32);
  detail(out, "size", a.size, b.size, show_u32);
  if (a.blocks_received != b.blocks_received || a.blocks_expected != b.blocks_expected)
    out.push_back(text::printed("blocks %u/%u -> %u/%u", a.blocks_received, a.blocks_expected,
                                b.blocks_received, b.blocks_expected));
  if (a.complete != b.complete)
    out.push_back(a.complete ? "complete -> incomplete" : "incomplete -> complete");
  if (a.complete && b.complete) {
    if (a.image_size != b.image_size || a.image_digest != b.image_digest) out.push_back("image bytes differ");
    if (a.inflated || b.inflated) detail(out, "inflated size", a.inflated_size, b.inflated_size, show_bytes);
  }
  return out;
}

std::vector<std::string> object_details(const ObjectDescription& a, const ObjectDescription& b) {
  std::vector<std::string> out;
  if (a.directory != b.directory) out.push_back(a.directory ? "directory -> file" : "file -> directory");
  if (a.available != b.available)
    out.push_back(a.available ? "available -> not available" : "not available -> available");
  if (!a.directory && !b.directory && a.available && b.available) {
    detail(out, "size", a.size, b.size, show_bytes);
    if (a.digest != b.digest) out.push_back("content differs");
  }
  return out;
}

std::string object_subject(const ObjectDescription& o) {
  return (o.directory ? "directory " : "file ") + o.path;
}

void control_change(std::vector<Change>& changes, const char* subject, const std::vector<uint32_t>& a,
                    const std::vector<uint32_t>& b) {
  if (a == b) return;
  Change change{subject, "changed", {}};
  if (versions_text(a) != versions_text(b))
    change.details.push_back("versions " + versions_text(a) + " -> " + versions_text(b));
  change.details.push_back("transactionIds " + list_text(a) + " -> " + list_text(b));
  changes.push_back(std::move(change));
}

std::vector<Change> carousel_changes(const CarouselDescription& a, const CarouselDescription& b) {
  std::vector<Change> changes;
  control_change(changes, "DSI", a.dsi_transactions, b.dsi_transactions);
  control_change(changes, "DII", a.dii_transactions, b.dii_transactions);

  std::map<uint32_t, std::pair<const ModuleDescription*, const ModuleDescription*>> modules;
  for (const auto& m : a.modules) modules[m.moduleId].first = &m;
  for (const auto& m : b.modules) modules[m.moduleId].second = &m;
  for (const auto& [id, pair] : modules) {
    const std::string subject = text::printed("module 0x%04x", id);
    if (!pair.first) {
      changes.push_back({subject,
                         "added",
                         {text::printed("version %u, size %u", pair.second->version, pair.second->size)}});
    } else if (!pair.second) {
      changes.push_back({subject, "removed", {}});
    } else if (auto details = module_details(*pair.first, *pair.second); !details.empty()) {
      changes.push_back({subject, "changed", std::move(details)});
    }
  }

  std::map<std::string, std::pair<const ObjectDescription*, const ObjectDescription*>> objects;
  for (const auto& o : a.objects) objects[o.path].first = &o;
  for (const auto& o : b.objects) objects[o.path].second = &o;
  for (const auto& [path, pair] : objects) {
    if (!pair.first) {
      const ObjectDescription& o = *pair.second;
      changes.push_back({object_subject(o), "added",
                         o.directory
                             ? std::vector<std::string>{}
                             : std::vector<std::string>{o.available ? show_bytes(o.size) : "not available"}});
    } else if (!pair.second) {
      changes.push_back({object_subject(*pair.first), "removed", {}});
    } else if (auto details = object_details(*pair.first, *pair.second); !details.empty()) {
      changes.push_back({object_subject(*pair.second), "changed", std::move(details)});
    }
  }
  return changes;
}

}  // namespace

std::string check_help_text() {
  return "usage: dsmcc check SOURCE [--pair PRG:PID]... [--all] [--json] [--duration SECONDS] [--tuner-type "
         "N]\n"
         "\n"
         "Captures as capture does, then checks every carousel of the capture and prints one finding a "
         "line:\n"
         "its severity (error or warning), where it lies (programme, PID, downloadId or carouselId, module,\n"
         "path of the object), what is wrong, and what was expected against what was found; then a summary.\n"
         "Checked: each module's image, blocks and versions against its DII; DSI and DII versions that\n"
         "changed during the capture; compression (descriptor 0x09) against what the module holds; BIOP\n"
         "message sizes, file sizes and object kinds; every name from the service gateway down (dangling\n"
         "references, directories bound twice, a service gateway that is not found). The pages, the log and\n"
         "the counters stay as capture leaves them.\n"
         "\n"
         "options:\n"
         "  --pair PRG:PID     capture PID under programme PRG, as for capture; repeatable\n"
         "  --all              capture every entry of the \"MUX DSMCC streams\" list, as for capture\n"
         "  --json             the findings and the summary as one JSON object: {\"findings\": "
         "[{\"severity\",\n"
         "                     \"code\", \"programme\", \"pid\", \"downloadId\", \"carouselId\", \"module\", "
         "\"path\",\n"
         "                     \"what\", \"expected\", \"found\"}], \"summary\": {...}}; a field that does "
         "not apply\n"
         "                     is left out\n"
         "  --duration SECONDS end the capture after this many seconds\n"
         "  --tuner-type N     the tuner type the host reports (4 and 8 are refused); default 3\n" +
         app::log_option_help(21) +
         "  -h, --help         this text\n"
         "\n"
         "exit status: 0 when no finding is an error, 3 when one is (a playout check can gate on it), 2 for\n"
         "a usage or input error.\n"
         "\n"
         "examples:\n"
         "  dsmcc check sevent.ts --pair 1:0x138e\n"
         "  dsmcc check multiplex.ts --all --json > findings.json\n";
}

std::string diff_help_text() {
  return "usage: dsmcc diff A B [--pair PRG:PID]... [--all] [--json] [--duration SECONDS] [--tuner-type N]\n"
         "\n"
         "Captures A, then B, each as capture does with the same options, and prints what changed from A to\n"
         "B, carousel by carousel (a carousel is one download group of one programme): DSI and DII "
         "versions;\n"
         "modules added, removed or changed (version, size, blocks, whether the image bytes differ); files\n"
         "and directories added, removed or changed (size, content), by path. Nothing is printed when the\n"
         "carousels are the same.\n"
         "\n"
         "options:\n"
         "  --pair PRG:PID     capture PID under programme PRG in both, as for capture; repeatable\n"
         "  --all              capture every entry of each \"MUX DSMCC streams\" list, as for capture\n"
         "  --json             one JSON object: {\"same\": bool, \"carousels\": [{\"programme\", "
         "\"downloadId\",\n"
         "                     \"change\", \"changes\": [{\"subject\", \"change\", \"details\": [text]}]}]}\n"
         "  --duration SECONDS end each capture after this many seconds\n"
         "  --tuner-type N     the tuner type the host reports (4 and 8 are refused); default 3\n" +
         app::log_option_help(21) +
         "  -h, --help         this text\n"
         "\n"
         "exit status: 0 when the carousels are the same, 1 when they differ, 2 for a usage or input error.\n"
         "\n"
         "example:\n"
         "  dsmcc diff yesterday.ts today.ts --pair 1:0x138e\n";
}

std::string format_check(const CaptureReport& report, bool json) {
  const Summary& s = report.summary;
  if (!json) {
    std::string out;
    for (const Finding& f : report.findings) {
      out += std::string(severity_text(f.severity)) + ": " + place_text(f.where) + ": " + f.what;
      if (!f.expected.empty() || !f.found.empty())
        out += " (expected " + f.expected + ", found " + f.found + ")";
      out += "\n";
    }
    out += text::printed("summary: %u/%u modules complete, %u/%u files resolved, %u errors, %u warnings\n",
                         s.modules_complete, s.modules_total, s.files_resolved, s.files_total, s.errors,
                         s.warnings);
    return out;
  }
  std::string out = "{\"findings\":[";
  for (size_t i = 0; i < report.findings.size(); ++i) {
    const Finding& f = report.findings[i];
    const Place& p = f.where;
    out += i ? ",{" : "{";
    out += "\"severity\":" + json_string(severity_text(f.severity)) + ",\"code\":" + json_string(f.code);
    if (p.programme) json_number(out, "programme", *p.programme);
    if (p.pid) json_number(out, "pid", *p.pid);
    if (p.download) json_number(out, "downloadId", *p.download);
    if (p.carousel) json_number(out, "carouselId", *p.carousel);
    if (p.module) json_number(out, "module", *p.module);
    if (!p.path.empty()) out += ",\"path\":" + json_string(p.path);
    out += ",\"what\":" + json_string(f.what) + ",\"expected\":" + json_string(f.expected) +
           ",\"found\":" + json_string(f.found) + "}";
  }
  out += "],\"summary\":{";
  out += text::printed(
      "\"modules_complete\":%u,\"modules_total\":%u,\"files_resolved\":%u,\"files_total\":%u,"
      "\"errors\":%u,\"warnings\":%u}}\n",
      s.modules_complete, s.modules_total, s.files_resolved, s.files_total, s.errors, s.warnings);
  return out;
}

int check_status(const CaptureReport& report) { return report.summary.errors ? 3 : 0; }

std::string format_diff(const CaptureReport& a, const CaptureReport& b, bool json, bool& same) {
  std::map<std::pair<uint32_t, uint32_t>, std::pair<const CarouselDescription*, const CarouselDescription*>>
      carousels;
  for (const auto& c : a.carousels) carousels[{c.programme, c.downloadId}].first = &c;
  for (const auto& c : b.carousels) carousels[{c.programme, c.downloadId}].second = &c;
  same = true;
  std::string out;
  bool first = true;
  for (const auto& [key, pair] : carousels) {
    const CarouselDescription& shown = pair.second ? *pair.second : *pair.first;
    const char* change = !pair.first ? "added" : !pair.second ? "removed" : "changed";
    const std::vector<Change> changes =
        pair.first && pair.second ? carousel_changes(*pair.first, *pair.second) : std::vector<Change>{};
    if (pair.first && pair.second && changes.empty()) continue;
    same = false;
    if (!json) {
      out += carousel_text(shown) + ": " + change + "\n";
      for (const Change& c : changes) {
        out += "  " + c.subject + " " + c.change;
        for (size_t i = 0; i < c.details.size(); ++i) out += (i ? "; " : ": ") + c.details[i];
        out += "\n";
      }
      continue;
    }
    out += first ? "{" : ",{";
    first = false;
    out += text::printed("\"programme\":%u,\"downloadId\":%u,\"change\":\"%s\",\"changes\":[",
                         shown.programme, shown.downloadId, change);
    for (size_t i = 0; i < changes.size(); ++i) {
      out += (i ? ",{" : "{") + std::string("\"subject\":") + json_string(changes[i].subject) +
             ",\"change\":" + json_string(changes[i].change) + ",\"details\":[";
      for (size_t d = 0; d < changes[i].details.size(); ++d)
        out += (d ? "," : "") + json_string(changes[i].details[d]);
      out += "]}";
    }
    out += "]}";
  }
  if (json) out = std::string("{\"same\":") + (same ? "true" : "false") + ",\"carousels\":[" + out + "]}\n";
  return out;
}

}  // namespace app
