// The three-state boxes of the restore tree: what a tick means for the
// items below and above it, and the maps the restore run is given.
#include <gtest/gtest.h>

#include "app/RestoreSelection.h"

namespace palvero {
namespace {

using State = RestoreSelection::State;
using Kind = RemoteNode::Kind;

RemoteNode node(Kind kind, const std::string& path, const std::string& device = "dev-a") {
  RemoteNode n;
  n.kind = kind;
  n.path = path;
  n.deviceId = device;
  n.name = path;
  return n;
}

RemoteNode folder(const std::string& path, const std::string& device = "dev-a") {
  return node(Kind::kFolder, path, device);
}

const char* name(State s) {
  switch (s) {
    case State::kChecked:
      return "checked";
    case State::kPartial:
      return "partial";
    default:
      return "unchecked";
  }
}

void expectStates(const RestoreSelection& selection, const std::vector<std::pair<RemoteNode, State>>& expected) {
  for (const auto& [n, state] : expected) {
    SCOPED_TRACE(n.deviceId + ":" + n.path + " kind " + std::to_string(static_cast<int>(n.kind)));
    EXPECT_STREQ(name(selection.stateOf(n)), name(state));
  }
}

TEST(RestoreSelectionTest, ATickReachesEverythingBelowAndMakesTheFoldersAbovePartial) {
  RestoreSelection s;
  s.setChecked(folder("/home/ann/Documents"), true);
  expectStates(s, {
                      {folder("/home/ann/Documents"), State::kChecked},
                      {folder("/home/ann/Documents/tax/2023"), State::kChecked},
                      {node(Kind::kFile, "/home/ann/Documents/a.txt"), State::kChecked},
                      {folder("/home/ann"), State::kPartial},
                      {node(Kind::kDrive, "/"), State::kPartial},
                      {node(Kind::kDevice, ""), State::kPartial},
                      {RemoteBrowser::account(), State::kPartial},
                      {folder("/home/ann/Documents2"), State::kUnchecked},
                      {folder("/home/ann/Music"), State::kUnchecked},
                      {folder("/home/ann/Documents", "dev-b"), State::kUnchecked},
                  });
}

TEST(RestoreSelectionTest, UncheckingBelowATickTakesItemsOutAndTickingAgainPutsThemBack) {
  RestoreSelection s;
  s.setChecked(node(Kind::kDrive, "/"), true);
  s.setChecked(folder("/home/ann/cache"), false);
  s.setChecked(folder("/home/ann/cache/keep"), true);
  expectStates(s, {
                      {node(Kind::kDrive, "/"), State::kPartial},
                      {folder("/home/ann"), State::kPartial},
                      {folder("/home/ann/cache"), State::kPartial},
                      {folder("/home/ann/cache/other"), State::kUnchecked},
                      {folder("/home/ann/cache/keep/x"), State::kChecked},
                      {folder("/etc"), State::kChecked},
                  });
  EXPECT_EQ(s.filesAndFoldersForRestore(),
            (Value{{"/", {"drive", "dev-a"}}, {"/home/ann/cache/keep", {"folder", "dev-a"}}}));
  EXPECT_EQ(s.filesAndFoldersRemovedFromRestore(), (Value{{"/home/ann/cache", {"folder", "dev-a"}}}));

  // Ticking the folder again drops what was below it: it is whole again.
  s.setChecked(folder("/home/ann/cache"), true);
  EXPECT_EQ(s.filesAndFoldersRemovedFromRestore(), Value::object());
  EXPECT_EQ(s.filesAndFoldersForRestore(), (Value{{"/", {"drive", "dev-a"}}}));
  expectStates(s, {{node(Kind::kDrive, "/"), State::kChecked}, {folder("/home/ann"), State::kChecked}});
}

TEST(RestoreSelectionTest, UncheckingTheTopLeavesNothingAndLeftoverRemovalsGo) {
  RestoreSelection s;
  s.setChecked(folder("/data"), true);
  s.setChecked(node(Kind::kFile, "/data/big.iso"), false);
  s.setChecked(folder("/data"), false);
  EXPECT_TRUE(s.empty());
  EXPECT_EQ(s.filesAndFoldersForRestore(), Value::object());
  EXPECT_EQ(s.filesAndFoldersRemovedFromRestore(), Value::object());
  EXPECT_EQ(s.deviceId(), "");
  // Unchecking something never chosen records nothing.
  s.setChecked(folder("/elsewhere"), false);
  EXPECT_TRUE(s.empty());
  EXPECT_EQ(s.filesAndFoldersRemovedFromRestore(), Value::object());
}

TEST(RestoreSelectionTest, AWholeDeviceIsOneItemUnderTheEmptyPath) {
  RestoreSelection s;
  s.setChecked(node(Kind::kDevice, "", "dev-b"), true);
  s.setChecked(folder("/tmp", "dev-b"), false);
  EXPECT_EQ(s.filesAndFoldersForRestore(), (Value{{"", {"device", "dev-b"}}}));
  EXPECT_EQ(s.filesAndFoldersRemovedFromRestore(), (Value{{"/tmp", {"folder", "dev-b"}}}));
  expectStates(s, {{node(Kind::kDevice, "", "dev-b"), State::kPartial},
                   {node(Kind::kDrive, "/", "dev-b"), State::kPartial},
                   {folder("/home", "dev-b"), State::kChecked},
                   {node(Kind::kDevice, "", "dev-a"), State::kUnchecked}});
}

TEST(RestoreSelectionTest, TickingAnotherDeviceStartsANewSelection) {
  RestoreSelection s;
  EXPECT_FALSE(s.setChecked(folder("/a", "dev-a"), true));
  // Unticking on another device does not disturb the selection.
  EXPECT_FALSE(s.setChecked(folder("/b", "dev-b"), false));
  EXPECT_EQ(s.deviceId(), "dev-a");
  EXPECT_TRUE(s.setChecked(folder("/b", "dev-b"), true));
  EXPECT_EQ(s.deviceId(), "dev-b");
  EXPECT_EQ(s.filesAndFoldersForRestore(), (Value{{"/b", {"folder", "dev-b"}}}));
  expectStates(s, {{folder("/a", "dev-a"), State::kUnchecked}});
}

TEST(RestoreSelectionTest, AFolderShowsWhatItsListedChildrenAgreeOn) {
  struct Case {
    State own;
    std::vector<State> children;
    State expected;
  };
  for (const Case& c : {Case{State::kPartial, {State::kChecked, State::kChecked}, State::kChecked},
                        Case{State::kPartial, {State::kUnchecked, State::kUnchecked}, State::kUnchecked},
                        Case{State::kChecked, {State::kChecked, State::kPartial}, State::kPartial},
                        Case{State::kUnchecked, {State::kChecked, State::kUnchecked}, State::kPartial},
                        Case{State::kChecked, {}, State::kChecked}}) {
    SCOPED_TRACE(name(c.own));
    EXPECT_STREQ(name(RestoreSelection::derived(c.own, c.children)), name(c.expected));
  }
}

// One file alone goes straight into a chosen folder; anything more is a
// selection walked as usual.
TEST(RestoreSelectionTest, OnlyAFileChosenAloneIsASingleFile) {
  RemoteNode file = node(Kind::kFile, "/home/ann/a.txt");
  file.size = 12;
  file.versions.push_back(BackupFileVersion{3, 12, std::nullopt});
  RestoreSelection s;
  s.setChecked(file, true);
  auto single = s.singleFile();
  ASSERT_TRUE(single);
  EXPECT_EQ(single->name, "/home/ann/a.txt");
  EXPECT_EQ(single->deviceId, "dev-a");
  EXPECT_EQ(single->size, 12);
  ASSERT_EQ(single->versions.size(), 1u);
  EXPECT_EQ(single->versions[0].number, 3);

  s.setChecked(node(Kind::kFile, "/home/ann/b.txt"), true);
  EXPECT_FALSE(s.singleFile()) << "two files";
  s.setChecked(node(Kind::kFile, "/home/ann/b.txt"), false);
  EXPECT_TRUE(s.singleFile());
  s.clear();
  s.setChecked(folder("/home/ann"), true);
  EXPECT_FALSE(s.singleFile()) << "a folder";
  s.setChecked(node(Kind::kFile, "/home/ann/a.txt"), false);
  EXPECT_FALSE(s.singleFile()) << "a folder with a file taken out";
}

}  // namespace
}  // namespace palvero
