#include <gtest/gtest.h>

#include "engine/format/util/Functions.h"

namespace palvero {
namespace {

struct UrlCase {
  std::string text;
  std::string encoded;
};

void PrintTo(const UrlCase& c, std::ostream* os) { *os << c.encoded; }

class UrlEncodeTest : public ::testing::TestWithParam<UrlCase> {};

TEST_P(UrlEncodeTest, EncodesFormValues) { EXPECT_EQ(Functions::UrlEncode(GetParam().text), GetParam().encoded); }

INSTANTIATE_TEST_SUITE_P(Cases, UrlEncodeTest,
                         ::testing::Values(UrlCase{"", ""}, UrlCase{" ", "+"}, UrlCase{"/", "%2F"},
                                           UrlCase{"\xC3\xA9", "%C3%A9"}, UrlCase{"AZaz09-._~", "AZaz09-._~"},
                                           UrlCase{"/Users/ann/My Documents/caf\xC3\xA9.txt",
                                                   "%2FUsers%2Fann%2FMy+Documents%2Fcaf%C3%A9.txt"},
                                           UrlCase{"a+b&c=d%e", "a%2Bb%26c%3Dd%25e"},
                                           UrlCase{"[\"/x\"]", "%5B%22%2Fx%22%5D"},
                                           UrlCase{"tab\there\nnl", "tab%09here%0Anl"},
                                           // A Linux file name that is not UTF-8 is encoded byte for byte.
                                           UrlCase{std::string("bad\xFF\xFE", 5), "bad%FF%FE"},
                                           UrlCase{std::string("nul\0in", 6), "nul%00in"}));

TEST(UrlEncodeBytesTest, EveryByteRoundTripsThroughPercentDecoding) {
  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  std::string encoded = *Functions::UrlEncode(all);
  std::string decoded;
  for (size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == '+') {
      decoded.push_back(' ');
    } else if (encoded[i] == '%') {
      decoded.push_back(static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      decoded.push_back(encoded[i]);
    }
  }
  EXPECT_EQ(decoded, all);
  EXPECT_EQ(encoded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~%+"),
            std::string::npos);
}

}  // namespace
}  // namespace palvero
