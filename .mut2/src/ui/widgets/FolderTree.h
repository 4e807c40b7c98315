// The folder tree of the exclusions editor (and, with another source, of the
// restore selection): one row per folder with a three-state check box, a
// disclosure triangle, an icon and the name, at a fixed row height and
// indented by depth. Sub-folders are fetched when a folder is opened, off the
// GUI thread. What the boxes mean is the owner's: it says each folder's
// state and is told when the user checks or unchecks one.
//
// Thread contract: GUI thread only; the source's children() runs on the
// core's background queue.
#pragma once

#include <QAbstractItemModel>
#include <QTreeView>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace palvero::ui {

class FolderSource {
 public:
  struct Entry {
    std::string name;
    std::string path;
    bool isFolder = true;
    bool isDeleted = false;
  };
  virtual ~FolderSource() = default;
  // The entries directly inside `path`, sorted for display; nothing when
  // the folder could not be listed (not the same as an empty one). Any thread.
  virtual std::optional<std::vector<Entry>> children(const std::string& path) = 0;
};

// The folders of the local disk below a root; hidden ones only when asked.
class LocalFolderSource : public FolderSource {
 public:
  explicit LocalFolderSource(bool showHidden = false) : showHidden_(showHidden) {}
  std::optional<std::vector<Entry>> children(const std::string& path) override;

 private:
  bool showHidden_;
};

class FolderTreeModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  using StateOf = std::function<Qt::CheckState(const std::string& path)>;
  using SetChecked = std::function<void(const std::string& path, bool checked)>;

  FolderTreeModel(std::shared_ptr<FolderSource> source, StateOf stateOf, SetChecked setChecked,
                  QObject* parent = nullptr);
  ~FolderTreeModel() override;

  // Shows the entries of `rootPath` as the top level.
  void setRoot(const std::string& rootPath);
  // The states changed outside the tree: every shown box is read again.
  void refreshStates();
  // Rows of a folder whose listing is still on its way (tests wait for 0).
  int pendingFetches() const { return pending_; }
  QModelIndex indexOfPath(const std::string& path) const;
  std::string pathOf(const QModelIndex& index) const;

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

 signals:
  void fetched();
  // The folder could not be listed; it stays closed and opening it again retries.
  void fetchFailed(const QString& path);

 private:
  struct Node;
  Node* nodeOf(const QModelIndex& index) const;
  QModelIndex indexOfNode(Node* node) const;
  void fetch(Node* node);
  void emitStatesChanged(const QModelIndex& parent);

  std::shared_ptr<FolderSource> source_;
  StateOf stateOf_;
  SetChecked setChecked_;
  std::unique_ptr<Node> root_;
  int pending_ = 0;
  uint64_t generation_ = 0;  // listings for an earlier root are dropped
};

class FolderTree : public QTreeView {
  Q_OBJECT

 public:
  explicit FolderTree(QWidget* parent = nullptr);
  void setFolderModel(FolderTreeModel* model);
  FolderTreeModel* folderModel() const { return model_; }

 private:
  FolderTreeModel* model_ = nullptr;
};

}  // namespace palvero::ui
