#include "carousel/data_carousel_dlg.h"

#include <cstdio>

#include "carousel/module_assembly.h"
#include "carousel/page_common.h"
#include "log/debug_log.h"

using namespace carousel_pages;

CDataCarouselDlg::CDataCarouselDlg(CarouselStore* store, ui::Dialog* parent)
    : ui::Dialog(resources::DIALOG_DATA_CAROUSEL_PAGE, parent), store_(store), images_(page_images()) {
  on_command(resources::PAGE_SAVE, [this] {
    if (save_action_) save_action_();
  });
}

bool CDataCarouselDlg::OnInitDialog() {
  if (ui::TreeView* view = tree_view()) set_up_tree(*view, images_);
  return true;
}

ui::TreeNode* CDataCarouselDlg::add_node(ui::TreeNode* parent, const char* text, int image,
                                         int selected_image) {
  ui::TreeView* view = tree_view();
  if (!view) return nullptr;
  if (view->node_count() >= node_limit_) {
    if (!limit_logged_) {
      limit_logged_ = true;
      g_log.log(1, "tree node limit of %zu reached; the rest of the data carousel tree is not shown",
                node_limit_);
    }
    return nullptr;
  }
  return view->insert(parent, text, image, selected_image);
}

void CDataCarouselDlg::clear() {
  root_ = nullptr;
  limit_logged_ = false;
  if (ui::TreeView* view = tree_view()) view->delete_all();
  root_ = add_node(nullptr, "Data Carousels", IMAGE_CLOSED_FOLDER, IMAGE_OPEN_FOLDER);
}

void CDataCarouselDlg::rebuild() {
  // Starting from the bare root keeps a second rebuild from listing everything twice.
  clear();
  if (store_) {
    merge_programme_index(*store_);
    char text[64];
    for (auto& [programme_number, program] : store_->programs) {
      unsigned number = static_cast<unsigned>(programme_number);
      std::snprintf(text, sizeof text, "Program Number 0x%04x (%u)", number, number);
      ui::TreeNode* programme_node = add_node(root_, text, 0, 0);
      if (!programme_node) break;
      for (const auto& [downloadId, diis] : program.dii_by_download) {
        add_dii(programme_node, downloadId, program);
        if (limit_logged_) break;
      }
      if (limit_logged_) break;
    }
  }
  if (ui::TreeView* view = tree_view()) view->expand(root_);
}

void CDataCarouselDlg::add_dii(ui::TreeNode* programme_node, int32_t downloadId, ProgramRecord& program) {
  const uint32_t id = static_cast<uint32_t>(downloadId);
  g_log.log(4, "CDataCarouselDlg::add_dii() downloadid=%#x", id);
  char text[128];
  std::snprintf(text, sizeof text, "downloadId 0x%08x (%lu)", id, static_cast<unsigned long>(id));
  ui::TreeNode* group = add_node(programme_node, text, IMAGE_CLOSED_FOLDER, IMAGE_OPEN_FOLDER);
  if (!group) return;

  auto diis = program.dii_by_download.find(downloadId);
  if (diis == program.dii_by_download.end()) return;
  for (const auto& [extension, stored] : diis->second) {
    auto blocks_of_download = program.ddb_by_download.find(downloadId);
    if (blocks_of_download == program.ddb_by_download.end()) {
      g_log.log(4, "downloadid %#x not found", id);
      continue;
    }
    const CDownloadInfoIndication* dii = stored.dii();
    if (!dii) continue;
    for (const Module& module : dii->modules) {
      const auto [received, expected] = module_section_counts(program, downloadId, module, dii->blockSize);
      std::snprintf(text, sizeof text, "%#x (%lu) Length: %#x (%d) Sections: (%d/%d)", module.moduleId,
                    static_cast<unsigned long>(module.moduleId), module.moduleSize,
                    static_cast<int>(module.moduleSize), received, expected);
      if (!add_node(group, text, IMAGE_DATA_DRUM, IMAGE_DATA_DRUM)) return;
    }
  }
}
