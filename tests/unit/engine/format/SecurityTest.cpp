#include <gtest/gtest.h>

#include "FormatTestSupport.h"
#include "engine/format/Aes256.h"
#include "engine/format/CipherKey.h"
#include "engine/format/Security.h"
#include "support/TempHome.h"

namespace palvero {
namespace {

class SecurityTest : public ::testing::Test {
 protected:
  // Encrypts `data` with `openssl enc` under the given key and vector.
  Bytes opensslEncrypt(const Bytes& data, const std::string& keyHex, const std::string& ivHex) {
    std::string in = home_ / "plain.bin";
    std::string out = home_ / "cipher.bin";
    testing::writeFile(in, stringFromBytes(data));
    auto result = testing::runCommand("openssl enc -aes-256-cbc -K " + keyHex + " -iv " + ivHex + " -in " +
                                      testing::shellQuote(in) + " -out " + testing::shellQuote(out));
    EXPECT_EQ(result.exitCode, 0);
    return bytesFromString(testing::readFile(out));
  }
  // The hex of `text` converted by the iconv command (an independent CP1251).
  std::string iconvHex(const std::string& text, const std::string& to) {
    std::string in = home_ / "text.txt";
    testing::writeFile(in, text);
    auto result = testing::runCommand("iconv -f UTF-8 -t " + to + " " + testing::shellQuote(in) + " | od -An -tx1 -v");
    EXPECT_EQ(result.exitCode, 0);
    std::string hex;
    for (char c : result.output) {
      if (std::isxdigit(static_cast<unsigned char>(c))) hex += c;
    }
    return hex;
  }

  testing::TempHome home_;
  std::mt19937_64 rng_{42};
  Security security_;
};

std::string asciiHex(const std::string& text) { return testing::hexOf(bytesFromString(text)); }

TEST_F(SecurityTest, AsciiCipherTextsMatchOpensslEnc) {
  // Doubling: 10 -> 20 -> 40 characters, 20 -> 40, 32 stays.
  struct Case {
    std::string cipherText;
    std::string doubled;
  };
  const Case cases[] = {
      {"0123456789", "0123456789012345678901234567890123456789"},
      {"abcdefghijABCDEFGHIJ", "abcdefghijABCDEFGHIJabcdefghijABCDEFGHIJ"},
      {"Kx9!pQ2#zL7@mN4$wR8%tY1^uI6&oP3*", "Kx9!pQ2#zL7@mN4$wR8%tY1^uI6&oP3*"},
      {"a", std::string(32, 'a')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cipherText);
    std::string ivHex = asciiHex(c.doubled.substr(0, 16));
    std::string keyHex = asciiHex(c.doubled.substr(c.doubled.size() - 32));
    for (size_t size : {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{17}, size_t{4000}, size_t{256000}}) {
      SCOPED_TRACE(size);
      Bytes plain = testing::randomBytes(rng_, size);
      Bytes expected = opensslEncrypt(plain, keyHex, ivHex);
      auto ours = AES256EncryptWithKey(plain, c.cipherText);
      ASSERT_TRUE(ours);
      EXPECT_EQ(*ours, expected);
      EXPECT_EQ(ours->size(), (size / 16 + 1) * 16);
      Bytes inPlace = plain;
      ASSERT_TRUE(security_.EncryptStream(inPlace, c.cipherText));
      EXPECT_EQ(inPlace, expected);
      auto back = AES256DecryptWithKey(expected, c.cipherText);
      ASSERT_TRUE(back);
      EXPECT_EQ(*back, plain);
      ASSERT_TRUE(security_.DecryptRefStream(inPlace, c.cipherText));
      EXPECT_EQ(inPlace, plain);
    }
  }
}

TEST_F(SecurityTest, NonAsciiCipherTextsUseUtf8VectorAndCp1251Key) {
  // 16 ASCII characters then 31 Cyrillic ones: no doubling; the vector is
  // the ASCII head, the key "p" + the Cyrillic tail in Windows-1251.
  std::string head = "abcdefghijklmnop";
  std::string cyrillic = "ПРИВЕТмирПРИВЕТмирПРИВЕТмирПРИВ";
  auto key = CipherKey::derive(head + cyrillic);
  ASSERT_TRUE(key);
  std::string keyHex = iconvHex("p" + cyrillic, "WINDOWS-1251");
  ASSERT_EQ(keyHex.size(), 64u);
  EXPECT_EQ(testing::hexOf(Bytes(key->key.begin(), key->key.end())), keyHex);
  EXPECT_EQ(std::string(key->iv.begin(), key->iv.end()), head);

  Bytes plain = testing::randomBytes(rng_, 1000);
  EXPECT_EQ(AES256EncryptWithKey(plain, head + cyrillic), opensslEncrypt(plain, keyHex, asciiHex(head)));
}

TEST_F(SecurityTest, UnencodableCharactersGiveZeroFields) {
  const std::string zeros32(64, '0');
  const std::string zeros16(32, '0');
  struct Case {
    const char* what;
    std::string cipherText;
    bool zeroIv;
    bool zeroKey;
  };
  const Case cases[] = {
      // 10 Cyrillic letters: the vector's 16 letters take 32 UTF-8 bytes.
      {"long UTF-8 head", "ПарольТест", true, false},
      // Not in Windows-1251: zero key; the head is 48 bytes of UTF-8.
      {"CJK", "密码密码密码密码", true, true},
      // 17 units doubled to 34: both cuts split a surrogate pair.
      {"split surrogate pairs", "a😀😀😀😀😀😀😀😀", true, true},
      // Only the key side cannot be encoded.
      {"euro sign tail", "abcdefghijklmnop" + std::string("€€€€€€€€€€€€€€€€€€€€€€€€€€€€€€€✓"), false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto key = CipherKey::derive(c.cipherText);
    ASSERT_TRUE(key);
    std::string ivHex = testing::hexOf(Bytes(key->iv.begin(), key->iv.end()));
    std::string keyHex = testing::hexOf(Bytes(key->key.begin(), key->key.end()));
    EXPECT_EQ(ivHex == zeros16, c.zeroIv);
    EXPECT_EQ(keyHex == zeros32, c.zeroKey);
    Bytes plain = testing::randomBytes(rng_, 33);
    EXPECT_EQ(AES256EncryptWithKey(plain, c.cipherText), opensslEncrypt(plain, keyHex, ivHex));
  }
  // The doubled text is 40 letters; the key is its last 32 in Windows-1251.
  auto cyrillic = CipherKey::derive("ПарольТест");
  ASSERT_TRUE(cyrillic);
  EXPECT_EQ(testing::hexOf(Bytes(cyrillic->key.begin(), cyrillic->key.end())),
            iconvHex("стПарольТестПарольТестПарольТест", "WINDOWS-1251"));
}

TEST_F(SecurityTest, WrongCipherTextAlmostNeverDecrypts) {
  Bytes plain = testing::randomBytes(rng_, 4096);
  auto encrypted = AES256EncryptWithKey(plain, "the right cipher text");
  ASSERT_TRUE(encrypted);
  int failures = 0;
  for (int i = 0; i < 64; ++i) {
    std::string other = "another cipher text #" + std::to_string(i);
    auto back = AES256DecryptWithKey(*encrypted, other);
    if (!back) {
      ++failures;
    } else {
      EXPECT_NE(*back, plain);  // a lucky padding still gives garbage
    }
    EXPECT_FALSE(security_.DecryptStream(*encrypted, other) && *security_.DecryptStream(*encrypted, other) == plain);
  }
  EXPECT_GE(failures, 56);
}

TEST_F(SecurityTest, DamagedCipherTextFailsWithoutPartialOutput) {
  Bytes plain = testing::randomBytes(rng_, 100);  // 7 bytes of padding: 0x0c
  Bytes good = *AES256EncryptWithKey(plain, "k");
  ASSERT_EQ(good.size(), 112u);
  struct Case {
    const char* what;
    Bytes data;
  };
  Bytes truncated(good.begin(), good.end() - 1);
  Bytes shortened(good.begin(), good.end() - 16);
  Bytes flippedPadding = good;
  flippedPadding[good.size() - 17] ^= 0x80;  // flips the high bit of the last padding byte
  const Case cases[] = {{"truncated", truncated},
                        {"empty", {}},
                        {"flipped padding", flippedPadding},
                        {"one block", Bytes(good.begin(), good.begin() + 16)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(AES256DecryptWithKey(c.data, "k"));
    EXPECT_FALSE(security_.DecryptStream(c.data, "k"));
    Bytes stream = c.data;
    EXPECT_FALSE(security_.DecryptRefStream(stream, "k"));
    EXPECT_TRUE(stream.empty());
  }
  // A shortened but block-aligned text may or may not pad correctly; when it
  // does, it is a prefix, never the original.
  auto maybe = AES256DecryptWithKey(shortened, "k");
  if (maybe) {
    EXPECT_NE(*maybe, plain);
  }
}

TEST_F(SecurityTest, EmptyOrMalformedCipherTextFails) {
  for (const std::string& key : {std::string(), std::string("\xff\xfe"), std::string("abc\xc3")}) {
    SCOPED_TRACE(testing::hexOf(bytesFromString(key)));
    EXPECT_FALSE(CipherKey::derive(key));
    EXPECT_FALSE(AES256EncryptWithKey(Bytes{1, 2, 3}, key));
    Bytes stream{1, 2, 3};
    EXPECT_FALSE(security_.EncryptStream(stream, key));
    EXPECT_TRUE(stream.empty());
  }
}

TEST_F(SecurityTest, CachedKeyFollowsTheCipherText) {
  Bytes plain = testing::randomBytes(rng_, 64);
  Bytes first = plain;
  Bytes second = plain;
  ASSERT_TRUE(security_.EncryptStream(first, "first cipher"));
  ASSERT_TRUE(security_.EncryptStream(second, "second cipher"));
  EXPECT_NE(first, second);
  EXPECT_EQ(first, *AES256EncryptWithKey(plain, "first cipher"));
  EXPECT_EQ(second, *AES256EncryptWithKey(plain, "second cipher"));
  EXPECT_EQ(security_.DecryptStream(first, "first cipher"), plain);
}

}  // namespace
}  // namespace palvero
