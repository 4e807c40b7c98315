#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <set>
#include <tuple>

#include "ZipTestSupport.h"
#include "engine/format/BlockCutter.h"
#include "engine/format/Compressor.h"
#include "engine/format/ZipArchive.h"
#include "engine/format/ZipWriter.h"
#include "platform/Env.h"
#include "platform/FaultyFileSystem.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

namespace fs = std::filesystem;

class RecordingDelegate : public ZipArchiveDelegate {
 public:
  void ErrorMessage(const std::string& message) override { messages.push_back(message); }
  bool OverWriteOperation(const std::string&) override { return true; }
  std::vector<std::string> messages;
};

class ZipArchiveTest : public ::testing::Test {
 protected:
  // Writes an archive with our writer (which takes any name) at `path`.
  void makeArchive(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries) {
    ZipWriter writer;
    ASSERT_TRUE(writer.openFile(path));
    for (const auto& [name, data] : entries) {
      ASSERT_TRUE(writer.addEntry(name, bytesFromString(data), Date::fromLocalComponents(2021, 6, 15, 10, 20, 30)));
    }
    ASSERT_TRUE(writer.close());
  }
  bool extract(const std::string& archivePath, const std::string& folder) {
    ZipArchive archive(&delegate_);
    if (!archive.UnzipOpenFile(archivePath)) return false;
    bool ok = archive.UnzipFileTo(folder, true);
    EXPECT_TRUE(archive.UnzipCloseFile());
    return ok;
  }
  // Every file and folder under the home folder, relative.
  std::set<std::string> everything() const {
    std::set<std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(home_.path())) {
      out.insert(fs::relative(entry.path(), home_.path()).string());
    }
    return out;
  }

  testing::TempHome home_;
  RecordingDelegate delegate_;
  std::mt19937_64 rng_{99};
};

TEST_F(ZipArchiveTest, ExtractsFoldersFilesAndDates) {
  std::string archivePath = home_ / "a.zip";
  makeArchive(archivePath, {{"top.txt", "top"}, {"dir/", ""}, {"dir/sub/inner.txt", "inner"}, {"win\\path.txt", "w"}});
  std::string out = home_ / "out";
  ASSERT_TRUE(extract(archivePath, out));
  EXPECT_EQ(testing::readFile(out + "/top.txt"), "top");
  EXPECT_EQ(testing::readFile(out + "/dir/sub/inner.txt"), "inner");
  EXPECT_EQ(testing::readFile(out + "/win/path.txt"), "w");
  struct stat st {};
  ASSERT_EQ(::stat((out + "/dir/sub/inner.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec,
            static_cast<time_t>(Date::fromLocalComponents(2021, 6, 15, 10, 20, 30).timeIntervalSince1970()));
  EXPECT_TRUE(delegate_.messages.empty());
  for (const auto& name : everything()) EXPECT_EQ(name.find(".palvero-"), std::string::npos) << name;
}

TEST_F(ZipArchiveTest, ZipSlipArchivesAreRefusedWhole) {
  const char* const evil[] = {"../evil.txt",
                              "/tmp/palvero-absolute-evil.txt",
                              "a/../../evil.txt",
                              "a\\..\\..\\evil.txt",
                              "..",
                              "\\evil.txt",
                              "ok/../../../evil.txt"};
  for (const char* name : evil) {
    SCOPED_TRACE(name);
    std::string archivePath = home_ / "slip.zip";
    // A harmless entry first: nothing at all may be written.
    makeArchive(archivePath, {{"harmless.txt", "fine"}, {name, "owned"}});
    std::string out = home_ / "target/inner";
    delegate_.messages.clear();
    EXPECT_FALSE(extract(archivePath, out));
    EXPECT_FALSE(fs::exists(home_ / "target"));
    EXPECT_FALSE(fs::exists(home_ / "evil.txt"));
    EXPECT_FALSE(fs::exists("/tmp/palvero-absolute-evil.txt"));
    ASSERT_FALSE(delegate_.messages.empty());
    EXPECT_EQ(delegate_.messages[0].rfind("Failed: ", 0), 0u) << delegate_.messages[0];
  }
}

TEST_F(ZipArchiveTest, SymbolicLinksInTheTargetAreNotFollowed) {
  std::string outside = home_ / "outside";
  fs::create_directories(outside);
  std::string out = home_ / "out";
  fs::create_directories(out);
  fs::create_directory_symlink(outside, out + "/link");
  std::string archivePath = home_ / "link.zip";
  makeArchive(archivePath, {{"link/x.txt", "owned"}});
  EXPECT_FALSE(extract(archivePath, out));
  EXPECT_FALSE(fs::exists(outside + "/x.txt"));

  // A symbolic link where a file goes is replaced, not written through.
  testing::writeFile(outside + "/victim.txt", "keep");
  fs::create_symlink(outside + "/victim.txt", out + "/file.txt");
  makeArchive(archivePath, {{"file.txt", "new"}});
  EXPECT_TRUE(extract(archivePath, out));
  EXPECT_EQ(testing::readFile(outside + "/victim.txt"), "keep");
  EXPECT_FALSE(fs::is_symlink(out + "/file.txt"));
  EXPECT_EQ(testing::readFile(out + "/file.txt"), "new");
}

TEST_F(ZipArchiveTest, OversizedArchivesAreRefusedBeforeWriting) {
  std::string archivePath = home_ / "bomb.zip";
  makeArchive(archivePath, {{"small.txt", "s"}, {"zeros.bin", std::string(5000000, '\0')}});
  ZipArchive archive(&delegate_);
  archive.setMaxExtractedSize(1000000);
  ASSERT_TRUE(archive.UnzipOpenFile(archivePath));
  EXPECT_FALSE(archive.UnzipFileTo(home_ / "out", true));
  EXPECT_FALSE(fs::exists(home_ / "out"));
}

TEST_F(ZipArchiveTest, LyingHeadersAndDamageLeaveNoFileUnderItsName) {
  std::string archivePath = home_ / "liar.zip";
  makeArchive(archivePath, {{"first.txt", "good"}, {"zeros.bin", std::string(5000000, '\0')}});
  Bytes zip = bytesFromString(testing::readFile(archivePath));
  // The second entry's headers claim 10 bytes; the CRC then fails.
  size_t local = testing::findSignature(zip, 0x04034b50, 1);
  size_t central = testing::findSignature(zip, 0x02014b50);
  central = testing::findSignature(zip, 0x02014b50, central + 1);
  testing::putLittle32(zip, local + 22, 10);
  testing::putLittle32(zip, central + 24, 10);
  testing::writeFile(archivePath, stringFromBytes(zip));
  std::string out = home_ / "out";
  EXPECT_FALSE(extract(archivePath, out));
  EXPECT_FALSE(fs::exists(out + "/zeros.bin"));
  for (const auto& name : everything()) EXPECT_EQ(name.find(".palvero-"), std::string::npos) << name;
  ASSERT_FALSE(delegate_.messages.empty());
  EXPECT_EQ(delegate_.messages.back().rfind("Failed to reading zip file: zeros.bin", 0), 0u)
      << delegate_.messages.back();

  // Cut archives are not opened at all.
  for (size_t keep : {zip.size() - 1, zip.size() - 10, zip.size() / 2, size_t{10}}) {
    testing::writeFile(archivePath, stringFromBytes(Bytes(zip.begin(), zip.begin() + static_cast<long>(keep))));
    ZipArchive archive;
    EXPECT_FALSE(archive.UnzipOpenFile(archivePath)) << keep;
  }
}

TEST_F(ZipArchiveTest, UnixPermissionsAreKeptWithoutSpecialBits) {
  std::string archivePath = home_ / "perm.zip";
  testing::pythonWrite(
      home_, archivePath,
      "z = zipfile.ZipFile(out, 'w')\n"
      "i = zipfile.ZipInfo('run.sh'); i.create_system = 3; i.external_attr = (stat.S_IFREG | 0o4777) << 16\n"
      "z.writestr(i, '#!/bin/sh\\n')\n"
      "j = zipfile.ZipInfo('ro.txt'); j.create_system = 3; j.external_attr = (stat.S_IFREG | 0o444) << 16\n"
      "z.writestr(j, 'r')\nz.writestr('plain.txt', 'p')\nz.close()");
  std::string out = home_ / "out";
  ASSERT_TRUE(extract(archivePath, out));
  EXPECT_EQ(fs::status(out + "/run.sh").permissions() & fs::perms::all, fs::perms(0755));
  EXPECT_EQ(fs::status(out + "/ro.txt").permissions() & fs::perms::all, fs::perms(0644));
  // Python marks entries written by name as Unix 0600.
  EXPECT_EQ(fs::status(out + "/plain.txt").permissions() & fs::perms::all, fs::perms(0600));
}

TEST_F(ZipArchiveTest, CompoundJoinNamesEntriesByPartName) {
  std::string scratch = home_ / ".cache/report.docx.zip";
  std::vector<FilePart> parts = {FilePart("word/document.xml", 0), FilePart("[Content_Types].xml", 0),
                                 FilePart("_rels/.rels", 0)};
  std::map<std::string, Bytes> content;
  for (auto& part : parts) {
    content[part.PartName] = testing::compressibleText(rng_, 1000 + rng_() % 50000);
    testing::writeFile(scratch + "/" + part.PartName, stringFromBytes(content[part.PartName]));
    part.Length = static_cast<int64_t>(content[part.PartName].size());
  }
  struct timespec times[2] = {{1700000000, 0}, {1700000000, 0}};
  ::utimensat(AT_FDCWD, (scratch + "/_rels/.rels").c_str(), times, 0);
  std::string result = home_ / "report.docx";
  testing::writeFile(result, "previous");
  Compressor compressor;
  ASSERT_TRUE(compressor.CompressFromStreamCompound(parts, result, scratch, "r0"));
  Value described = testing::pythonDescribe(home_, result);
  ASSERT_EQ(described["entries"].size(), 3u);
  for (size_t i = 0; i < parts.size(); ++i) {
    const Value& entry = described["entries"][i];
    EXPECT_EQ(entry["name"], parts[i].PartName);
    EXPECT_EQ(entry["method"], 8);
    std::string sha = BlockCutter::sha256StringFromData(content[parts[i].PartName]);
    for (char& c : sha) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(entry["sha256"], sha);
  }
  const Value& d = described["entries"][2]["date"];
  Date date = Date::fromLocalComponents(d[0], d[1], d[2], d[3], d[4], d[5]);
  EXPECT_LE(std::abs(date.timeIntervalSince1970() - 1700000000), 2.0);
}

TEST_F(ZipArchiveTest, DatesOutsideTheZipRangeAreClamped) {
  std::string scratch = home_ / "scratch";
  testing::writeFile(scratch + "/old.txt", "old");
  testing::writeFile(scratch + "/new.txt", "new");
  struct timespec old[2] = {{0, 0}, {0, 0}};                       // 1970
  struct timespec future[2] = {{5000000000, 0}, {5000000000, 0}};  // 2128
  ASSERT_EQ(::utimensat(AT_FDCWD, (scratch + "/old.txt").c_str(), old, 0), 0);
  ASSERT_EQ(::utimensat(AT_FDCWD, (scratch + "/new.txt").c_str(), future, 0), 0);
  Compressor compressor;
  std::string result = home_ / "dates.zip";
  ASSERT_TRUE(
      compressor.CompressFromStreamCompound({FilePart("old.txt", 3), FilePart("new.txt", 3)}, result, scratch, "r0"));
  Value described = testing::pythonDescribe(home_, result);
  EXPECT_EQ(described["entries"][0]["date"], Value::parse("[1980, 1, 1, 0, 0, 0]"));
  EXPECT_EQ(described["entries"][1]["date"], Value::parse("[2107, 12, 31, 23, 59, 58]"));
}

// A disk failing at the 1st, 2nd, 3rd, 5th, 8th ... call while an archive is
// written, then while it is extracted: every failure is reported, no torn
// archive or file sits under a final name and no temporary file stays.
TEST_F(ZipArchiveTest, ADiskFailingAtAnyStepReportsItAndLeavesNothingTorn) {
  std::string member = home_ / "member.bin";
  std::string content(300000, '\0');
  for (char& c : content) c = static_cast<char>(rng_());
  testing::writeFile(member, content);
  fs::create_directories(home_ / "zips");
  int madeAt = 0;
  for (int step = 1, previous = 1;; std::tie(step, previous) = std::pair(step + previous, step)) {
    SCOPED_TRACE("write, call " + std::to_string(step));
    FaultyFileSystem faults;
    faults.add(FsFaultRule().under("/zips").from(step).with(FsFault::kNoSpace));
    bool made;
    {
      ScopedFileSystem installed(faults);
      ZipArchive archive(&delegate_);
      made = archive.CreateZipFile2(home_ / "zips/made.zip") && archive.addFileToZip(member, "m.bin") &&
             archive.CloseZipFile2();
    }
    for (const auto& name : everything()) EXPECT_EQ(name.find(".palvero-"), std::string::npos) << name;
    if (made) {
      EXPECT_EQ(testing::pythonDescribe(home_, home_ / "zips/made.zip")["entries"][0]["size"], content.size());
      if (faults.injected() == 0) {
        madeAt = step;
        break;
      }
      fs::remove(home_ / "zips/made.zip");
      continue;
    }
    EXPECT_FALSE(fs::exists(home_ / "zips/made.zip"));
    ASSERT_LT(step, 100000);
  }
  EXPECT_GE(madeAt, 13) << "the temporary archive's creation, writes, close and rename were each failed";
  int extractedAt = 0;
  for (int step = 1, previous = 1;; std::tie(step, previous) = std::pair(step + previous, step)) {
    SCOPED_TRACE("extract, call " + std::to_string(step));
    fs::remove_all(home_ / "out");
    testing::writeFile(home_ / "out/m.bin", "previous");
    FaultyFileSystem faults;
    faults.add(FsFaultRule().under("/out").from(step).with(FsFault::kIOError));
    bool extracted;
    {
      ScopedFileSystem installed(faults);
      extracted = extract(home_ / "zips/made.zip", home_ / "out");
    }
    for (const auto& name : everything()) EXPECT_EQ(name.find(".palvero-"), std::string::npos) << name;
    std::string now = testing::readFile(home_ / "out/m.bin");
    if (extracted) {
      EXPECT_EQ(now, content);
      if (faults.injected() == 0) {
        extractedAt = step;
        break;
      }
      continue;
    }
    EXPECT_EQ(now, "previous");
    ASSERT_LT(step, 100000);
  }
  EXPECT_GE(extractedAt, 5) << "the extraction's folder, file, writes and rename were each failed";
}

class UpdaterTest : public ZipArchiveTest {
 protected:
  std::string support() const { return Env::supportDirectory(); }
};

TEST_F(UpdaterTest, UnpacksIntoUpdaterAndDeletesTheArchive) {
  fs::create_directories(support());
  std::string archivePath = support() + "/updater.zip";
  testing::pythonWrite(home_, archivePath,
                       "z = zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED)\n"
                       "i = zipfile.ZipInfo('PalveroUpdater.app/Contents/run'); i.create_system = 3\n"
                       "i.external_attr = (stat.S_IFREG | 0o755) << 16\nz.writestr(i, '#!/bin/sh\\necho hi\\n')\n"
                       "z.writestr('PalveroUpdater.app/Contents/Info.plist', '<plist/>')\nz.close()");
  testing::writeFile(support() + "/Updater/stale.txt", "old");
  Compressor compressor;
  ASSERT_TRUE(compressor.unzipUpdater());
  EXPECT_FALSE(fs::exists(archivePath));
  std::string run = support() + "/Updater/PalveroUpdater.app/Contents/run";
  EXPECT_EQ(testing::readFile(run), "#!/bin/sh\necho hi\n");
  EXPECT_TRUE((fs::status(run).permissions() & fs::perms::owner_exec) != fs::perms::none);
  EXPECT_EQ(testing::readFile(support() + "/Updater/PalveroUpdater.app/Contents/Info.plist"), "<plist/>");
}

TEST_F(UpdaterTest, MissingArchiveIsFalse) {
  Compressor compressor;
  EXPECT_FALSE(compressor.unzipUpdater());
  EXPECT_FALSE(fs::exists(support() + "/Updater"));
}

// A download that is no archive at all: UpdateRequestsTest.
TEST_F(UpdaterTest, ARefusedArchiveIsDeletedAndLeavesNoUpdater) {
  fs::create_directories(support());
  std::string archivePath = support() + "/updater.zip";
  testing::pythonWrite(home_, archivePath,
                       "z = zipfile.ZipFile(out, 'w')\nz.writestr('PalveroUpdater.app/ok', 'x')\n"
                       "z.writestr(zipfile.ZipInfo('../../../escaped'), 'x')\nz.close()");
  Compressor compressor;
  EXPECT_FALSE(compressor.unzipUpdater());
  EXPECT_FALSE(fs::exists(archivePath));
  EXPECT_FALSE(fs::exists(support() + "/Updater"));
  EXPECT_FALSE(fs::exists(fs::path(support()).parent_path().parent_path() / "escaped"));
  EXPECT_NE(testing::readFile(LogWriter::sharedLogger().currentLogFilepath()).find("Exception in unzipUpdater: "),
            std::string::npos);
}

}  // namespace
}  // namespace palvero
