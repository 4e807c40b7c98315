#include "ui/main/FailedFilesDialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/UsageModel.h"
#include "ui/Text.h"

namespace palvero::ui {

FailedFilesDialog::FailedFilesDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("failedFilesDialog"));
  setWindowTitle(T("failedFilesTitle"));
  auto* layout = new QVBoxLayout(this);
  auto* title = new QLabel(T("failedFilesInfo"), this);
  title->setWordWrap(true);
  layout->addWidget(title);
  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("failedFilesList"));
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setAlternatingRowColors(true);
  list_->setHeaderLabels({T("columnPath"), T("columnSize"), T("columnDate"), T("columnError")});
  list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  list_->header()->setStretchLastSection(false);
  for (int column = 1; column < 4; ++column) list_->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
  layout->addWidget(list_, 1);
  auto* buttons = new QDialogButtonBox(this);
  deleteButton_ = buttons->addButton(T("deleteButton"), QDialogButtonBox::ActionRole);
  deleteButton_->setObjectName(QStringLiteral("deleteFailedFileButton"));
  deleteButton_->setEnabled(false);
  QPushButton* close = buttons->addButton(T("closeView"), QDialogButtonBox::RejectRole);
  close->setObjectName(QStringLiteral("closeFailedFilesButton"));
  close->setDefault(true);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(list_, &QTreeWidget::itemSelectionChanged, this,
          [this] { deleteButton_->setEnabled(!list_->selectedItems().isEmpty()); });
  connect(deleteButton_, &QPushButton::clicked, this, [this] {
    auto selected = list_->selectedItems();
    if (!selected.isEmpty()) emit deleteRequested(selected.first()->text(0));
  });
  resize(720, 420);
}

void FailedFilesDialog::showFiles(const std::vector<FailedFile>& files) {
  list_->clear();
  bool anyError = false;
  for (const auto& file : files) {
    anyError = anyError || !file.error.empty();
    std::string number;
    std::string unit;
    UsageModel::sizeParts(file.size, number, unit);
    auto* item = new QTreeWidgetItem(list_, {Q(file.path), Q(number + " " + unit), Q(file.date), Q(file.error)});
    item->setToolTip(0, Q(file.path));
    item->setToolTip(3, Q(file.error));
  }
  // The queue keeps no reason for most failures: an empty column is noise.
  list_->setColumnHidden(3, !anyError);
  deleteButton_->setEnabled(false);
}

}  // namespace palvero::ui
