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
        CatalogueCase{1, kFour, "request=auth&guid=GUID-1&password=PASS-1"},
        CatalogueCase{4, {"/a b/c", "2"}, "request=get_folder&guid=GUID-1&path=%2Fa+b%2Fc"},
        CatalogueCase{
            6, {"/a b/c", "2", "DEV"}, "request=get_folder_page&guid=GUID-1&path=%2Fa+b%2Fc&page=2&sourceDeviceId=DEV"},
        CatalogueCase{7, {"/x/é"}, "request=get_files_list&guid=GUID-1&path=%2Fx%2F%C3%A9"},
        // Only the folder requests encode: the others take their values as given.
        CatalogueCase{8, {"%2Fa", "-1", "1", "DEV"}, "request=get_ver&guid=GUID-1&file=%2Fa&version=-1&undelete=1"},
        CatalogueCase{26, kFour, "request=ping"},
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
