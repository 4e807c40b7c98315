#include "ProtocolTestSupport.h"

namespace palvero::testing {
namespace {

using CatalogueTest = ProtocolTest;

TEST_F(CatalogueTest, FillsTheFormatWithIdentityAndParameters) {
  struct Case {
    uint32_t type;
    std::vector<std::string> params;
    std::string expected;
  };
  const std::vector<std::string> four = {"P1", "P2", "P3", "P4"};
  for (const Case& c :
       {Case{1, four, "request=auth&guid=GUID-1&password=PASS-1"},
        Case{4, {"/a b/c", "2"}, "request=get_folder&guid=GUID-1&path=%2Fa+b%2Fc"},
        Case{
            6, {"/a b/c", "2", "DEV"}, "request=get_folder_page&guid=GUID-1&path=%2Fa+b%2Fc&page=2&sourceDeviceId=DEV"},
        Case{7, {"/x/é"}, "request=get_files_list&guid=GUID-1&path=%2Fx%2F%C3%A9"},
        // Only the folder requests encode: the others take their values as given.
        Case{8, {"%2Fa", "-1", "1", "DEV"}, "request=get_ver&guid=GUID-1&file=%2Fa&version=-1&undelete=1"},
        Case{26, four, "request=ping"},
        // Past the catalogue: nothing to send.
        Case{30, four, ""}, Case{31, four, ""}, Case{4000000000u, four, ""},
        // A "%" or "%@" inside a value is inserted as it is, not read as a format.
        Case{2, {"100%@x", "%s%n"}, "request=register&username=100%@x&password=%s%n"}}) {
    SCOPED_TRACE(c.type);
    std::vector<std::string> p = c.params;
    p.resize(4);
    EXPECT_EQ(server_->getStringForRequest(c.type, p[0], p[1], p[2], p[3]), c.expected);
  }
  // The identity is read at each call.
  LocalSettings::sharedManager().setClientId("DEVICE-2");
  EXPECT_EQ(server_->getStringForRequest(17), "request=get_statistic_by_categories&guid=DEVICE-2");
}

}  // namespace
}  // namespace palvero::testing
