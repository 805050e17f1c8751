#include "inspector/section_dlg.h"

#include <algorithm>

#include "log/debug_log.h"
#include "resources/resources.h"
#include "text/printed.h"

namespace inspector {

namespace {

// Node texts come from printf formats. Arguments are cast at the call to what each conversion names:
// "%#x" and "%u" unsigned int, "%d" int, "%lu" unsigned long.

unsigned x(uint32_t v) {
  return static_cast<unsigned>(v);
}
int d(uint32_t v) {
  return static_cast<int>(v);
}
unsigned long lu(uint32_t v) {
  return static_cast<unsigned long>(v);
}

// A recorded length may claim more than the bytes that were kept; the page shows what is there.
bytes::ByteView first_bytes(bytes::ByteView bytes, uint32_t length) {
  return bytes.first(std::min<size_t>(bytes.size(), length));
}

}  // namespace

std::vector<std::string> hex_dump_lines(bytes::ByteView bytes) {
  std::vector<std::string> lines;
  constexpr size_t per_line = 8;
  for (size_t offset = 0; offset < bytes.size(); offset += per_line) {
    const bytes::ByteView line_bytes = bytes.subspan(offset, std::min(per_line, bytes.size() - offset));
    char piece[16];
    std::snprintf(piece, sizeof piece, "%04x: ", static_cast<unsigned>(offset));
    std::string line = piece;
    for (uint8_t b : line_bytes) {
      std::snprintf(piece, sizeof piece, "%02x ", static_cast<unsigned>(b));
      line += piece;
    }
    line += "; ";
    // Printable in the "C" locale is exactly 0x20 to 0x7E, whatever locale the process runs in.
    for (uint8_t b : line_bytes) {
      const bool printable = b >= 0x20 && b <= 0x7E;
      std::snprintf(piece, sizeof piece, "%c", printable ? static_cast<int>(b) : '.');
      line += piece;
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

CSectionDlg::CSectionDlg(store::CarouselStore* store, ui::Dialog* parent)
    : ui::Dialog(resources::DIALOG_SECTION_PAGE, parent), store_(store), tree_(tree(resources::PAGE_TREE)) {
  if (!tree_) {
    // Only a damaged layout table gets here; the page still works, with its tree filling it.
    tree_ = static_cast<ui::TreeView*>(&create_control(
        resources::ControlKind::tree_view, resources::PAGE_TREE, {0, 0, width(), height()}, {},
        resources::TREE_HAS_LINES | resources::TREE_HAS_BUTTONS | resources::TREE_LINES_AT_ROOT));
  }
}

ui::TreeNode* CSectionDlg::add(ui::TreeNode* parent, const std::string& node_text) {
  // Nothing is added past the limit; what callers hang below this stays where the tree already ends.
  if (!budget_.take()) return parent ? parent : root_;
  return tree_->insert(parent, node_text);
}

ui::TreeNode* CSectionDlg::find_or_add(ui::TreeNode* parent, const std::string& node_text) {
  // Every child here is made through this call, so texts are unique among siblings and the newest
  // child, the one the store's key order asks for again, is as good a first look as any.
  if (parent && parent->child_count() > 0) {
    ui::TreeNode* last = parent->child(parent->child_count() - 1);
    if (last->text() == node_text) return last;
  }
  if (ui::TreeNode* found = tree_->find_child(parent, node_text)) return found;
  return add(parent, node_text);
}

void CSectionDlg::clear() {
  tree_->delete_all();
  root_ = tree_->insert(nullptr, "data carousel sections");
  budget_ = carousel::TreeBudget(budget_.limit(), kLimitLine);
  budget_.take();
}

void CSectionDlg::rebuild() {
  if (!root_) clear();
  if (store_) {
    for (const auto& [program_number, program] : store_->programs) add_program(program_number, program);
  }
  tree_->expand(root_);
}

void CSectionDlg::add_program(int32_t program_number, const store::ProgramRecord& program) {
  const auto n = static_cast<uint32_t>(program_number);
  ui::TreeNode* node = add(root_, text::printed("Program Number 0x%04x (%u)", x(n), x(n)));
  for (const auto& [pid, record] : program.pids) {
    if (record) add_pid(node, pid, *record);
  }
}

void CSectionDlg::add_pid(ui::TreeNode* program_node, int32_t pid, const store::PidRecord& record) {
  ui::TreeNode* node = add(program_node, text::printed("PID 0x%04x", x(static_cast<uint32_t>(pid))));
  ui::TreeNode* dsi_group = add(node, "Download Server Initiate");
  ui::TreeNode* dii_group = add(node, "Download Info Indication");
  ui::TreeNode* ddb_group = add(node, "Data Download Block");
  add_ddb_group(ddb_group, record);
  add_dsi_group(dsi_group, record);
  add_dii_group(dii_group, record);
}

void CSectionDlg::add_ddb_group(ui::TreeNode* group, const store::PidRecord& record) {
  for (const auto& [download_id, modules] : record.ddb) {
    const auto id = static_cast<uint32_t>(download_id);
    ui::TreeNode* download_node = find_or_add(group, text::printed("downloadid %#x (%d)", x(id), d(id)));
    for (const auto& [module_id, blocks] : modules) {
      for (const auto& [section_number, stored] : blocks) {
        if (!stored.section || !stored.message) {
          logio::g_log.log(2, "section page: block %d of module %#x without section or message",
                           section_number, x(static_cast<uint32_t>(module_id)));
          continue;
        }
        const dsmcc::DownloadDataBlock& ddb = *stored.ddb();
        ui::TreeNode* module_node =
            find_or_add(download_node, text::printed("module id %#x (%d)", x(ddb.moduleId), d(ddb.moduleId)));
        const uint32_t number = stored.section->section_number;
        ui::TreeNode* section_node =
            add(module_node, text::printed("section %#x (%d)", x(number), d(number)));
        add_section_header(section_node, *stored.section);
        add_ddb(section_node, ddb);
      }
    }
  }
}

void CSectionDlg::add_dsi_group(ui::TreeNode* group, const store::PidRecord& record) {
  for (const auto& [extension, stored] : record.dsi) {
    if (!stored.section || !stored.message) continue;
    const uint32_t tide = stored.section->table_id_extension;
    ui::TreeNode* node = add(group, text::printed("transaction id %#x (%d)", x(tide), d(tide)));
    add_section_header(node, *stored.section);
    add_dsi(node, *stored.dsi());
  }
}

void CSectionDlg::add_dii_group(ui::TreeNode* group, const store::PidRecord& record) {
  for (const auto& [download_id, by_extension] : record.dii) {
    const auto id = static_cast<uint32_t>(download_id);
    ui::TreeNode* download_node = add(group, text::printed("download id %#x (%d)", x(id), d(id)));
    for (const auto& [extension, stored] : by_extension) {
      if (!stored.section || !stored.message) continue;
      ui::TreeNode* node = add(download_node, text::printed("0x%04x", x(stored.section->table_id_extension)));
      add_section_header(node, *stored.section);
      add_dii(node, *stored.dii());
    }
  }
}

void CSectionDlg::add_section_header(ui::TreeNode* parent, const sitables::DsmCC& s) {
  add(parent, text::printed("table_id: %#x (%d)", x(s.table_id), d(s.table_id)));
  add(parent, text::printed("syntax_indicator: %d", d(s.section_syntax_indicator)));
  add(parent, "private_indicator: N/A");
  add(parent, text::printed("section_length: %#x (%d)", x(s.section_length), d(s.section_length)));
  add(parent,
      text::printed("table_id_extension: %#x (%d)", x(s.table_id_extension), d(s.table_id_extension)));
  add(parent, text::printed("version_number: %#x (%d)", x(s.version_number), d(s.version_number)));
  add(parent, text::printed("current_next_indicator: %d", d(s.current_next_indicator)));
  add(parent, text::printed("section_number: %#x (%d)", x(s.section_number), d(s.section_number)));
  add(parent,
      text::printed("last_section_number: %#x (%d)", x(s.last_section_number), d(s.last_section_number)));
}

void CSectionDlg::add_message_header(ui::TreeNode* parent, const dsmcc::DsmccMessageHeader& h, bool ddb) {
  add(parent, text::printed("protocol_discriminator: %#x (%d)", x(h.protocolDiscriminator),
                            d(h.protocolDiscriminator)));
  add(parent, text::printed("dsmccType: %#x (%d): ", x(h.dsmccType), d(h.dsmccType)));
  add(parent, text::printed("messageId: %#x (%d): ", x(h.messageId), d(h.messageId)));
  if (ddb)
    add(parent, text::printed("downloadId: %#x (%lu): ", x(h.transactionId), lu(h.transactionId)));
  else
    add(parent, text::printed("transcationId: %#x (%lu): ", x(h.transactionId), lu(h.transactionId)));
  add(parent, text::printed("adaptationLength: %#x (%d): ", x(h.adaptationLength), d(h.adaptationLength)));
  add(parent, text::printed("messageLength: %#x (%d): ", x(h.messageLength), d(h.messageLength)));
}

void CSectionDlg::add_ddb(ui::TreeNode* parent, const dsmcc::DownloadDataBlock& ddb) {
  add_message_header(parent, ddb.header, true);
  add(parent, text::printed("moduleId: %#x (%d): ", x(ddb.moduleId), d(ddb.moduleId)));
  add(parent, text::printed("moduleVersion: %#x (%d): ", x(ddb.moduleVersion), d(ddb.moduleVersion)));
  add(parent, text::printed("blockNumber: %#x (%d): ", x(ddb.blockNumber), d(ddb.blockNumber)));
}

void CSectionDlg::add_dii(ui::TreeNode* parent, const dsmcc::CDownloadInfoIndication& dii) {
  add_message_header(parent, dii.header, false);
  add(parent, text::printed("downloadId: %#x (%lu): ", x(dii.downloadId), lu(dii.downloadId)));
  add(parent, text::printed("blockSize: %#x (%d): ", x(dii.blockSize), d(dii.blockSize)));
  add(parent, text::printed("windowSize: %#x (%d): ", x(dii.windowSize), d(dii.windowSize)));
  add(parent, text::printed("ackPeriod: %#x (%d): ", x(dii.ackPeriod), d(dii.ackPeriod)));
  add(parent,
      text::printed("tcDownloadWindow: %#x (%lu): ", x(dii.tcDownloadWindow), lu(dii.tcDownloadWindow)));
  add(parent, text::printed("tcDownloadScenario: %#x (%lu): ", x(dii.tcDownloadScenario),
                            lu(dii.tcDownloadScenario)));
  add(parent, text::printed("numberOfModules: %#x (%d): ", x(dii.numberOfModules), d(dii.numberOfModules)));
  ui::TreeNode* modules = add(parent, "Modules");
  int index = 0;
  for (const dsmcc::Module& m : dii.modules) {
    ui::TreeNode* node = add(modules, text::printed("%d - %#x (%d)", index++, x(m.moduleId), d(m.moduleId)));
    add(node, text::printed("moduleId: %#x (%lu): ", x(m.moduleId), lu(m.moduleId)));
    add(node, text::printed("moduleSize: %#x (%lu): ", x(m.moduleSize), lu(m.moduleSize)));
    add(node, text::printed("moduleVersion: %#x (%lu): ", x(m.moduleVersion), lu(m.moduleVersion)));
    add(node, text::printed("moduleInfoLength: %#x (%lu): ", x(m.moduleInfoLength), lu(m.moduleInfoLength)));
  }
  add(parent,
      text::printed("privateDataLength: %#x (%d): ", x(dii.privateDataLength), d(dii.privateDataLength)));
}

void CSectionDlg::add_dsi(ui::TreeNode* parent, const dsmcc::CDownloadServerInitiate& dsi) {
  add_message_header(parent, dsi.header, false);
  std::string server_id = "serverId: ";
  for (uint8_t b : dsi.serverId.first(std::min<size_t>(dsi.serverId.size(), 20)))
    server_id += text::printed("%02x", x(b));
  add(parent, server_id);
  add(parent, text::printed("compatibilityDescriptor: %d", d(dsi.compatibilityDescriptorLength)));
  ui::TreeNode* private_data =
      add(parent,
          text::printed("privateDataLength: %#x (%d): ", x(dsi.privateDataLength), d(dsi.privateDataLength)));
  add_dump(private_data, first_bytes(dsi.privateData, dsi.privateDataLength));
  if (dsi.gatewayParsed) add_gateway(parent, dsi.gateway);
}

void CSectionDlg::add_gateway(ui::TreeNode* parent, const dsmcc::CServiceGatewayInfo& gateway) {
  ui::TreeNode* info = add(parent, "ServiceGatewayInfo");
  ui::TreeNode* ior = add(info, "IOP::IOR()");
  add(ior, text::printed("taggedProfiles_count: %d", static_cast<int>(gateway.profiles.size())));
  if (!gateway.profiles.empty()) {
    ui::TreeNode* tagged = add(ior, "IOP::taggedProfile");
    int index = 0;
    for (const dsmcc::BiopProfileBody& profile : gateway.profiles)
      add_profile(add(tagged, text::printed("%d", index++)), profile);
  }
  add(info, text::printed("downloadTaps_count: %d", d(gateway.downloadTaps_count)));
  add(info, text::printed("serviceContextList_count: %d", d(gateway.serviceContextList_count)));
  add(info, text::printed("userInfoLength: %d", d(gateway.userInfoLength)));
}

void CSectionDlg::add_profile(ui::TreeNode* parent, const dsmcc::BiopProfileBody& p) {
  add(parent, text::printed("profileId_tag: %#x", x(p.profileId_tag)));
  add(parent, text::printed("profile_data_length: %u", x(p.profile_data_length)));
  add(parent, text::printed("profile_data_byte_order: %u", x(p.profile_data_byte_order)));
  add(parent, text::printed("lite_component_count: %u", x(p.lite_component_count)));

  ui::TreeNode* location = add(parent, "BIOP::ObjectLocation");
  add(location, text::printed("componentId_tag: %#x", x(p.location_componentId_tag)));
  add(location, text::printed("component_data_length: %#x", x(p.location_component_data_length)));
  add(location, text::printed("carouselId: %#x (%d)", x(p.carouselId), d(p.carouselId)));
  add(location, text::printed("moduleId: %#x (%d)", x(p.moduleId), d(p.moduleId)));
  add(location, text::printed("version.major: 0x%02x (%d)", x(p.version_major), d(p.version_major)));
  add(location, text::printed("version.minor: 0x%02x (%d)", x(p.version_minor), d(p.version_minor)));
  ui::TreeNode* key = add(location, text::printed("objectKey_length: %d", d(p.objectKey_length)));
  add_dump(key, p.objectKey);

  ui::TreeNode* binder = add(parent, "DSM::ConnBinder");
  add(binder, text::printed("componentId_tag: %#x", x(p.binder_componentId_tag)));
  add(binder, text::printed("component_data_length: %#x", x(p.binder_component_data_length)));
  add(binder, text::printed("taps_count: %d", d(p.taps_count)));
  if (p.taps_count >= 1) {
    ui::TreeNode* taps = add(binder, "DSM::Tap");
    // A profile whose decoding stopped early holds fewer taps than it announced.
    const size_t shown = std::min<size_t>(p.taps_count, p.taps.size());
    for (size_t i = 0; i < shown; ++i) {
      const dsmcc::DSM::Tap& tap = p.taps[i];
      ui::TreeNode* node = add(taps, text::printed("%d", static_cast<int>(i)));
      add(node, text::printed("id: 0x%04x", x(tap.id)));
      add(node, text::printed("use: 0x%04x", x(tap.use)));
      add(node, text::printed("assocTag: 0x%04x", x(tap.assocTag)));
      add(node, text::printed("selector_length: %d", d(tap.selector_length)));
      add(node, text::printed("selector_type: %d", d(tap.selector_type)));
      if (i == 0) {
        add(node, text::printed("transactionId: %#x (%u)", x(tap.transactionId), x(tap.transactionId)));
        add(node, text::printed("timeout: %#x (%d)", x(tap.timeout), d(tap.timeout)));
      } else {
        add_dump(node, tap.selector);
      }
    }
  }

  if (p.lite_component_count > 2) {
    ui::TreeNode* lites = add(parent, "BIOP::LiteComponent");
    const size_t shown = std::min<size_t>(p.lite_component_count - 2, p.liteComponents.size());
    for (size_t i = 0; i < shown; ++i) {
      const dsmcc::BIOP::LiteComponent& c = p.liteComponents[i];
      ui::TreeNode* node = add(lites, text::printed("%d", static_cast<int>(i)));
      add(node, text::printed("componentId_tag: %#x", x(c.componentId_tag)));
      add(node, text::printed("component_data_length: %d", d(c.component_data_length)));
      add_dump(node, c.data);
    }
  }
}

void CSectionDlg::add_dump(ui::TreeNode* parent, bytes::ByteView bytes) {
  for (const std::string& line : hex_dump_lines(bytes)) add(parent, line);
}

}  // namespace inspector
