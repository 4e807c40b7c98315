#include "ProtocolTestSupport.h"

namespace palvero::testing {
namespace {

struct CatalogueCase {
  uint32_t type;
  std::vector<std::string> params;
  std::string expected;
};

void PrintTo(const CatalogueCase& c, std::ostream* os) { *os << "type " << c.type; }

class CatalogueTest : public ProtocolTest, public ::testing::WithParamInterface<CatalogueCase> {};

TEST_P(CatalogueTest, FillsTheFormatWithIdentityAndParameters) {
  const auto& c = GetParam();
  std::vector<std::string> p = c.params;
  p.resize(4);
  EXPECT_EQ(server_->getStringForRequest(c.type, p[0], p[1], p[2], p[3]), c.expected);
}

const std::vector<std::string> kFour = {"P1", "P2", "P3", "P4"};

INSTANTIATE_TEST_SUITE_P(
    EveryType, CatalogueTest,
    ::testing::Values(
        CatalogueCase{0, kFour, "request=get_account&guid=GUID-1&password=PASS-1"},
        CatalogueCase{1, kFour, "request=auth&guid=GUID-1&password=PASS-1"},
        CatalogueCase{2, kFour, "request=register&username=P1&password=P2"},
        CatalogueCase{3, kFour, "request=register_device&clientId=P1&password=P2&device=P3"},
        CatalogueCase{4, {"/a b/c", "2"}, "request=get_folder&guid=GUID-1&path=%2Fa+b%2Fc"},
        CatalogueCase{5, {"/a b/c", "2"}, "request=get_folder_page&guid=GUID-1&path=%2Fa+b%2Fc&page=2"},
        CatalogueCase{
            6, {"/a b/c", "2", "DEV"}, "request=get_folder_page&guid=GUID-1&path=%2Fa+b%2Fc&page=2&sourceDeviceId=DEV"},
        CatalogueCase{7, {"/x/é"}, "request=get_files_list&guid=GUID-1&path=%2Fx%2F%C3%A9"},
        CatalogueCase{8, {"%2Fa", "-1", "1", "DEV"}, "request=get_ver&guid=GUID-1&file=%2Fa&version=-1&undelete=1"},
        CatalogueCase{9,
                      {"%2Fa", "-1", "1", "DEV"},
                      "request=get_ver&guid=GUID-1&file=%2Fa&version=-1&undelete=1&sourceDeviceId=DEV"},
        CatalogueCase{10, kFour, "request=get_speed&guid=GUID-1"},
        CatalogueCase{11,
                      {"[{ \"size\": 1, \"checksum\": \"AB\"}]"},
                      "request=check_block&guid=GUID-1&blocks=[{ \"size\": 1, \"checksum\": \"AB\"}]"},
        CatalogueCase{12, kFour, "request=upload_block&guid=GUID-1&checksum=P1&size=P2"},
        CatalogueCase{13, kFour, "request=upload_blocks_multi&guid=GUID-1&blocks=P1"},
        CatalogueCase{14, kFour, "request=get_block&guid=GUID-1&checksum=P1&size=P2"},
        CatalogueCase{15, kFour, "request=delete&guid=GUID-1&path=P1&size=P2&extension=P3&immediately=P4"},
        CatalogueCase{16, kFour, "request=upload_ver&guid=GUID-1&file_name=P1&size=P2&modified=P3&file=P4"},
        CatalogueCase{17, kFour, "request=get_statistic_by_categories&guid=GUID-1"},
        CatalogueCase{18, kFour, "request=save_settings&guid=GUID-1&type=P1&data=P2"},
        CatalogueCase{19, kFour, "request=load_settings&guid=GUID-1&type=P1"},
        CatalogueCase{20, kFour, "request=forgot_pas&user=P1"}, CatalogueCase{21, kFour, "request=get_server_params"},
        CatalogueCase{22, kFour, "request=get_top10&guid=GUID-1&category=P1&page=P2"},
        CatalogueCase{23, kFour, "request=send_logs&guid=GUID-1&osVersion=P1&message=P2"},
        CatalogueCase{24, kFour, "request=check_version&guid=GUID-1&type=P1"},
        CatalogueCase{25, kFour, "request=download_update&guid=GUID-1&type=P1"},
        CatalogueCase{26, kFour, "request=ping"}, CatalogueCase{27, kFour, "request=get_support_info&guid=GUID-1"},
        CatalogueCase{28, kFour, "request=status&guid=GUID-1"},
        CatalogueCase{29, kFour, "request=send_serial_numbers&guid=GUID-1"},
        // Past the catalogue: nothing to send.
        CatalogueCase{30, kFour, ""}, CatalogueCase{31, kFour, ""}, CatalogueCase{4000000000u, kFour, ""},
        // A "%" or "%@" inside a value is inserted as it is, not read as a format.
        CatalogueCase{2, {"100%@x", "%s%n"}, "request=register&username=100%@x&password=%s%n"}));

TEST_F(ProtocolTest, CatalogueReadsTheIdentityAtEachCall) {
  EXPECT_EQ(server_->getStringForRequest(17), "request=get_statistic_by_categories&guid=GUID-1");
  LocalSettings::sharedManager().setClientId("DEVICE-2");
  EXPECT_EQ(server_->getStringForRequest(17), "request=get_statistic_by_categories&guid=DEVICE-2");
}

}  // namespace
}  // namespace palvero::testing
