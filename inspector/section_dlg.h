// The "Section" page: every DSI, DII and DDB of the last capture, field by field, with the header of
// the section that carried it and hexadecimal dumps of the variable parts, in one tree.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "store/carousel_store.h"
#include "ui/dialog.h"

// A capture can store a million blocks, each a dozen nodes here: past this many nodes the page stops
// growing (with one log line) instead of exhausting memory.
inline constexpr size_t kMaxSectionPageNodes = 1000000;

class CSectionDlg : public ui::Dialog {
 public:
  // The store is the analysis dialog's; the page reads it and never changes or owns it.
  explicit CSectionDlg(CarouselStore* store, ui::Dialog* parent = nullptr);

  // Empties the tree and puts the root "data carousel sections" back at the top level.
  void Reset();
  // Builds the tree below the root from the store, then expands the root. Without an earlier Reset the
  // root is made first.
  void Fill();

  using ui::Dialog::tree;
  ui::TreeView& tree() const { return *m_tree; }
  // The root node, or null before the first Reset or Fill.
  ui::TreeNode* root() const { return m_root; }
  // The most nodes the tree gets, the root included (tests set a small one).
  void set_node_limit(size_t limit) { m_node_limit = limit; }

 private:
  void add_program(int32_t program_number, const ProgramRecord& program);
  void add_pid(ui::TreeNode* program_node, int32_t pid, const PidRecord& record);
  void add_ddb_group(ui::TreeNode* group, const PidRecord& record);
  void add_dsi_group(ui::TreeNode* group, const PidRecord& record);
  void add_dii_group(ui::TreeNode* group, const PidRecord& record);

  void add_section_header(ui::TreeNode* parent, const sitables::DsmCC& section);
  void add_message_header(ui::TreeNode* parent, const DsmccMessageHeader& header, bool ddb);
  void add_dsi(ui::TreeNode* parent, const CDownloadServerInitiate& dsi);
  void add_dii(ui::TreeNode* parent, const CDownloadInfoIndication& dii);
  void add_ddb(ui::TreeNode* parent, const DownloadDataBlock& ddb);
  void add_gateway(ui::TreeNode* parent, const CServiceGatewayInfo& gateway);
  void add_profile(ui::TreeNode* parent, const BiopProfileBody& profile);
  void add_dump(ui::TreeNode* parent, ByteView bytes);

  ui::TreeNode* add(ui::TreeNode* parent, const std::string& text);
  ui::TreeNode* find_or_add(ui::TreeNode* parent, const std::string& text);

  CarouselStore* m_store;
  ui::TreeView* m_tree;
  ui::TreeNode* m_root = nullptr;
  size_t m_node_limit = kMaxSectionPageNodes;
  size_t m_nodes = 0;
  bool m_limit_logged = false;
};

// The lines of a hexadecimal dump: 8 bytes a line, "%04x: " with the line's offset, each byte as
// "%02x ", then "; " and each byte as its character when printable (0x20 to 0x7E), else ".". A short
// last line is not padded. No bytes, no lines.
std::vector<std::string> hex_dump_lines(ByteView bytes);
