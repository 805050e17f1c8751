#include "carousel/carousel_model.h"

#include <cstdio>

#include "carousel/module_assembly.h"
#include "carousel/object_carousel.h"
#include "log/debug_log.h"

namespace carousel {


namespace {

constexpr const char* kDataLimitLine =
    "tree node limit of %zu reached; the rest of the data carousel tree is not shown";

// The data carousel tree: per programme every download group a DII announced and, under it, every
// module of those DIIs with its size and how many of its sections the capture holds.
class DataTreeBuilder {
 public:
  DataTreeBuilder(PageTree& tree, size_t limit) : tree_(tree), budget_(limit, kDataLimitLine) {}

  void build(const CarouselModel& model) {
    const size_t root = add(PageTree::kTop, "Data Carousels", IMAGE_CLOSED_FOLDER, IMAGE_OPEN_FOLDER);
    char text[64];
    for (const auto& [programme_number, program] : model.programs) {
      unsigned number = static_cast<unsigned>(programme_number);
      std::snprintf(text, sizeof text, "Program Number 0x%04x (%u)", number, number);
      const size_t programme_node = add(root, text, 0, 0);
      if (programme_node == kRefused) break;
      for (const auto& [downloadId, diis] : program.dii_by_download) {
        add_download(programme_node, downloadId, program);
        if (budget_.exhausted()) break;
      }
      if (budget_.exhausted()) break;
    }
  }

 private:
  static constexpr size_t kRefused = SIZE_MAX - 1;

  size_t add(size_t parent, const char* text, int image, int selected_image) {
    if (!budget_.take()) return kRefused;
    return tree_.add(parent == kRefused ? PageTree::kTop : parent, text, image, selected_image);
  }

  void add_download(size_t programme_node, int32_t downloadId, const ProgrammeModel& program) {
    const uint32_t id = static_cast<uint32_t>(downloadId);
    logio::g_log.log(4, "CDataCarouselDlg::add_dii() downloadid=%#x", id);
    char text[128];
    std::snprintf(text, sizeof text, "downloadId 0x%08x (%lu)", id, static_cast<unsigned long>(id));
    const size_t group = add(programme_node, text, IMAGE_CLOSED_FOLDER, IMAGE_OPEN_FOLDER);
    if (group == kRefused) return;

    auto diis = program.dii_by_download.find(downloadId);
    if (diis == program.dii_by_download.end()) return;
    for (const auto& [extension, stored] : diis->second) {
      if (!program.ddb_by_download.contains(downloadId)) {
        logio::g_log.log(4, "downloadid %#x not found", id);
        continue;
      }
      const dsmcc::CDownloadInfoIndication* dii = stored.dii();
      if (!dii) continue;
      for (const dsmcc::Module& module : dii->modules) {
        const auto [received, expected] = module_section_counts(program, downloadId, module, dii->blockSize);
        std::snprintf(text, sizeof text, "%#x (%lu) Length: %#x (%d) Sections: (%d/%d)", module.moduleId,
                      static_cast<unsigned long>(module.moduleId), module.moduleSize,
                      static_cast<int>(module.moduleSize), received, expected);
        if (add(group, text, IMAGE_DATA_DRUM, IMAGE_DATA_DRUM) == kRefused) return;
      }
    }
  }

  PageTree& tree_;
  TreeBudget budget_;
};

// The object carousel tree as the name walk reports it; a node's handle is its index.
class ObjectTreeSink : public ObjectCarouselSink {
 public:
  explicit ObjectTreeSink(PageTree& tree) : tree_(tree) {}

  Node root_node() override {
    return tree_.add(PageTree::kTop, "Object Carousels", IMAGE_CLOSED_FOLDER, IMAGE_OPEN_FOLDER);
  }
  Node programme_node(Node root, uint32_t programme_number) override {
    char text[64];
    std::snprintf(text, sizeof text, "Program Number: 0x%04x (%lu)", programme_number,
                  static_cast<unsigned long>(programme_number));
    return tree_.add(root, text, IMAGE_CLOSED_FOLDER, IMAGE_OPEN_FOLDER);
  }
  Node carousel_node(Node programme, uint32_t carouselId) override {
    char text[64];
    std::snprintf(text, sizeof text, "carouselId 0x%08x (%lu)", carouselId,
                  static_cast<unsigned long>(carouselId));
    return tree_.add(programme, text, IMAGE_CLOSED_FOLDER, IMAGE_CLOSED_FOLDER);
  }
  Node directory_node(Node parent, const std::string& id) override {
    return tree_.add(parent, id, IMAGE_CLOSED_FOLDER, IMAGE_OPEN_FOLDER);
  }
  Node file_node(Node parent, const std::string& id, const FileRecord* file) override {
    char text[512];  // an id holds at most 255 bytes
    if (file) {
      std::snprintf(text, sizeof text, "%s - size=%d", id.c_str(), static_cast<int>(file->content_length));
    } else {
      std::snprintf(text, sizeof text, "%s - object not available", id.c_str());
    }
    return tree_.add(parent, text, IMAGE_DATA_DRUM, IMAGE_DATA_DRUM);
  }

 private:
  PageTree& tree_;
};

}  // namespace

void parse_OC_modules(CarouselModel& model) {
  for (auto& [programme_number, program] : model.programs) {
    for (auto& [key, carousel] : program.object_carousels) {
      logio::g_log.log(4, "parsing OC %#x on Prg %#x", static_cast<uint32_t>(key),
                static_cast<uint32_t>(programme_number));
      for (const auto& [moduleId, image] : carousel.modules) {
        parse_OC_module(image, carousel, static_cast<uint32_t>(key), moduleId);
      }
    }
  }
}

CarouselModel rebuild_carousels(const store::CarouselStore& store, const CarouselLimits& limits) {
  CarouselModel model;
  merge_programme_index(store, model);
  DataTreeBuilder(model.data_tree, limits.node_limit).build(model);
  save_modules_to_memory(model);
  uncompress_mem_modules(model, limits.inflate_budget);
  parse_OC_modules(model);
  ObjectTreeSink sink(model.object_tree);
  build_tree(model, sink, limits.node_limit);
  return model;
}

}  // namespace carousel
