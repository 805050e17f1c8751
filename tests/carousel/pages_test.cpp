// The "Data Carousel" and "Object Carousel" pages: node texts, images, order and expansion.
#include <gtest/gtest.h>

#include "carousel/data_carousel_dlg.h"
#include "carousel/object_carousel_dlg.h"
#include "resources/resources.h"
#include "tests/carousel/carousel_fixture.h"
#include "tests/support/oc_builder.h"

namespace {

using carousel_test::Capture;
using carousel_test::LogCapture;
using testsupport::ByteVec;
using testsupport::text_bytes;

constexpr uint32_t kPid = 0x100;

// One line per node: indentation, text, then [image/selected image] and "+" when expanded.
void render(const ui::TreeNode& node, int depth, std::string& out) {
  out += std::string(static_cast<size_t>(depth) * 2, ' ') + node.text() + " [" +
         std::to_string(node.image()) + "/" + std::to_string(node.selected_image()) + "]" +
         (node.expanded() ? " +" : "") + "\n";
  for (const auto& child : node.children()) render(*child, depth + 1, out);
}

std::string render(const ui::TreeView& tree) {
  std::string out;
  for (const auto& top : tree.top_level()) render(*top, 0, out);
  return out;
}

// A DII of downloadId 0x10 announcing modules, and DDB sections of some of their blocks.
ByteVec dii(uint32_t downloadId, std::vector<std::pair<uint16_t, uint32_t>> modules,
            uint32_t transactionId = 0x80000002) {
  testsupport::DiiSpec announcement;
  announcement.header.transactionId = transactionId;
  announcement.downloadId = downloadId;
  for (auto [moduleId, size] : modules) {
    testsupport::ModuleSpec m;
    m.moduleId = moduleId;
    m.moduleSize = size;
    announcement.modules.push_back(m);
  }
  return testsupport::dii_section(announcement);
}

ByteVec ddb(uint32_t downloadId, uint16_t moduleId, uint8_t section_number, uint8_t last_section_number) {
  testsupport::SectionSpec section;
  section.section_number = section_number;
  section.last_section_number = last_section_number;
  return testsupport::ddb_section(testsupport::block(downloadId, moduleId, section_number, {1, 2, 3}),
                                  section);
}

class PageTest : public testing::Test {
 protected:
  ui::Dialog host{resources::DIALOG_ANALYSIS};
};

// ---- Data carousel page ----------------------------------------------------------------------------

class DataPageTest : public PageTest {
 protected:
  std::string rebuild() {
    CDataCarouselDlg page(&capture.store, &host);
    page.create(host);
    page.clear();
    page.rebuild();
    return render(*page.tree_view());
  }
  Capture capture{{{1, kPid}}};
};

TEST_F(DataPageTest, ClearLeavesTheRootAloneAndRebuildsDoNotRepeat) {
  capture.feed(kPid, dii(0x10, {{1, 5}}));
  CDataCarouselDlg page(&capture.store, &host);
  page.create(host);
  page.clear();
  page.clear();
  EXPECT_EQ(render(*page.tree_view()), "Data Carousels [0/1]\n");
  EXPECT_EQ(page.root(), page.tree_view()->top_level().front().get());
  page.rebuild();
  std::string first = render(*page.tree_view());
  page.rebuild();
  EXPECT_EQ(render(*page.tree_view()), first);
}

TEST_F(DataPageTest, ModuleTextsWithSectionCounts) {
  capture.feed(kPid, dii(0x10, {{1, 4066}, {2, 0x20}, {3, 7}}));
  for (uint8_t n = 0; n < 3; ++n) capture.feed(kPid, ddb(0x10, 1, n, 3));  // 3 of 4
  capture.feed(kPid, ddb(0x10, 2, 0, 0));                                  // complete
  // module 3: no block at all
  EXPECT_EQ(rebuild(),
            "Data Carousels [0/1] +\n"
            "  Program Number 0x0001 (1) [0/0]\n"
            "    downloadId 0x00000010 (16) [0/1]\n"
            "      0x1 (1) Length: 0xfe2 (4066) Sections: (3/4) [2/2]\n"
            "      0x2 (2) Length: 0x20 (32) Sections: (1/1) [2/2]\n"
            "      0x3 (3) Length: 0x7 (7) Sections: (0/0) [2/2]\n");
}

TEST_F(DataPageTest, DownloadGroupWithoutBlocksIsEmptyAndLogged) {
  LogCapture log;
  capture.feed(kPid, dii(0x10, {{1, 100}}));
  EXPECT_EQ(rebuild(),
            "Data Carousels [0/1] +\n"
            "  Program Number 0x0001 (1) [0/0]\n"
            "    downloadId 0x00000010 (16) [0/1]\n");
  EXPECT_TRUE(log.has(4, "CDataCarouselDlg::add_dii() downloadid=0x10"));
  EXPECT_TRUE(log.has(4, "downloadid 0x10 not found"));
}

TEST_F(DataPageTest, TwoDiisOfOneDownloadIdListTheirModulesUnderOneGroup) {
  capture.feed(kPid, dii(0x10, {{1, 10}}, 0x80000004));
  capture.feed(kPid, dii(0x10, {{1, 10}, {2, 11}}, 0x80000002));
  capture.feed(kPid, ddb(0x10, 1, 0, 0));
  // Only DDBs carry downloadId 0x30: no node for it.
  capture.feed(kPid, ddb(0x30, 1, 0, 0));
  EXPECT_EQ(rebuild(),
            "Data Carousels [0/1] +\n"
            "  Program Number 0x0001 (1) [0/0]\n"
            "    downloadId 0x00000010 (16) [0/1]\n"
            "      0x1 (1) Length: 0xa (10) Sections: (1/1) [2/2]\n"
            "      0x2 (2) Length: 0xb (11) Sections: (0/0) [2/2]\n"
            "      0x1 (1) Length: 0xa (10) Sections: (1/1) [2/2]\n");
}

TEST(DataPage, ProgrammesInOrderEachWithItsOwnGroups) {
  ui::Dialog host{resources::DIALOG_ANALYSIS};
  Capture capture({{0x20, 0x300}, {2, kPid}, {7, 0x200}});
  capture.feed(kPid, dii(0x80000010, {{1, 5}}));  // a downloadId with its top bit set
  capture.feed(kPid, dii(0x10, {{1, 5}}));
  capture.feed(0x300, dii(0x10, {{1, 5}}));
  CDataCarouselDlg page(&capture.store, &host);
  page.create(host);
  page.clear();
  page.rebuild();
  EXPECT_EQ(render(*page.tree_view()),
            "Data Carousels [0/1] +\n"
            "  Program Number 0x0002 (2) [0/0]\n"
            "    downloadId 0x80000010 (2147483664) [0/1]\n"
            "    downloadId 0x00000010 (16) [0/1]\n"
            "  Program Number 0x0007 (7) [0/0]\n"
            "  Program Number 0x0020 (32) [0/0]\n"
            "    downloadId 0x00000010 (16) [0/1]\n");
  // The rebuild merged the programme index for the object carousel page.
  EXPECT_EQ(capture.store.programs.at(2).dii_by_download.size(), 2u);
}

// ---- Object carousel page --------------------------------------------------------------------------

class ObjectPageTest : public PageTest {
 protected:
  std::string rebuild() {
    CDataCarouselDlg data(&capture.store, &host);
    data.create(host);
    CObjectCarouselDlg page(&capture.store, &host);
    page.create(host);
    data.clear();
    page.clear();
    data.rebuild();
    page.rebuild();
    return render(*page.tree_view());
  }
  Capture capture{{{1, kPid}}};
};

TEST_F(ObjectPageTest, CarouselWithDirectoryAndFile) {
  testsupport::OcCarousel oc(1);
  auto dir = oc.add_directory(oc.gateway(), "apps", 1);
  oc.add_file(dir, "main.js", text_bytes("go"), 1);
  oc.add_file(oc.gateway(), "index.html", ByteVec(120, 'x'), 1);
  capture.feed_all(kPid, oc.sections());
  EXPECT_EQ(rebuild(),
            "Object Carousels [0/1] +\n"
            "  Program Number: 0x0001 (1) [0/1]\n"
            "    carouselId 0x00000001 (1) [0/0]\n"
            "      apps [0/1]\n"
            "        main.js - size=2 [2/2]\n"
            "      index.html - size=120 [2/2]\n");
}

TEST_F(ObjectPageTest, FileOfAnIncompleteModuleIsNotAvailable) {
  testsupport::OcCarousel oc(0x1234);
  oc.add_file(oc.gateway(), "late.bin", testsupport::pattern_bytes(300), 2);
  oc.bind_missing(oc.gateway(), std::string("na\0me", 5), "dir", 1, {0x55});
  auto sections = oc.sections(100);
  capture.feed_all(kPid, {sections.begin(), sections.end() - 1});
  EXPECT_EQ(rebuild(),
            "Object Carousels [0/1] +\n"
            "  Program Number: 0x0001 (1) [0/1]\n"
            "    carouselId 0x00001234 (4660) [0/0]\n"
            "      na [0/1]\n"
            "      late.bin - object not available [2/2]\n");
}

TEST_F(ObjectPageTest, ClearEmptiesAndRebuildKeepsOneRoot) {
  CObjectCarouselDlg page(&capture.store, &host);
  page.create(host);
  page.rebuild();
  page.rebuild();
  EXPECT_EQ(page.tree_view()->top_level().size(), 1u);
  page.clear();
  EXPECT_EQ(page.tree_view()->node_count(), 0u);
  EXPECT_EQ(page.root(), nullptr);
}

TEST_F(PageTest, SaveButtonsRunTheirActionOnceGiven) {
  Capture capture;
  CDataCarouselDlg data(&capture.store, &host);
  CObjectCarouselDlg object(&capture.store, &host);
  data.create(host);
  object.create(host);
  ASSERT_NE(data.button(resources::PAGE_SAVE), nullptr);
  ASSERT_NE(object.button(resources::PAGE_SAVE), nullptr);
  EXPECT_EQ(data.button(resources::PAGE_SAVE)->text(), "Save...");
  EXPECT_TRUE(data.button(resources::PAGE_SAVE)->click());  // no action yet: nothing happens
  EXPECT_TRUE(object.button(resources::PAGE_SAVE)->click());
  int data_saves = 0, object_saves = 0;
  data.set_save_action([&] { ++data_saves; });
  object.set_save_action([&] { ++object_saves; });
  data.button(resources::PAGE_SAVE)->click();
  object.button(resources::PAGE_SAVE)->click();
  object.button(resources::PAGE_SAVE)->click();
  EXPECT_EQ(data_saves, 1);
  EXPECT_EQ(object_saves, 2);
}

}  // namespace
