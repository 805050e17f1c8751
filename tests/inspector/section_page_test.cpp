// The "Section" page over built captures: every node text, its place and its order.
#include <gtest/gtest.h>

#include <memory>

#include "store/section_intake.h"
#include "inspector/section_dlg.h"
#include "tests/support/dsmcc_builder.h"
#include "tests/support/ts_builder.h"
#include "ui/headless/tree_render.h"

namespace {

using namespace testsupport;

// A capture filled through the intake, each section on its programme's PID.
class Capture {
 public:
  void file(int32_t program, uint32_t pid, const std::vector<uint8_t>& bytes) {
    store.pid_map[program].insert(pid);
    store.programs[program];
    intake.dispatch_section(pid, bytes);
  }
  // A programme of the capture list for which nothing arrived.
  void add_empty_program(int32_t program) {
    store.pid_map[program];
    store.programs[program];
  }

  CarouselStore store;
  CaptureCounters counters;
  SectionIntake intake{store, counters};
};

// The node reached from the top level through these texts, each the first child of that text.
const ui::TreeNode* node_at(const ui::TreeView& tree, const std::vector<std::string>& path) {
  const ui::TreeNode* node = nullptr;
  for (const auto& text : path) {
    node = tree.find_child(node, text);
    if (!node) return nullptr;
  }
  return node;
}

std::vector<std::string> child_texts(const ui::TreeNode* node) {
  std::vector<std::string> out;
  if (node)
    for (const auto& c : node->children()) out.push_back(c->text());
  return out;
}

const std::string ROOT = "data carousel sections";
const std::string PRG1 = "Program Number 0x0001 (1)";
const std::string PID = "PID 0x138e";

std::vector<std::string> pid_path(std::vector<std::string> rest) {
  std::vector<std::string> path = {ROOT, PRG1, PID};
  path.insert(path.end(), rest.begin(), rest.end());
  return path;
}

DdbSpec ddb(uint32_t download_id, uint16_t module_id, uint16_t block_number, size_t size) {
  return block(download_id, module_id, block_number, std::vector<uint8_t>(size, 0x5A));
}

SectionSpec numbered(uint8_t section_number, uint8_t last) {
  SectionSpec s;
  s.section_number = section_number;
  s.last_section_number = last;
  return s;
}

// ---- hexadecimal dumps --------------------------------------------------------------------------

std::vector<uint8_t> counting(size_t n, uint8_t first) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(first + i);
  return v;
}

TEST(HexDump, EightBytesALineWithOffsetsAndCharacters) {
  const std::pair<std::vector<uint8_t>, std::vector<std::string>> cases[] = {
      {{}, {}},
      {{0x41}, {"0000: 41 ; A"}},
      {counting(16, 0x61),
       {"0000: 61 62 63 64 65 66 67 68 ; abcdefgh", "0008: 69 6a 6b 6c 6d 6e 6f 70 ; ijklmnop"}},
      {counting(17, 0x61),
       {"0000: 61 62 63 64 65 66 67 68 ; abcdefgh", "0008: 69 6a 6b 6c 6d 6e 6f 70 ; ijklmnop",
        "0010: 71 ; q"}},
      {{0x09, 0x7F, 0xA0, 0x20, 0x00, 0x1F, 0x7E, 0xFF}, {"0000: 09 7f a0 20 00 1f 7e ff ; ... ..~."}}};
  for (const auto& [bytes, lines] : cases) EXPECT_EQ(hex_dump_lines(bytes), lines) << bytes.size();
}

TEST(HexDumpOffsets, GrowPastFourDigitsWhenTheDataDoes) {
  const auto lines = hex_dump_lines(std::vector<uint8_t>(0x10009, 0x30));
  ASSERT_EQ(lines.size(), 0x2002u);
  EXPECT_EQ(lines[0x1FFF], "fff8: 30 30 30 30 30 30 30 30 ; 00000000");
  EXPECT_EQ(lines[0x2000], "10000: 30 30 30 30 30 30 30 30 ; 00000000");
  EXPECT_EQ(lines[0x2001], "10008: 30 ; 0");
}

// ---- the page -----------------------------------------------------------------------------------

TEST(SectionPage, ResetLeavesTheRootAloneAndFillExpandsOnlyTheRoot) {
  Capture capture;
  capture.file(1, 0x138e, ddb_section(ddb(0x10, 1, 0, 8)));
  CSectionDlg page(&capture.store);
  EXPECT_EQ(page.root(), nullptr);
  page.Reset();
  ASSERT_NE(page.root(), nullptr);
  EXPECT_EQ(ui::headless::render_text(page.tree()), ROOT + "\n");

  page.Fill();
  EXPECT_TRUE(page.root()->expanded());
  const ui::TreeNode* prg = node_at(page.tree(), {ROOT, PRG1});
  ASSERT_NE(prg, nullptr);
  EXPECT_FALSE(prg->expanded());

  page.Reset();  // a new capture starts from the root alone
  EXPECT_EQ(page.tree().node_count(), 1u);
  EXPECT_EQ(page.tree().top_level().size(), 1u);
}

TEST(SectionPage, ProgrammesAndPidsAscendEachPidWithItsThreeGroupsInOrder) {
  Capture capture;
  capture.file(300, 0x0200, ddb_section(ddb(1, 1, 0, 4)));
  capture.file(300, 0x0100, ddb_section(ddb(1, 1, 0, 4)));
  capture.add_empty_program(2);
  CSectionDlg page(&capture.store);
  page.Reset();
  page.Fill();
  EXPECT_EQ(child_texts(page.root()),
            (std::vector<std::string>{"Program Number 0x0002 (2)", "Program Number 0x012c (300)"}));
  const ui::TreeNode* prg = node_at(page.tree(), {ROOT, "Program Number 0x012c (300)"});
  EXPECT_EQ(child_texts(prg), (std::vector<std::string>{"PID 0x0100", "PID 0x0200"}));
  // Only blocks arrived: the other two groups stand there empty.
  EXPECT_EQ(child_texts(prg->child(0)),
            (std::vector<std::string>{"Download Server Initiate", "Download Info Indication",
                                      "Data Download Block"}));
  EXPECT_EQ(prg->child(0)->child(0)->child_count(), 0u);
  EXPECT_EQ(prg->child(0)->child(1)->child_count(), 0u);
  EXPECT_EQ(prg->child(0)->child(2)->child_count(), 1u);
}

TEST(SectionPage, BlocksOfAModuleShareOneNodeInAscendingSectionNumber) {
  Capture capture;
  for (uint8_t n : std::vector<uint8_t>{2, 0, 3, 1})
    capture.file(1, 0x138e, ddb_section(ddb(0x10, 1, n, 16), numbered(n, 3)));
  capture.file(1, 0x138e, ddb_section(ddb(0x10, 2, 0, 16)));
  capture.file(1, 0x138e, ddb_section(ddb(0, 5, 0, 16)));
  CSectionDlg page(&capture.store);
  page.Reset();
  page.Fill();
  const ui::TreeNode* group = node_at(page.tree(), pid_path({"Data Download Block"}));
  // downloadId 0 is printed by "%#x" as a plain 0.
  EXPECT_EQ(child_texts(group), (std::vector<std::string>{"downloadid 0 (0)", "downloadid 0x10 (16)"}));
  const ui::TreeNode* download = group->child(1);
  EXPECT_EQ(child_texts(download), (std::vector<std::string>{"module id 0x1 (1)", "module id 0x2 (2)"}));
  EXPECT_EQ(
      child_texts(download->child(0)),
      (std::vector<std::string>{"section 0 (0)", "section 0x1 (1)", "section 0x2 (2)", "section 0x3 (3)"}));
  EXPECT_EQ(child_texts(node_at(page.tree(), pid_path({"Data Download Block", "downloadid 0 (0)"}))),
            (std::vector<std::string>{"module id 0x5 (5)"}));
}

TEST(SectionPage, ADownloadIdWithItsTopBitSetComesFirstAndPrintsNegative) {
  Capture capture;
  capture.file(1, 0x138e, ddb_section(ddb(0x10, 1, 0, 4)));
  capture.file(1, 0x138e, ddb_section(ddb(0x80000000, 1, 0, 4)));
  CSectionDlg page(&capture.store);
  page.Reset();
  page.Fill();
  EXPECT_EQ(child_texts(node_at(page.tree(), pid_path({"Data Download Block"}))),
            (std::vector<std::string>{"downloadid 0x80000000 (-2147483648)", "downloadid 0x10 (16)"}));
}

TEST(SectionPage, ADdbShowsItsSectionHeaderThenItsMessageLines) {
  Capture capture;
  DdbSpec data_block = ddb(0x10, 0x0203, 7, 100);
  data_block.moduleVersion = 4;
  SectionSpec section = numbered(9, 12);
  section.version_number = 3;
  capture.file(1, 0x138e, ddb_section(data_block, section));
  CSectionDlg page(&capture.store);
  page.Reset();
  page.Fill();
  const ui::TreeNode* node = node_at(
      page.tree(), pid_path({"Data Download Block", "downloadid 0x10 (16)", "module id 0x203 (515)"}));
  ASSERT_NE(node, nullptr);
  // section_length: 9 bytes of header rest and CRC + 12 header + 6 block header + 100 data = 127.
  EXPECT_EQ(ui::headless::render_text(*node),
            "module id 0x203 (515)\n"
            "  section 0x9 (9)\n"
            "    table_id: 0x3c (60)\n"
            "    syntax_indicator: 1\n"
            "    private_indicator: N/A\n"
            "    section_length: 0x7f (127)\n"
            "    table_id_extension: 0x203 (515)\n"
            "    version_number: 0x3 (3)\n"
            "    current_next_indicator: 1\n"
            "    section_number: 0x9 (9)\n"
            "    last_section_number: 0xc (12)\n"
            "    protocol_discriminator: 0x11 (17)\n"
            "    dsmccType: 0x3 (3): \n"
            "    messageId: 0x1003 (4099): \n"
            "    downloadId: 0x10 (16): \n"
            "    adaptationLength: 0 (0): \n"
            "    messageLength: 0x6a (106): \n"
            "    moduleId: 0x203 (515): \n"
            "    moduleVersion: 0x4 (4): \n"
            "    blockNumber: 0x7 (7): \n");
}

TEST(SectionPage, ADiiShowsItsFieldsAndAModulesNodeWithOneChildPerEntry) {
  Capture capture;
  DiiSpec dii;
  dii.header = message_header(kMsgDII, 0x80000002);
  dii.downloadId = 0x10;
  dii.blockSize = 4066;
  dii.windowSize = 1;
  dii.ackPeriod = 2;
  dii.tCDownloadWindow = 0;
  dii.tCDownloadScenario = 0xFFFFFFFF;
  dii.modules = {module_entry(1, 12000, 0), module_entry(0x22, 17, 5, {0xAA, 0xBB, 0xCC})};
  dii.private_data = {1, 2};
  capture.file(1, 0x138e, dii_section(dii));
  CSectionDlg page(&capture.store);
  page.Reset();
  page.Fill();
  const ui::TreeNode* group = node_at(page.tree(), pid_path({"Download Info Indication"}));
  ASSERT_NE(group, nullptr);
  // Body: 18 fixed + 2 numberOfModules + 8 + 11 entries + 2 + 2 private = 43; section: 9 + 12 + 43.
  EXPECT_EQ(ui::headless::render_text(*group),
            "Download Info Indication\n"
            "  download id 0x10 (16)\n"
            "    0x0002\n"
            "      table_id: 0x3b (59)\n"
            "      syntax_indicator: 1\n"
            "      private_indicator: N/A\n"
            "      section_length: 0x40 (64)\n"
            "      table_id_extension: 0x2 (2)\n"
            "      version_number: 0 (0)\n"
            "      current_next_indicator: 1\n"
            "      section_number: 0 (0)\n"
            "      last_section_number: 0 (0)\n"
            "      protocol_discriminator: 0x11 (17)\n"
            "      dsmccType: 0x3 (3): \n"
            "      messageId: 0x1002 (4098): \n"
            "      transcationId: 0x80000002 (2147483650): \n"
            "      adaptationLength: 0 (0): \n"
            "      messageLength: 0x2b (43): \n"
            "      downloadId: 0x10 (16): \n"
            "      blockSize: 0xfe2 (4066): \n"
            "      windowSize: 0x1 (1): \n"
            "      ackPeriod: 0x2 (2): \n"
            "      tcDownloadWindow: 0 (0): \n"
            "      tcDownloadScenario: 0xffffffff (4294967295): \n"
            "      numberOfModules: 0x2 (2): \n"
            "      Modules\n"
            "        0 - 0x1 (1)\n"
            "          moduleId: 0x1 (1): \n"
            "          moduleSize: 0x2ee0 (12000): \n"
            "          moduleVersion: 0 (0): \n"
            "          moduleInfoLength: 0 (0): \n"
            "        1 - 0x22 (34)\n"
            "          moduleId: 0x22 (34): \n"
            "          moduleSize: 0x11 (17): \n"
            "          moduleVersion: 0x5 (5): \n"
            "          moduleInfoLength: 0x3 (3): \n"
            "      privateDataLength: 0x2 (2): \n");
}

TEST(SectionPage, DiisOfOneDownloadIdStandUnderOneNodeByTableIdExtension) {
  Capture capture;
  for (uint32_t transaction : {0x80000006u, 0x80000004u}) {
    DiiSpec dii;
    dii.header = message_header(kMsgDII, transaction);
    dii.downloadId = 0x20;
    capture.file(1, 0x138e, dii_section(dii));
  }
  DiiSpec empty;
  empty.downloadId = 3;
  capture.file(1, 0x138e, dii_section(empty));
  CSectionDlg page(&capture.store);
  page.Reset();
  page.Fill();
  const ui::TreeNode* group = node_at(page.tree(), pid_path({"Download Info Indication"}));
  EXPECT_EQ(child_texts(group), (std::vector<std::string>{"download id 0x3 (3)", "download id 0x20 (32)"}));
  EXPECT_EQ(child_texts(group->child(1)), (std::vector<std::string>{"0x0004", "0x0006"}));
  // A DII without modules still has its "Modules" node, empty.
  const ui::TreeNode* modules = node_at(
      page.tree(), pid_path({"Download Info Indication", "download id 0x3 (3)", "0x0002", "Modules"}));
  ASSERT_NE(modules, nullptr);
  EXPECT_EQ(modules->child_count(), 0u);
}

BiopProfileSpec rich_profile() {
  BiopProfileSpec p = gateway_profile(0x10, 1, {0x00, 0x00, 0x00, 0x01}, 0x0B, 0x80000002);
  p.version_major = 1;
  p.version_minor = 0;
  TapSpec second;
  second.id = 0x0002;
  second.use = 0x0017;
  second.assocTag = 0x000C;
  second.selector = {'s', 'e', 'l'};
  TapSpec third;
  third.id = 0x0003;
  third.use = 0x0018;
  third.assocTag = 0x000D;
  p.taps.push_back(second);
  p.taps.push_back(third);
  p.lite_components = {lite_component(0x49534F05, {0x01, 0x7F, 0x41})};
  return p;
}

int tap_selector_type(Capture& capture, size_t tap) {
  const auto* dsi = capture.store.programs[1].pids[0x138e]->dsi[0].dsi();
  return static_cast<int>(dsi->gateway.profiles.at(0).taps.at(tap).selector_type);
}

TEST(SectionPage, ADsiShowsItsGatewayProfileTapsAndLiteComponents) {
  Capture capture;
  DsiSpec dsi;
  dsi.private_data = build_service_gateway_info(gateway_info(rich_profile()));
  capture.file(1, 0x138e, dsi_section(dsi));
  CSectionDlg page(&capture.store);
  page.Reset();
  page.Fill();
  const ui::TreeNode* node =
      node_at(page.tree(), pid_path({"Download Server Initiate", "transaction id 0 (0)"}));
  ASSERT_NE(node, nullptr);
  const auto lines = child_texts(node);
  // Section header, message header, serverId, compatibilityDescriptor, privateDataLength, gateway.
  ASSERT_EQ(lines.size(), 9u + 6u + 4u);
  EXPECT_EQ(lines[0], "table_id: 0x3b (59)");
  EXPECT_EQ(lines[4], "table_id_extension: 0 (0)");
  EXPECT_EQ(lines[11], "messageId: 0x1006 (4102): ");
  EXPECT_EQ(lines[12], "transcationId: 0x80000000 (2147483648): ");
  EXPECT_EQ(lines[15], "serverId: ffffffffffffffffffffffffffffffffffffffff");
  EXPECT_EQ(lines[16], "compatibilityDescriptor: 0");
  // The gateway: IOR of 4 + 4 ("srg\0") + 4 + 4 + 4 + 68 (profile body), then 1 + 1 + 2 = 92 bytes.
  EXPECT_EQ(lines[17], "privateDataLength: 0x5c (92): ");
  EXPECT_EQ(node->child(17)->child_count(), 12u);
  EXPECT_EQ(lines[18], "ServiceGatewayInfo");

  // IOR "srg\0", one profile; profile body: 2 + 4+1+9+4 (location) + 4+1+1+17 (binder, first tap)
  // + 7 (second tap) + 3 (its selector) + 7 (third tap) + 4+1+3 (lite component) = 68 bytes. The
  // binder's component_data_length is 1 + 17 + 10 + 7 = 0x23. What a later tap holds as selector_type
  // is the decoder's choice; the page shows whatever it holds.
  EXPECT_EQ(ui::headless::render_text(*node->child(18)),
            "ServiceGatewayInfo\n"
            "  IOP::IOR()\n"
            "    taggedProfiles_count: 1\n"
            "    IOP::taggedProfile\n"
            "      0\n"
            "        profileId_tag: 0x49534f06\n"
            "        profile_data_length: 68\n"
            "        profile_data_byte_order: 0\n"
            "        lite_component_count: 3\n"
            "        BIOP::ObjectLocation\n"
            "          componentId_tag: 0x49534f50\n"
            "          component_data_length: 0xd\n"
            "          carouselId: 0x10 (16)\n"
            "          moduleId: 0x1 (1)\n"
            "          version.major: 0x01 (1)\n"
            "          version.minor: 0x00 (0)\n"
            "          objectKey_length: 4\n"
            "            0000: 00 00 00 01 ; ....\n"
            "        DSM::ConnBinder\n"
            "          componentId_tag: 0x49534f40\n"
            "          component_data_length: 0x23\n"
            "          taps_count: 3\n"
            "          DSM::Tap\n"
            "            0\n"
            "              id: 0x0000\n"
            "              use: 0x0016\n"
            "              assocTag: 0x000b\n"
            "              selector_length: 10\n"
            "              selector_type: 1\n"
            "              transactionId: 0x80000002 (2147483650)\n"
            "              timeout: 0xffffffff (-1)\n"
            "            1\n"
            "              id: 0x0002\n"
            "              use: 0x0017\n"
            "              assocTag: 0x000c\n"
            "              selector_length: 3\n"
            "              selector_type: " +
                std::to_string(tap_selector_type(capture, 1)) +
                "\n"
                "              0000: 73 65 6c ; sel\n"
                "            2\n"
                "              id: 0x0003\n"
                "              use: 0x0018\n"
                "              assocTag: 0x000d\n"
                "              selector_length: 0\n"
                "              selector_type: " +
                std::to_string(tap_selector_type(capture, 2)) +
                "\n"
                "        BIOP::LiteComponent\n"
                "          0\n"
                "            componentId_tag: 0x49534f05\n"
                "            component_data_length: 3\n"
                "            0000: 01 7f 41 ; ..A\n"
                "  downloadTaps_count: 0\n"
                "  serviceContextList_count: 0\n"
                "  userInfoLength: 0\n");
}

TEST(SectionPage, AGatewayWithoutProfilesHasNoTaggedProfileNode) {
  Capture capture;
  ServiceGatewayInfoSpec gateway;  // an IOR with no profile at all
  gateway.user_info = {1, 2, 3};
  DsiSpec dsi;
  dsi.private_data = build_service_gateway_info(gateway);
  capture.file(1, 0x138e, dsi_section(dsi));
  CSectionDlg page(&capture.store);
  page.Reset();
  page.Fill();
  const ui::TreeNode* info = node_at(
      page.tree(), pid_path({"Download Server Initiate", "transaction id 0 (0)", "ServiceGatewayInfo"}));
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(ui::headless::render_text(*info),
            "ServiceGatewayInfo\n"
            "  IOP::IOR()\n"
            "    taggedProfiles_count: 0\n"
            "  downloadTaps_count: 0\n"
            "  serviceContextList_count: 0\n"
            "  userInfoLength: 3\n");
}

TEST(SectionPage, AProfileWithTwoLiteComponentsHasNoLiteComponentNode) {
  Capture capture;
  BiopProfileSpec profile = gateway_profile(0x10, 1, {}, 0x0B, 0x80000002);
  DsiSpec dsi;
  dsi.private_data = build_service_gateway_info(gateway_info(profile));
  capture.file(1, 0x138e, dsi_section(dsi));
  CSectionDlg page(&capture.store);
  page.Reset();
  page.Fill();
  const ui::TreeNode* record =
      node_at(page.tree(), pid_path({"Download Server Initiate", "transaction id 0 (0)", "ServiceGatewayInfo",
                                     "IOP::IOR()", "IOP::taggedProfile", "0"}));
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(child_texts(record),
            (std::vector<std::string>{"profileId_tag: 0x49534f06", "profile_data_length: 39",
                                      "profile_data_byte_order: 0", "lite_component_count: 2",
                                      "BIOP::ObjectLocation", "DSM::ConnBinder"}));
  // An empty object key: its length node holds no dump line.
  const ui::TreeNode* key = node_at(
      page.tree(),
      pid_path({"Download Server Initiate", "transaction id 0 (0)", "ServiceGatewayInfo", "IOP::IOR()",
                "IOP::taggedProfile", "0", "BIOP::ObjectLocation", "objectKey_length: 0"}));
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->child_count(), 0u);
}

TEST(SectionPage, PrivateDataDumpsFullLinesWithoutPaddingTheLastOne) {
  for (size_t size : {0u, 17u}) {
    SCOPED_TRACE(size);
    Capture capture;
    DsiSpec dsi;
    // Not a gateway: the page still dumps the bytes as they came.
    dsi.private_data = std::vector<uint8_t>(size, 0x09);
    if (size) dsi.private_data.back() = 0x20;
    capture.file(1, 0x138e, dsi_section(dsi));
    CSectionDlg page(&capture.store);
    page.Reset();
    page.Fill();
    const ui::TreeNode* node =
        node_at(page.tree(), pid_path({"Download Server Initiate", "transaction id 0 (0)"}));
    ASSERT_NE(node, nullptr);
    const ui::TreeNode* dump = node->child(17);
    if (size == 0) {
      EXPECT_EQ(ui::headless::render_text(*dump), "privateDataLength: 0 (0): \n");
      continue;
    }
    EXPECT_EQ(ui::headless::render_text(*dump),
              "privateDataLength: 0x11 (17): \n"
              "  0000: 09 09 09 09 09 09 09 09 ; ........\n"
              "  0008: 09 09 09 09 09 09 09 09 ; ........\n"
              "  0010: 20 ;  \n");
  }
}

TEST(SectionPage, ANullStoreGivesTheRootAlone) {
  CSectionDlg page(nullptr);
  page.Reset();
  page.Fill();
  EXPECT_EQ(ui::headless::render_text(page.tree()), ROOT + "\n");
  EXPECT_TRUE(page.root()->expanded());
}

}  // namespace

// ---- a real capture -----------------------------------------------------------------------------

namespace {

size_t count_nodes(const ui::TreeNode* node) {
  size_t n = 1;
  for (const auto& c : node->children()) n += count_nodes(c.get());
  return n;
}

TEST(SectionPage, StopsGrowingAtItsNodeLimitAndStartsAfreshAfterReset) {
  Capture capture;
  for (uint16_t module = 1; module <= 40; ++module) capture.file(1, 0x138e, ddb_section(ddb(0x10, module, 0, 8)));
  CSectionDlg page(&capture.store);
  page.Reset();
  page.Fill();
  const size_t whole = count_nodes(page.root());
  ASSERT_GT(whole, 200u);

  page.set_node_limit(150);
  page.Reset();
  page.Fill();
  EXPECT_EQ(count_nodes(page.root()), 150u);
  EXPECT_EQ(page.tree().top_level().size(), 1u) << "nothing may spill to the top level";
  EXPECT_EQ(page.tree().node_count(), 150u);

  page.set_node_limit(whole);
  page.Reset();
  page.Fill();
  EXPECT_EQ(count_nodes(page.root()), whole);
}

}  // namespace
