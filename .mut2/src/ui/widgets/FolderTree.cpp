#include "ui/widgets/FolderTree.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QApplication>
#include <QFont>
#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>

#include "ui/Background.h"
#include "ui/Images.h"

namespace palvero::ui {

std::optional<std::vector<FolderSource::Entry>> LocalFolderSource::children(const std::string& path) {
  std::vector<Entry> out;
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return std::nullopt;
  while (dirent* item = ::readdir(dir)) {
    std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    if (name[0] == '.' && !showHidden_) continue;
    std::string full = path == "/" ? "/" + name : path + "/" + name;
    struct stat st {};
    // Links are not followed: the backup does not follow them either.
    if (::lstat(full.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    out.push_back(Entry{name, full, true, false});
  }
  ::closedir(dir);
  std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) {
    return QString::fromStdString(a.name).compare(QString::fromStdString(b.name), Qt::CaseInsensitive) < 0;
  });
  return out;
}

struct FolderTreeModel::Node {
  FolderSource::Entry entry;
  Node* parent = nullptr;
  std::vector<std::unique_ptr<Node>> children;
  bool fetched = false;
  bool fetching = false;
  int row = 0;
};

FolderTreeModel::FolderTreeModel(std::shared_ptr<FolderSource> source, StateOf stateOf, SetChecked setChecked,
                                 QObject* parent)
    : QAbstractItemModel(parent),
      source_(std::move(source)),
      stateOf_(std::move(stateOf)),
      setChecked_(std::move(setChecked)),
      root_(std::make_unique<Node>()) {}

FolderTreeModel::~FolderTreeModel() = default;

void FolderTreeModel::setRoot(const std::string& rootPath) {
  beginResetModel();
  ++generation_;
  pending_ = 0;
  root_ = std::make_unique<Node>();
  root_->entry.path = rootPath;
  endResetModel();
  fetch(root_.get());
}

FolderTreeModel::Node* FolderTreeModel::nodeOf(const QModelIndex& index) const {
  return index.isValid() ? static_cast<Node*>(index.internalPointer()) : root_.get();
}

QModelIndex FolderTreeModel::indexOfNode(Node* node) const {
  if (!node || node == root_.get()) return {};
  return createIndex(node->row, 0, node);
}

QModelIndex FolderTreeModel::index(int row, int column, const QModelIndex& parent) const {
  Node* node = nodeOf(parent);
  if (column != 0 || row < 0 || row >= static_cast<int>(node->children.size())) return {};
  return createIndex(row, column, node->children[static_cast<size_t>(row)].get());
}

QModelIndex FolderTreeModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  return indexOfNode(nodeOf(child)->parent);
}

int FolderTreeModel::rowCount(const QModelIndex& parent) const {
  return static_cast<int>(nodeOf(parent)->children.size());
}

int FolderTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool FolderTreeModel::hasChildren(const QModelIndex& parent) const {
  Node* node = nodeOf(parent);
  if (!node->entry.isFolder) return false;
  // Unknown until opened: show the triangle.
  return !node->fetched || !node->children.empty();
}

bool FolderTreeModel::canFetchMore(const QModelIndex& parent) const {
  Node* node = nodeOf(parent);
  return node->entry.isFolder && !node->fetched && !node->fetching;
}

void FolderTreeModel::fetchMore(const QModelIndex& parent) { fetch(nodeOf(parent)); }

void FolderTreeModel::fetch(Node* node) {
  if (node->fetched || node->fetching) return;
  node->fetching = true;
  ++pending_;
  std::string path = node->entry.path;
  auto source = source_;
  uint64_t generation = generation_;
  runInBackground(
      this, [source, path] { return source->children(path); },
      [this, node, generation, path](std::optional<std::vector<FolderSource::Entry>> listed) {
        if (generation != generation_) return;
        --pending_;
        node->fetching = false;
        QModelIndex parentIndex = indexOfNode(node);
        if (!listed) {
          // Left unfetched so that opening the folder again asks once more.
          if (parentIndex.isValid()) emit dataChanged(parentIndex, parentIndex);
          emit fetchFailed(QString::fromStdString(path));
          emit fetched();
          return;
        }
        node->fetched = true;
        std::vector<FolderSource::Entry>& entries = *listed;
        if (!entries.empty()) {
          beginInsertRows(parentIndex, 0, static_cast<int>(entries.size()) - 1);
          for (auto& entry : entries) {
            auto child = std::make_unique<Node>();
            child->entry = std::move(entry);
            child->parent = node;
            child->row = static_cast<int>(node->children.size());
            node->children.push_back(std::move(child));
          }
          endInsertRows();
        } else if (parentIndex.isValid()) {
          emit dataChanged(parentIndex, parentIndex);
        }
        emit fetched();
      });
}

QVariant FolderTreeModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  Node* node = nodeOf(index);
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromStdString(node->entry.name);
    case Qt::ToolTipRole:
      return QString::fromStdString(node->entry.path);
    case Qt::DecorationRole:
      return Images::icon(node->entry.isFolder ? QStringLiteral("folder") : QStringLiteral("file"));
    case Qt::CheckStateRole:
      return stateOf_ ? static_cast<int>(stateOf_(node->entry.path)) : QVariant();
    case Qt::FontRole:
      if (node->entry.isDeleted) {
        QFont font;
        font.setItalic(true);
        font.setStrikeOut(true);
        return font;
      }
      return {};
    default:
      return {};
  }
}

bool FolderTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::CheckStateRole || !setChecked_) return false;
  Node* node = nodeOf(index);
  auto wanted = static_cast<Qt::CheckState>(value.toInt());
  // A partly checked folder becomes checked when clicked.
  setChecked_(node->entry.path, wanted != Qt::Unchecked);
  refreshStates();
  return true;
}

Qt::ItemFlags FolderTreeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  // The user checks or unchecks; the partial state is only ever derived.
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

void FolderTreeModel::refreshStates() { emitStatesChanged(QModelIndex()); }

void FolderTreeModel::emitStatesChanged(const QModelIndex& parent) {
  int rows = rowCount(parent);
  if (rows == 0) return;
  emit dataChanged(index(0, 0, parent), index(rows - 1, 0, parent), {Qt::CheckStateRole});
  for (int row = 0; row < rows; ++row) emitStatesChanged(index(row, 0, parent));
}

QModelIndex FolderTreeModel::indexOfPath(const std::string& path) const {
  QModelIndex found;
  std::function<void(const QModelIndex&)> walk = [&](const QModelIndex& parent) {
    for (int row = 0; row < rowCount(parent) && !found.isValid(); ++row) {
      QModelIndex child = index(row, 0, parent);
      const std::string& childPath = nodeOf(child)->entry.path;
      if (childPath == path) {
        found = child;
      } else if (path.compare(0, childPath.size() + 1, childPath + "/") == 0) {
        walk(child);
      }
    }
  };
  walk(QModelIndex());
  return found;
}

std::string FolderTreeModel::pathOf(const QModelIndex& index) const { return nodeOf(index)->entry.path; }

namespace {

// Some styles draw an unchecked box on a dark base with no visible edge: the
// box gets an outline in the text colour so that all three states read.
class OutlinedCheckDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    QStyleOptionViewItem item(option);
    initStyleOption(&item, index);
    if (!(item.features & QStyleOptionViewItem::HasCheckIndicator)) return;
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    QRect box = style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &item, widget);
    QColor edge = option.palette.color(QPalette::Text);
    edge.setAlpha(110);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(edge, 1));
    painter->setBrush(Qt::NoBrush);
    painter->drawRoundedRect(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
    painter->restore();
  }
};

}  // namespace

FolderTree::FolderTree(QWidget* parent) : QTreeView(parent) {
  setItemDelegate(new OutlinedCheckDelegate(this));
  setObjectName(QStringLiteral("folderTree"));
  setHeaderHidden(true);
  setUniformRowHeights(true);
  setIndentation(20);
  setIconSize(QSize(18, 18));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setAnimated(false);
}

void FolderTree::setFolderModel(FolderTreeModel* model) {
  model_ = model;
  setModel(model);
}

}  // namespace palvero::ui
