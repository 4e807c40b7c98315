#include "ui/widgets/ExclusionEditor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/FileTypeSelection.h"
#include "selection/CommonExtensions.h"
#include "selection/FileScanner.h"
#include "ui/Text.h"
#include "ui/widgets/FolderTree.h"

namespace palvero::ui {
namespace {

constexpr int kBoxesPerRow = 4;

QString boxKey(const QString& valuesKey, const QString& extension) { return valuesKey + QLatin1Char('/') + extension; }

}  // namespace

ExclusionEditor::ExclusionEditor(FolderChanges* changes, QWidget* parent)
    : QWidget(parent), changes_(changes), selection_(std::make_unique<FolderSelection>(FolderSelection::fromCatalogue())) {
  setObjectName(QStringLiteral("exclusionEditor"));
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("exclusionTabs"));
  tabs_->addTab(makeFolderTab(), T("foldersTab"));
  tabs_->addTab(makeTypesTab(), T("fileTypesTab"));
  tabs_->addTab(makeSizeTab(), T("fileSizeTab"));

  auto& extensions = CommonExtensions::sharedExtensionsManager();
  hiddenFiles_ = new QCheckBox(T("backupHiddenFiles"), this);
  hiddenFiles_->setObjectName(QStringLiteral("backupHiddenFilesCheckbox"));
  hiddenFiles_->setChecked(extensions.backupHiddenFiles());
  connect(hiddenFiles_, &QCheckBox::toggled, this, [this](bool checked) {
    auto& catalogue = CommonExtensions::sharedExtensionsManager();
    catalogue.setBackupHiddenFiles(checked);
    catalogue.saveExtensions();
    emit changed();
  });
  externalDrives_ = new QCheckBox(T("externalDrives"), this);
  externalDrives_->setObjectName(QStringLiteral("externalDrivesCheckbox"));
  externalDrives_->setChecked(extensions.externalhd());
  connect(externalDrives_, &QCheckBox::toggled, this, [this](bool checked) {
    auto& catalogue = CommonExtensions::sharedExtensionsManager();
    catalogue.setExternalhd(checked);
    catalogue.saveExtensions();
    FileScanner::sharedFileScanner().setIncludeExternalDrives(checked);
    emit changed();
  });

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(tabs_, 1);
  auto* switches = new QHBoxLayout();
  switches->addWidget(hiddenFiles_);
  switches->addWidget(externalDrives_);
  switches->addStretch(1);
  layout->addLayout(switches);
}

QWidget* ExclusionEditor::makeFolderTab() {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  auto* info = new QLabel(T("foldersInfo"), page);
  info->setWordWrap(true);
  layout->addWidget(info);
  tree_ = new FolderTree(page);
  tree_->setAccessibleName(T("foldersTab"));
  model_ = new FolderTreeModel(
      std::make_shared<LocalFolderSource>(),
      [this](const std::string& path) {
        switch (selection_->stateOf(path)) {
          case FolderSelection::State::kChecked:
            return Qt::Checked;
          case FolderSelection::State::kPartial:
            return Qt::PartiallyChecked;
          default:
            return Qt::Unchecked;
        }
      },
      [this](const std::string& path, bool checked) {
        selection_->setChecked(path, checked, changes_);
        selection_->store();
        emit changed();
      },
      tree_);
  tree_->setFolderModel(model_);
  model_->setRoot(CommonExtensions::sharedExtensionsManager().defaultBackupFolder());
  layout->addWidget(tree_, 1);
  return page;
}

QWidget* ExclusionEditor::makeTypesTab() {
  auto* page = new QWidget(this);
  auto* layout = new QHBoxLayout(page);
  auto* left = new QVBoxLayout();
  auto* info = new QLabel(T("fileTypesInfo"), page);
  info->setWordWrap(true);
  categories_ = new QListWidget(page);
  categories_->setObjectName(QStringLiteral("fileTypeCategories"));
  categories_->setAccessibleName(T("fileTypesTab"));
  categories_->setSpacing(3);  // rows of a list one clicks, not lines of text
  auto* stack = new QStackedWidget(page);
  for (const auto& category : FileTypeSelection::categories()) {
    categories_->addItem(T(category.name));
    auto* boxes = new QWidget(stack);
    auto* grid = new QGridLayout(boxes);
    grid->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    grid->setHorizontalSpacing(18);
    int index = 0;
    QString valuesKey = QString::fromLatin1(category.valuesKey);
    for (const char* extension : category.extensions) {
      QString ext = QString::fromLatin1(extension);
      auto* box = new QCheckBox(ext, boxes);
      box->setObjectName(QStringLiteral("ext_%1_%2").arg(valuesKey, ext));
      box->setChecked(FileTypeSelection::isChecked(category, extension));
      const auto* which = &category;
      connect(box, &QCheckBox::toggled, this, [this, which, extension](bool checked) {
        FileTypeSelection::setChecked(*which, extension, checked);
        emit changed();
      });
      extensionBoxes_[boxKey(valuesKey, ext)] = box;
      grid->addWidget(box, index / kBoxesPerRow, index % kBoxesPerRow);
      ++index;
    }
    stack->addWidget(boxes);
  }
  connect(categories_, &QListWidget::currentRowChanged, stack, &QStackedWidget::setCurrentIndex);
  categories_->setCurrentRow(0);
  categories_->setMaximumWidth(200);
  left->addWidget(categories_);
  layout->addLayout(left);
  auto* right = new QVBoxLayout();
  right->addWidget(info);
  right->addWidget(stack, 1);
  layout->addLayout(right, 1);
  return page;
}

QWidget* ExclusionEditor::makeSizeTab() {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  auto* info = new QLabel(T("fileSizeInfo"), page);
  info->setWordWrap(true);
  layout->addWidget(info);
  auto* row = new QHBoxLayout();
  sizeField_ = new QLineEdit(page);
  sizeField_->setObjectName(QStringLiteral("fileSizeField"));
  sizeField_->setAccessibleName(T("fileSizeTab"));
  sizeField_->setPlaceholderText(T("noLimit"));
  sizeField_->setMaximumWidth(160);
  sizeUnit_ = new QComboBox(page);
  sizeUnit_->setObjectName(QStringLiteral("fileSizeUnit"));
  sizeUnit_->addItem(T("MB"));
  sizeUnit_->addItem(T("GB"));
  sizeOk_ = new QPushButton(T("ok"), page);
  sizeOk_->setObjectName(QStringLiteral("okFileSizeButton"));
  row->addWidget(sizeField_);
  row->addWidget(sizeUnit_);
  row->addWidget(sizeOk_);
  row->addStretch(1);
  layout->addLayout(row);
  layout->addStretch(1);
  auto [number, gigabytes] = FileTypeSelection::sizeLimitForDisplay();
  sizeField_->setText(QString::fromStdString(number));
  sizeUnit_->setCurrentIndex(gigabytes ? 1 : 0);
  auto store = [this] {
    qint64 bytes = FileTypeSelection::storeSizeLimit(sizeField_->text().toStdString(), sizeUnit_->currentIndex() == 1);
    if (bytes <= 0) sizeField_->clear();
    emit sizeLimitStored(bytes);
    emit changed();
  };
  connect(sizeOk_, &QPushButton::clicked, this, store);
  connect(sizeField_, &QLineEdit::returnPressed, this, store);
  return page;
}

QCheckBox* ExclusionEditor::extensionBox(const QString& valuesKey, const QString& extension) const {
  auto it = extensionBoxes_.find(boxKey(valuesKey, extension));
  return it == extensionBoxes_.end() ? nullptr : it->second;
}

void ExclusionEditor::reload() {
  *selection_ = FolderSelection::fromCatalogue();
  model_->setRoot(CommonExtensions::sharedExtensionsManager().defaultBackupFolder());
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  for (const auto& category : FileTypeSelection::categories()) {
    for (const char* extension : category.extensions) {
      QCheckBox* box = extensionBox(QString::fromLatin1(category.valuesKey), QString::fromLatin1(extension));
      QSignalBlocker block(box);
      box->setChecked(FileTypeSelection::isChecked(category, extension));
    }
  }
  QSignalBlocker blockHidden(hiddenFiles_);
  hiddenFiles_->setChecked(extensions.backupHiddenFiles());
  QSignalBlocker blockDrives(externalDrives_);
  externalDrives_->setChecked(extensions.externalhd());
  auto [number, gigabytes] = FileTypeSelection::sizeLimitForDisplay();
  sizeField_->setText(QString::fromStdString(number));
  sizeUnit_->setCurrentIndex(gigabytes ? 1 : 0);
}

}  // namespace palvero::ui
