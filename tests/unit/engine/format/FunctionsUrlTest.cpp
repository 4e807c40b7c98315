#include <gtest/gtest.h>

#include "engine/format/util/Functions.h"

namespace palvero {
namespace {

TEST(UrlEncodeTest, EncodesFormValues) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {" ", "+"},
      {"/", "%2F"},
      {"\xC3\xA9", "%C3%A9"},
      {"AZaz09-._~", "AZaz09-._~"},
      {"/Users/ann/My Documents/caf\xC3\xA9.txt", "%2FUsers%2Fann%2FMy+Documents%2Fcaf%C3%A9.txt"},
      {"a+b&c=d%e", "a%2Bb%26c%3Dd%25e"},
      {"[\"/x\"]", "%5B%22%2Fx%22%5D"},
      {"tab\there\nnl", "tab%09here%0Anl"},
      // A Linux file name that is not UTF-8 is encoded byte for byte.
      {std::string("bad\xFF\xFE", 5), "bad%FF%FE"},
      {std::string("nul\0in", 6), "nul%00in"},
  };
  for (const auto& [text, encoded] : cases) EXPECT_EQ(Functions::UrlEncode(text), encoded);
}

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
