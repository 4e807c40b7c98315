#include "ui/wizard/WizardPages.h"

#include <QButtonGroup>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <cstdlib>

#include "platform/Env.h"
#include "selection/DeviceTypes.h"
#include "ui/Fonts.h"
#include "ui/Images.h"
#include "ui/Text.h"
#include "ui/widgets/ExclusionEditor.h"
#include "ui/widgets/FolderTree.h"
#include "ui/widgets/RestoreCalendar.h"
#include "ui/widgets/RestoreDestinationBox.h"
#include "ui/widgets/RestoreTreeSource.h"

namespace palvero::ui {
namespace {

constexpr int kPageMargin = 28;

QVBoxLayout* pageLayout(QWidget* page) {
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(kPageMargin, kPageMargin, kPageMargin, 20);
  layout->setSpacing(12);
  return layout;
}

QHBoxLayout* buttonRow(std::initializer_list<QWidget*> left, std::initializer_list<QWidget*> right) {
  auto* row = new QHBoxLayout();
  for (QWidget* w : left) row->addWidget(w);
  row->addStretch(1);
  for (QWidget* w : right) row->addWidget(w);
  return row;
}

QPushButton* primary(const QString& text, const char* name, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setDefault(true);
  button->setAutoDefault(true);
  button->setMinimumWidth(110);
  return button;
}

int intOf(const Value& device, const char* key) {
  auto it = device.find(key);
  if (it == device.end()) return -1;
  if (it->is_number()) return it->get<int>();
  if (it->is_string()) return std::atoi(it->get_ref<const std::string&>().c_str());
  return -1;
}

QString textOf(const Value& device, const char* key) {
  auto it = device.find(key);
  return it != device.end() && it->is_string() ? Q(it->get<std::string>()) : QString();
}

}  // namespace

QWidget* pageHeader(const QString& title, const QString& text, QWidget* parent) {
  auto* header = new QWidget(parent);
  auto* layout = new QVBoxLayout(header);
  layout->setContentsMargins(0, 0, 0, 6);
  layout->setSpacing(6);
  auto* titleLabel = new QLabel(title, header);
  titleLabel->setObjectName(QStringLiteral("pageTitle"));
  titleLabel->setFont(Fonts::system(18, true));
  titleLabel->setWordWrap(true);
  layout->addWidget(titleLabel);
  if (!text.isEmpty()) {
    auto* textLabel = new QLabel(text, header);
    textLabel->setObjectName(QStringLiteral("pageText"));
    textLabel->setWordWrap(true);
    layout->addWidget(textLabel);
  }
  return header;
}

// --- Login ------------------------------------------------------------------

LoginPage::LoginPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("firstView"));
  // A narrow column in the middle: a login form does not need the width.
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(kPageMargin, kPageMargin, kPageMargin, 16);
  auto* middle = new QHBoxLayout();
  auto* column = new QWidget(this);
  column->setMaximumWidth(460);
  column->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
  middle->addStretch(1);
  middle->addWidget(column, 3);
  middle->addStretch(1);
  outer->addStretch(1);
  outer->addLayout(middle);
  outer->addStretch(2);

  auto* layout = new QVBoxLayout(column);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(12);
  auto* logo = new QLabel(column);
  logo->setPixmap(Images::pixmap(QStringLiteral("logo"), 64, devicePixelRatioF()));
  logo->setAccessibleName(QStringLiteral("Palvero"));
  logo->setAlignment(Qt::AlignHCenter);
  layout->addWidget(logo);
  auto* title = new QLabel(T("loginTitle"), column);
  title->setObjectName(QStringLiteral("pageTitle"));
  title->setFont(Fonts::system(18, true));
  title->setAlignment(Qt::AlignHCenter);
  title->setWordWrap(true);
  auto* text = new QLabel(T("loginText"), column);
  text->setAlignment(Qt::AlignHCenter);
  text->setWordWrap(true);
  layout->addWidget(title);
  layout->addWidget(text);
  layout->addSpacing(8);

  auto* form = new QFormLayout();
  form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  form->setHorizontalSpacing(14);
  form->setVerticalSpacing(10);
  userName_ = new QLineEdit(column);
  userName_->setObjectName(QStringLiteral("userNameField"));
  userName_->setAccessibleName(T("userName"));
  password_ = new QLineEdit(column);
  password_->setObjectName(QStringLiteral("passwordField"));
  password_->setAccessibleName(T("password"));
  password_->setEchoMode(QLineEdit::Password);
  form->addRow(T("userName"), userName_);
  form->addRow(T("password"), password_);
  layout->addLayout(form);

  auto* agreement = new QHBoxLayout();
  agreement->setSpacing(0);
  license_ = new QCheckBox(T("acceptAgreement"), column);
  license_->setObjectName(QStringLiteral("licenseCheckBox"));
  licenseButton_ = new QPushButton(T("agreementLink"), column);
  licenseButton_->setObjectName(QStringLiteral("licenseButton"));
  licenseButton_->setCursor(Qt::PointingHandCursor);
  licenseButton_->setStyleSheet(
      QStringLiteral("QPushButton { border: none; padding: 0 0 0 4px; color: palette(link); text-decoration: underline; }"));
  agreement->addWidget(license_);
  agreement->addWidget(licenseButton_);
  agreement->addStretch(1);
  layout->addLayout(agreement);
  layout->addSpacing(6);

  next_ = primary(T("next"), "firstNextButton", column);
  layout->addWidget(next_);
  forgot_ = new QPushButton(T("forgotPassword"), column);
  forgot_->setObjectName(QStringLiteral("forgotPasswordButton"));
  forgot_->setCursor(Qt::PointingHandCursor);
  forgot_->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 2px; color: palette(link); }"));
  layout->addWidget(forgot_, 0, Qt::AlignHCenter);

  version_ = new QLabel(QStringLiteral("v. %1").arg(Q(Env::applicationVersion())), this);
  version_->setObjectName(QStringLiteral("versionLabel"));
  QPalette dim = version_->palette();
  dim.setColor(QPalette::WindowText, dim.color(QPalette::PlaceholderText));
  version_->setPalette(dim);
  outer->addWidget(version_, 0, Qt::AlignRight);

  connect(next_, &QPushButton::clicked, this, &LoginPage::nextPressed);
  connect(password_, &QLineEdit::returnPressed, this, &LoginPage::nextPressed);
  connect(forgot_, &QPushButton::clicked, this, &LoginPage::forgotPasswordPressed);
  connect(licenseButton_, &QPushButton::clicked, this, &LoginPage::licensePressed);
}

// --- Device -----------------------------------------------------------------

DevicePage::DevicePage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("chooseDeviceView"));
  auto* layout = pageLayout(this);
  layout->addWidget(pageHeader(T("deviceTitle"), T("deviceText"), this));
  replace_ = new QRadioButton(T("replaceDevice"), this);
  replace_->setObjectName(QStringLiteral("deviceReplaceExistingRadio"));
  addNew_ = new QRadioButton(T("addDevice"), this);
  addNew_->setObjectName(QStringLiteral("deviceAddNewRadio"));
  auto* group = new QButtonGroup(this);
  group->addButton(replace_);
  group->addButton(addNew_);
  replace_->setChecked(true);

  table_ = new QTableWidget(0, 3, this);
  table_->setObjectName(QStringLiteral("devicesTable"));
  table_->setAccessibleName(T("replaceDevice"));
  table_->setHorizontalHeaderLabels({T("columnDevice"), T("columnType"), T("columnComputer")});
  table_->verticalHeader()->setVisible(false);
  table_->setShowGrid(false);
  table_->setAlternatingRowColors(true);
  table_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setIconSize(QSize(24, 24));
  table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  table_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  table_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
  newName_ = new QLineEdit(this);
  newName_->setObjectName(QStringLiteral("deviceNewDeviceTextField"));
  newName_->setAccessibleName(T("newDeviceName"));
  newName_->setPlaceholderText(T("newDeviceName"));

  layout->addWidget(replace_);
  layout->addWidget(table_, 1);
  layout->addSpacing(6);
  layout->addWidget(addNew_);
  auto* nameRow = new QHBoxLayout();
  nameRow->addSpacing(24);
  nameRow->addWidget(newName_);
  layout->addLayout(nameRow);
  next_ = primary(T("next"), "deviceNextButton", this);
  layout->addLayout(buttonRow({}, {next_}));

  connect(replace_, &QRadioButton::toggled, this, [this] { radioChanged(); });
  connect(table_, &QTableWidget::itemSelectionChanged, this, [this] {
    if (!table_->selectedItems().isEmpty() && !replace_->isChecked()) replace_->setChecked(true);
  });
  connect(newName_, &QLineEdit::textEdited, this, [this] { addNew_->setChecked(true); });
  connect(next_, &QPushButton::clicked, this, &DevicePage::nextPressed);
  radioChanged();
}

void DevicePage::setDevices(const std::vector<Value>& devices) {
  table_->setRowCount(0);
  for (const Value& device : devices) {
    int row = table_->rowCount();
    table_->insertRow(row);
    int type = intOf(device, "DeviceType");
    QString name = textOf(device, "Name");
    if (name.isEmpty()) name = textOf(device, "DeviceID");
    auto* nameItem = new QTableWidgetItem(Images::icon(Images::deviceImage(type)), name);
    nameItem->setData(Qt::UserRole, textOf(device, "DeviceID"));
    table_->setItem(row, 0, nameItem);
    table_->setItem(row, 1, new QTableWidgetItem(QString::fromLatin1(DeviceTypes::infoForType(type).label)));
    table_->setItem(row, 2, new QTableWidgetItem(textOf(device, "ComputerName")));
  }
  replace_->setEnabled(!devices.empty());
  if (devices.empty()) {
    addNew_->setChecked(true);
  } else {
    replace_->setChecked(true);
    table_->selectRow(0);
  }
}

QString DevicePage::chosenDeviceText() const {
  QTableWidgetItem* item = chosenItem();
  return item ? item->text() : QString();
}

QString DevicePage::chosenDeviceKey() const {
  QTableWidgetItem* item = chosenItem();
  if (!item) return QString();
  QString id = item->data(Qt::UserRole).toString();
  return id.isEmpty() ? item->text() : id;
}

QTableWidgetItem* DevicePage::chosenItem() const {
  auto selected = table_->selectionModel() ? table_->selectionModel()->selectedRows() : QModelIndexList();
  return table_->item(selected.isEmpty() ? 0 : selected.first().row(), 0);
}

void DevicePage::radioChanged() {
  bool replace = replace_->isChecked();
  if (!replace) {
    table_->clearSelection();
  } else if (table_->selectedItems().isEmpty() && table_->rowCount() > 0) {
    table_->selectRow(0);
  }
  newName_->setEnabled(!replace);
  if (!replace) newName_->setFocus();
}

// --- Exclusions ---------------------------------------------------------------

ExclusionsPage::ExclusionsPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("exclusionsView"));
  auto* layout = pageLayout(this);
  layout->addWidget(pageHeader(T("exclusionsTitle"), T("exclusionsText"), this));
  editor_ = new ExclusionEditor(nullptr, this);
  layout->addWidget(editor_, 1);
  restore_ = new QPushButton(T("restoreFirst"), this);
  restore_->setObjectName(QStringLiteral("restoreButton"));
  next_ = primary(T("next"), "exclusionNextButton", this);
  layout->addLayout(buttonRow({restore_}, {next_}));
  connect(next_, &QPushButton::clicked, this, &ExclusionsPage::nextPressed);
  connect(restore_, &QPushButton::clicked, this, &ExclusionsPage::restorePressed);
}

// --- Restore presets ------------------------------------------------------------

RestorePresetsPage::RestorePresetsPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("restoreView"));
  auto* layout = pageLayout(this);
  layout->addWidget(pageHeader(T("restoreTitle"), T("restoreText"), this));

  auto* when = new QGroupBox(T("restoreWhen"), this);
  auto* whenLayout = new QVBoxLayout(when);
  latest_ = new QRadioButton(T("restoreLatest"), when);
  latest_->setObjectName(QStringLiteral("restoreLatestRadio"));
  atDate_ = new QRadioButton(T("restoreAtDate"), when);
  atDate_->setObjectName(QStringLiteral("restoreDateRadio"));
  latest_->setChecked(true);
  calendar_ = new RestoreCalendar(QSize(320, 230), when);
  time_ = new QTimeEdit(QTime(23, 59), when);
  time_->setObjectName(QStringLiteral("restoreTime"));
  time_->setDisplayFormat(QStringLiteral("HH:mm"));
  time_->setAccessibleName(T("restoreTime"));
  whenLayout->addWidget(latest_);
  whenLayout->addWidget(atDate_);
  auto* dateRow = new QHBoxLayout();
  dateRow->setContentsMargins(24, 0, 0, 0);
  dateRow->addWidget(calendar_, 0, Qt::AlignTop);
  dateRow->addWidget(time_, 0, Qt::AlignTop);
  dateRow->addStretch(1);
  whenLayout->addLayout(dateRow);

  auto* what = new QGroupBox(T("restoreWhat"), this);
  auto* whatLayout = new QVBoxLayout(what);
  allData_ = new QRadioButton(T("restoreAllData"), what);
  allData_->setObjectName(QStringLiteral("restoreAllDataRadio"));
  allData_->setChecked(true);
  chosen_ = new QRadioButton(T("restoreChosenItems"), what);
  chosen_->setObjectName(QStringLiteral("restoreChosenRadio"));
  tree_ = new FolderTree(what);
  tree_->setObjectName(QStringLiteral("restoreTree"));
  tree_->setMinimumHeight(140);
  whatLayout->addWidget(allData_);
  whatLayout->addWidget(chosen_);
  whatLayout->addWidget(tree_, 1);

  RestoreDestinationBox destination = RestoreDestinationBox::make(this);
  QGroupBox* where = destination.group;
  original_ = destination.original;
  other_ = destination.other;
  destination_ = destination.destination;
  choose_ = destination.choose;
  replace_ = destination.replace;

  auto* columns = new QHBoxLayout();
  auto* left = new QVBoxLayout();
  left->addWidget(when);
  left->addStretch(1);
  columns->addLayout(left, 1);
  auto* right = new QVBoxLayout();
  right->addWidget(what, 1);
  right->addWidget(where);
  right->addWidget(replace_);
  columns->addLayout(right, 1);
  layout->addLayout(columns, 1);

  cancel_ = new QPushButton(T("cancel"), this);
  cancel_->setObjectName(QStringLiteral("restoreCancelButton"));
  restore_ = primary(T("restoreButton"), "restoreStartButton", this);
  layout->addLayout(buttonRow({cancel_}, {restore_}));

  connect(atDate_, &QRadioButton::toggled, this, [this] { updateEnabled(); });
  connect(chosen_, &QRadioButton::toggled, this, [this] { updateEnabled(); });
  connect(other_, &QRadioButton::toggled, this, [this] { updateEnabled(); });
  connect(destination_, &QLineEdit::textChanged, this, [this] { updateEnabled(); });
  connect(choose_, &QPushButton::clicked, this, [this] {
    QString folder = QFileDialog::getExistingDirectory(this, T("chooseFolder"), destination_->text());
    if (!folder.isEmpty()) {
      destination_->setText(folder);
      other_->setChecked(true);
    }
  });
  connect(restore_, &QPushButton::clicked, this, &RestorePresetsPage::restorePressed);
  connect(cancel_, &QPushButton::clicked, this, &RestorePresetsPage::cancelPressed);
  updateEnabled();
}

void RestorePresetsPage::listTree(std::shared_ptr<CommunicationServer> server) {
  if (source_) return;
  source_ = std::make_shared<RestoreTreeSource>(std::make_shared<RemoteBrowser>(std::move(server)));
  auto source = source_;
  // The model belongs to the tree, a child of this page: `this` outlives it.
  model_ = new FolderTreeModel(
      source, [source](const std::string& key) { return source->stateOf(key); },
      [this, source](const std::string& key, bool checked) {
        source->setChecked(key, checked);
        updateEnabled();
      },
      tree_);
  tree_->setFolderModel(model_);
  model_->setRoot(RestoreTreeSource::rootKey());
}

void RestorePresetsPage::updateEnabled() {
  calendar_->setEnabled(atDate_->isChecked());
  time_->setEnabled(atDate_->isChecked());
  tree_->setEnabled(chosen_->isChecked());
  destination_->setEnabled(other_->isChecked());
  bool somewhere = !other_->isChecked() || !destination_->text().trimmed().isEmpty();
  bool something = !chosen_->isChecked() || (source_ && !source_->selection().empty());
  restore_->setEnabled(somewhere && something);
}

// --- Finish ---------------------------------------------------------------------

FinishPage::FinishPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("finishView"));
  auto* layout = pageLayout(this);
  layout->addWidget(pageHeader(T("finishTitle"), T("finishText"), this));
  folder_ = new QLabel(this);
  folder_->setObjectName(QStringLiteral("finishFolder"));
  folder_->setWordWrap(true);
  folder_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(folder_);
  auto* next = new QLabel(T("finishNext"), this);
  next->setWordWrap(true);
  layout->addWidget(next);
  layout->addStretch(1);
  scanLabel_ = new QLabel(T("initialScan"), this);
  scanLabel_->setObjectName(QStringLiteral("initialScanLabel"));
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("initialScanProgress"));
  progress_->setRange(0, 0);
  progress_->setTextVisible(false);
  layout->addWidget(scanLabel_);
  layout->addWidget(progress_);
  done_ = primary(T("done"), "doneButton", this);
  layout->addLayout(buttonRow({}, {done_}));
  connect(done_, &QPushButton::clicked, this, &FinishPage::donePressed);
  setScanning(false);
}

void FinishPage::setBackupFolder(const QString& folder) { folder_->setText(T("finishFolder").arg(folder)); }

void FinishPage::setFilesFound(qint64 count) {
  scanLabel_->setText(T("initialScanFound").arg(QLocale().toString(count)));
}

void FinishPage::setScanning(bool scanning) {
  scanLabel_->setVisible(scanning);
  progress_->setVisible(scanning);
  done_->setEnabled(!scanning);
}

}  // namespace palvero::ui
