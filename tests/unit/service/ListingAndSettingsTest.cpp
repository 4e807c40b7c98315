#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>

#include "FileCategories.h"
#include "FolderListing.h"
#include "SettingsDocument.h"
#include "ZipPacker.h"

namespace palvero::service {
namespace {

VersionRow row(const std::string& path, int64_t number, int64_t size, bool deleted = false) {
  VersionRow v;
  v.path = path;
  v.number = number;
  v.size = size;
  v.modified = "2024013" + std::to_string(number) + " 10:00:00";
  v.toDelete = deleted;
  return v;
}

// Rows as the store gives them: by path, then number.
std::vector<VersionRow> sampleRows() {
  return {row("/home/ann/a.txt", 1, 10),
          row("/home/ann/a.txt", 2, 12),
          row("/home/ann/docs/old/x.doc", 1, 5, true),
          row("/home/ann/docs/y.doc", 1, 7),
          row("/home/ann/gone/z", 1, 3, true),
          row("C:/Users/b.txt", 1, 1)};
}

std::vector<std::string> kinds(const std::vector<Value>& entries) {
  std::vector<std::string> out;
  for (const auto& e : entries) {
    for (const char* k : {"drive", "folder", "file"}) {
      if (e.contains(k)) out.push_back(std::string(k) + ":" + e[k].get<std::string>());
    }
  }
  return out;
}

TEST(FolderListingTest, TheTopLevelHoldsTheDrives) {
  EXPECT_EQ(kinds(FolderListing::entries(sampleRows(), "")), (std::vector<std::string>{"drive:/", "drive:C:"}));
}

TEST(FolderListingTest, AFolderListsFoldersThenFilesByName) {
  for (const char* path : {"/home/ann", "/home/ann/", "//home//ann"}) {
    SCOPED_TRACE(path);
    auto entries = FolderListing::entries(sampleRows(), path);
    EXPECT_EQ(kinds(entries), (std::vector<std::string>{"folder:docs", "folder:gone", "file:a.txt"}));
    EXPECT_EQ(entries[0]["toDelete"], 0);  // docs holds a live file
    EXPECT_EQ(entries[1]["toDelete"], 1);  // everything under gone is deleted
    EXPECT_EQ(entries[2]["size"], 12);
    EXPECT_EQ(entries[2]["version"].size(), 2u);
    EXPECT_EQ(entries[2]["version"][1], (Value{{"number", 2}, {"size", 12}, {"modified", "20240132 10:00:00"}}));
  }
  EXPECT_EQ(kinds(FolderListing::entries(sampleRows(), "/")), std::vector<std::string>{"folder:home"});
  EXPECT_EQ(kinds(FolderListing::entries(sampleRows(), "C:")), std::vector<std::string>{"folder:Users"});
  EXPECT_EQ(kinds(FolderListing::entries(sampleRows(), "C:/Users")), std::vector<std::string>{"file:b.txt"});
  // A name that merely starts like the folder is not inside it.
  EXPECT_TRUE(FolderListing::entries(sampleRows(), "/home/an").empty());
}

TEST(FolderListingTest, TheWholeTreeNamesEverythingBeneathByItsPathBelowTheRoot) {
  for (const char* path : {"/home/ann", "/home/ann/", "//home//ann"}) {
    SCOPED_TRACE(path);
    auto tree = FolderListing::tree(sampleRows(), path);
    EXPECT_EQ(kinds(tree), (std::vector<std::string>{"folder:home/ann/docs", "folder:home/ann/docs/old",
                                                     "folder:home/ann/gone", "file:home/ann/a.txt",
                                                     "file:home/ann/docs/old/x.doc", "file:home/ann/docs/y.doc",
                                                     "file:home/ann/gone/z"}));
    EXPECT_EQ(tree[0]["toDelete"], false);  // docs holds a live file
    EXPECT_EQ(tree[1]["toDelete"], true);
    EXPECT_EQ(tree[3]["size"], 12);
    EXPECT_EQ(tree[3]["version"].size(), 2u);
    EXPECT_EQ(tree[4]["toDelete"], true);
    EXPECT_EQ(tree[5]["toDelete"], false);
  }
  // "/" holds the absolute paths, "" every path; a drive of another system
  // keeps its name.
  EXPECT_EQ(kinds(FolderListing::tree(sampleRows(), "/"))[0], "folder:home");
  EXPECT_EQ(FolderListing::tree(sampleRows(), "").size(), FolderListing::tree(sampleRows(), "/").size() + 3);
  EXPECT_EQ(kinds(FolderListing::tree(sampleRows(), "C:")),
            (std::vector<std::string>{"folder:C:/Users", "file:C:/Users/b.txt"}));
  // Nothing for a name that merely starts like the folder.
  EXPECT_TRUE(FolderListing::tree(sampleRows(), "/home/an").empty());
}

TEST(FolderListingTest, PagesCoverEveryEntryOnce) {
  std::vector<Value> entries;
  for (int i = 0; i < 5; ++i) entries.push_back({{"file", std::to_string(i)}});
  struct Case {
    int64_t page, size, pages;
    size_t count;
  };
  for (const Case& c : {Case{1, 2, 3, 2}, Case{3, 2, 3, 1}, Case{4, 2, 3, 0}, Case{0, 2, 3, 2}, Case{1, 5, 1, 5},
                        Case{1, 100, 1, 5}, Case{1, 0, 5, 1}}) {
    SCOPED_TRACE(std::to_string(c.page) + "/" + std::to_string(c.size));
    Value page = FolderListing::page(entries, c.page, c.size);
    EXPECT_EQ(page["pagesCount"], c.pages);
    EXPECT_EQ(page["data"].size(), c.count);
  }
  EXPECT_EQ(FolderListing::page({}, 1, 10), (Value{{"pagesCount", 1}, {"page", 1}, {"data", Value::array()}}));
}

// --- The one-entry archive ------------------------------------------------------

uint32_t le32(const std::string& s, size_t at) {
  return static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8 | static_cast<uint8_t>(s[at + 2]) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}
uint16_t le16(const std::string& s, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8);
}

std::string inflateRaw(const std::string& packed, size_t size) {
  std::string out(size, '\0');
  z_stream stream{};
  inflateInit2(&stream, -MAX_WBITS);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  stream.avail_in = static_cast<uInt>(packed.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  int result = inflate(&stream, Z_FINISH);
  inflateEnd(&stream);
  EXPECT_EQ(result, Z_STREAM_END);
  return out;
}

TEST(ZipPackerTest, TheArchiveHoldsOneDeflatedEntryWithItsCrc) {
  for (size_t size : {0u, 1u, 1000u, 300000u}) {
    SCOPED_TRACE(size);
    std::string content;
    for (size_t i = 0; i < size; ++i) content.push_back(static_cast<char>((i * 7919) % 251));
    std::string zip = ZipPacker::packOneEntry("files.json", content);
    ASSERT_EQ(le32(zip, 0), 0x04034b50u);
    EXPECT_EQ(le16(zip, 8), 8);  // deflated
    uint32_t crc = le32(zip, 14);
    uint32_t packedSize = le32(zip, 18);
    EXPECT_EQ(le32(zip, 22), size);
    ASSERT_EQ(le16(zip, 26), 10);
    EXPECT_EQ(zip.substr(30, 10), "files.json");
    std::string packed = zip.substr(30 + 10 + le16(zip, 28), packedSize);
    std::string unpacked = inflateRaw(packed, size);
    EXPECT_EQ(unpacked, content);
    EXPECT_EQ(crc, crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size())));
    // The end record points at a central directory with one entry.
    size_t end = zip.size() - 22;
    ASSERT_EQ(le32(zip, end), 0x06054b50u);
    EXPECT_EQ(le16(zip, end + 10), 1);
    EXPECT_EQ(le32(zip, le32(zip, end + 16)), 0x02014b50u);
  }
}

// --- Settings bodies ------------------------------------------------------------

TEST(SettingsDocumentTest, UnsetValuesOfTheClientsBodiesAreReadAsUnset) {
  auto exclusions = SettingsDocument::parse(
      R"J({"Exclusions":{"items":{"extensions":{"picture":[]},"size":(null),"emptyfiles":false},"includefolders":["/a (null)"]}})J");
  ASSERT_TRUE(exclusions);
  EXPECT_TRUE((*exclusions)["Exclusions"]["items"]["size"].is_null());
  EXPECT_EQ((*exclusions)["Exclusions"]["includefolders"][0], "/a (null)");
  auto backup = SettingsDocument::parse(R"J({ "BackupTimingType": "1", "BackupTimingTime": "(null)"})J");
  ASSERT_TRUE(backup);
  EXPECT_EQ(*backup, (Value{{"BackupTimingType", "1"}}));
  for (const char* bad : {"", "[1]", "{\"a\":", "(null)", "\"text\""}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(SettingsDocument::parse(bad));
  }
}

TEST(FileCategoriesTest, ExtensionsDecideTheCategory) {
  struct Case {
    const char* path;
    const char* category;
  };
  for (const Case& c : {Case{"/a/b.JPG", "pictures"}, Case{"/a/b.mp3", "music"}, Case{"/a/b.docx", "documents"},
                        Case{"/a/b.mkv", "video"}, Case{"/a/b.eml", "email"}, Case{"/a/b.iso", "other"},
                        Case{"/a/README", "other"}, Case{"/a.jpg/b", "other"}, Case{"/a/.png", "other"}}) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(FileCategories::categoryOf(c.path), c.category);
  }
}

}  // namespace
}  // namespace palvero::service
