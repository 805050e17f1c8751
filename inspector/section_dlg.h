// The "Section" page: every DSI, DII and DDB of the last capture, field by field, with the header of
// the section that carried it and hexadecimal dumps of the variable parts, in one tree.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "carousel/page_tree.h"
#include "store/carousel_store.h"
#include "ui/dialog.h"

namespace inspector {

class CSectionDlg : public ui::Dialog {
 public:
  // The store is the analysis dialog's; the page reads it and never changes or owns it.
  explicit CSectionDlg(store::CarouselStore* store, ui::Dialog* parent = nullptr);

  // Empties the tree and puts the root "data carousel sections" back at the top level.
  void clear();
  // Builds the tree below the root from the store, then expands the root. Without an earlier clear the
  // root is made first.
  void rebuild();

  using ui::Dialog::tree;
  ui::TreeView& tree() const { return *tree_; }
  // The root node, or null before the first clear or rebuild.
  ui::TreeNode* root() const { return root_; }
  // The most nodes the tree gets, the root included (tests set a small one).
  void set_node_limit(size_t limit) { budget_ = carousel::TreeBudget(limit, kLimitLine); }

 private:
  void add_program(int32_t program_number, const store::ProgramRecord& program);
  void add_pid(ui::TreeNode* program_node, int32_t pid, const store::PidRecord& record);
  void add_ddb_group(ui::TreeNode* group, const store::PidRecord& record);
  void add_dsi_group(ui::TreeNode* group, const store::PidRecord& record);
  void add_dii_group(ui::TreeNode* group, const store::PidRecord& record);

  void add_section_header(ui::TreeNode* parent, const sitables::DsmCC& section);
  void add_message_header(ui::TreeNode* parent, const dsmcc::DsmccMessageHeader& header, bool ddb);
  void add_dsi(ui::TreeNode* parent, const dsmcc::CDownloadServerInitiate& dsi);
  void add_dii(ui::TreeNode* parent, const dsmcc::CDownloadInfoIndication& dii);
  void add_ddb(ui::TreeNode* parent, const dsmcc::DownloadDataBlock& ddb);
  void add_gateway(ui::TreeNode* parent, const dsmcc::CServiceGatewayInfo& gateway);
  void add_profile(ui::TreeNode* parent, const dsmcc::BiopProfileBody& profile);
  void add_dump(ui::TreeNode* parent, bytes::ByteView bytes);

  ui::TreeNode* add(ui::TreeNode* parent, const std::string& text);
  ui::TreeNode* find_or_add(ui::TreeNode* parent, const std::string& text);

  store::CarouselStore* store_;
  ui::TreeView* tree_;
  ui::TreeNode* root_ = nullptr;
  static constexpr const char* kLimitLine = "section page node limit of %zu reached; the tree stops growing";
  carousel::TreeBudget budget_{carousel::kMaxTreeNodes, kLimitLine};
};

// The lines of a hexadecimal dump: 8 bytes a line, "%04x: " with the line's offset, each byte as
// "%02x ", then "; " and each byte as its character when printable (0x20 to 0x7E), else ".". A short
// last line is not padded. No bytes, no lines.
std::vector<std::string> hex_dump_lines(bytes::ByteView bytes);

}  // namespace inspector
