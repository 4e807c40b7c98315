#include "ui/main/LargestFilesDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/LargestFiles.h"
#include "app/UsageModel.h"
#include "ui/Alerts.h"
#include "ui/Background.h"
#include "ui/Text.h"

namespace palvero::ui {
namespace {

constexpr int kPathRole = Qt::UserRole + 1;

}  // namespace

LargestFilesDialog::LargestFilesDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("top10Dialog"));
  setWindowTitle(T("top10Title"));
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout();
  auto* title = new QLabel(T("top10Title"), this);
  QFont bold = title->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.2);
  title->setFont(bold);
  top->addWidget(title);
  top->addStretch(1);
  category_ = new QComboBox(this);
  category_->setObjectName(QStringLiteral("top10Category"));
  category_->setAccessibleName(T("fileCategory"));
  for (const char* name : UsageModel::kCategories) category_->addItem(T(name), QString::fromLatin1(name));
  top->addWidget(category_);
  layout->addLayout(top);

  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("top10List"));
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setAlternatingRowColors(true);
  list_->setHeaderLabels({T("columnName"), T("columnPath"), T("columnSize")});
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  list_->header()->setSectionResizeMode(1, QHeaderView::Stretch);
  list_->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
  layout->addWidget(list_, 1);
  note_ = new QLabel(this);
  note_->setObjectName(QStringLiteral("top10Note"));
  layout->addWidget(note_);

  auto* buttons = new QDialogButtonBox(this);
  showMore_ = buttons->addButton(T("showMore"), QDialogButtonBox::ActionRole);
  showMore_->setObjectName(QStringLiteral("top10ShowMoreButton"));
  delete_ = buttons->addButton(T("deleteButton"), QDialogButtonBox::ActionRole);
  delete_->setObjectName(QStringLiteral("top10DeleteButton"));
  delete_->setEnabled(false);
  QPushButton* close = buttons->addButton(T("closeView"), QDialogButtonBox::RejectRole);
  close->setObjectName(QStringLiteral("closeTop10Button"));
  close->setDefault(true);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(showMore_, &QPushButton::clicked, this, [this] { fetch(nextPage_); });
  connect(delete_, &QPushButton::clicked, this, [this] { askToDelete(); });
  connect(list_, &QTreeWidget::itemSelectionChanged, this,
          [this] { delete_->setEnabled(!busy_ && !list_->selectedItems().isEmpty()); });
  connect(category_, &QComboBox::activated, this,
          [this](int index) { showCategory(category_->itemData(index).toString()); });
  resize(760, 440);
}

void LargestFilesDialog::showCategory(const QString& category) {
  int index = category_->findData(category);
  if (index >= 0) category_->setCurrentIndex(index);
  ++generation_;
  list_->clear();
  nextPage_ = 0;
  fetch(0);
}

void LargestFilesDialog::fetch(int64_t page) {
  setBusy(true);
  note_->setText(T("loading"));
  std::string category = category_->currentData().toString().toStdString();
  uint64_t generation = generation_;
  runInBackground(
      this, [category, page] { return LargestFiles().fetchPage(category, page); },
      [this, page, generation](std::optional<std::vector<LargestFiles::Entry>> entries) {
        if (generation != generation_) return;
        setBusy(false);
        if (!entries) {
          note_->setText(T("top10Fail"));
          return;
        }
        for (const auto& entry : *entries) {
          auto* item = new QTreeWidgetItem(list_, {Q(entry.name), Q(entry.path), Q(entry.sizeText)});
          item->setData(0, kPathRole, Q(entry.path));
          item->setToolTip(1, Q(entry.path));
          item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        }
        if (!entries->empty()) nextPage_ = page + 1;
        // A short page is the last one.
        showMore_->setEnabled(entries->size() >= 10);
        note_->setText(list_->topLevelItemCount() == 0 ? T("top10Empty") : QString());
        emit pageShown();
      });
}

void LargestFilesDialog::askToDelete() {
  auto selected = list_->selectedItems();
  if (selected.isEmpty()) return;
  QString path = selected.first()->data(0, kPathRole).toString();
  Alerts::confirm(this, T("removedFromTop10"), T("RemoveFileDialog"), [this, path](bool ok) {
    if (!ok) return;
    setBusy(true);
    runInBackground(
        this, [path] { return LargestFiles().deleteFile(path.toStdString()); },
        [this, path](bool deleted) {
          setBusy(false);
          if (!deleted) {
            Alerts::inform(this, T("error"), T("removeFileFail"), QMessageBox::Warning);
            return;
          }
          for (int i = 0; i < list_->topLevelItemCount(); ++i) {
            if (list_->topLevelItem(i)->data(0, kPathRole).toString() == path) {
              delete list_->takeTopLevelItem(i);
              break;
            }
          }
          emit fileDeleted(path);
        });
  });
}

void LargestFilesDialog::setBusy(bool busy) {
  busy_ = busy;
  showMore_->setEnabled(!busy);
  category_->setEnabled(!busy);
  delete_->setEnabled(!busy && !list_->selectedItems().isEmpty());
  setCursor(busy ? Qt::BusyCursor : Qt::ArrowCursor);
}

}  // namespace palvero::ui
