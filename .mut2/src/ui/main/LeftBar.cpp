#include "ui/main/LeftBar.h"

#include <QButtonGroup>
#include <QEvent>
#include <QLabel>
#include <QMenu>
#include <QToolButton>
#include <QVBoxLayout>

#include "ui/Fonts.h"
#include "ui/Images.h"
#include "ui/Text.h"

namespace palvero::ui {
namespace {

struct EntryInfo {
  const char* key;
  const char* image;
  const char* name;
};
constexpr EntryInfo kEntries[] = {{"leftBackup", "nav-backup", "leftBackup"},
                                  {"leftRestore", "nav-restore", "leftRestore"},
                                  {"leftSettings", "nav-settings", "leftSettings"}};

}  // namespace

LeftBar::LeftBar(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("leftBar"));
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::AlternateBase);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 16, 8, 12);
  layout->setSpacing(6);

  auto* logo = new QLabel(this);
  logo->setObjectName(QStringLiteral("leftBarLogo"));
  logo->setPixmap(Images::pixmap(QStringLiteral("logo"), 44, devicePixelRatioF()));
  logo->setAlignment(Qt::AlignHCenter);
  logo->setAccessibleName(QStringLiteral("Palvero"));
  layout->addWidget(logo);
  layout->addSpacing(18);

  group_ = new QButtonGroup(this);
  group_->setExclusive(true);
  for (int i = 0; i < 3; ++i) {
    auto* entry = new QToolButton(this);
    entry->setObjectName(QString::fromLatin1(kEntries[i].name));
    entry->setText(T(kEntries[i].key));
    entry->setAccessibleName(T(kEntries[i].key));
    entry->setCheckable(true);
    entry->setAutoRaise(true);
    entry->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    entry->setIconSize(QSize(30, 30));
    entry->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    entry->setMinimumWidth(92);
    QFont font = Fonts::system(11, true);
    entry->setFont(font);
    group_->addButton(entry, i);
    entries_.push_back(entry);
    layout->addWidget(entry);
  }
  connect(group_, &QButtonGroup::idClicked, this, [this](int id) {
    setCurrentPage(id);
    emit pageChosen(id);
  });
  layout->addStretch(1);

  menuButton_ = new QToolButton(this);
  menuButton_->setObjectName(QStringLiteral("leftBarMenu"));
  menuButton_->setText(QStringLiteral("Palvero"));
  menuButton_->setAccessibleName(T("applicationMenu"));
  menuButton_->setPopupMode(QToolButton::InstantPopup);
  menuButton_->setToolButtonStyle(Qt::ToolButtonTextOnly);
  menuButton_->setAutoRaise(true);
  menuButton_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  layout->addWidget(menuButton_);
  setCurrentPage(kBackup);
}

void LeftBar::setMenu(QMenu* menu) { menuButton_->setMenu(menu); }

void LeftBar::setCurrentPage(int page) {
  current_ = page;
  entries_.at(static_cast<size_t>(page))->setChecked(true);
  paintEntries();
}

void LeftBar::paintEntries() {
  for (size_t i = 0; i < entries_.size(); ++i) {
    bool chosen = static_cast<int>(i) == current_;
    QColor text = chosen ? palette().color(QPalette::WindowText) : palette().color(QPalette::PlaceholderText);
    QColor image = chosen ? palette().color(QPalette::Highlight) : palette().color(QPalette::PlaceholderText);
    QPalette entryPalette = entries_[i]->palette();
    entryPalette.setColor(QPalette::ButtonText, text);
    entryPalette.setColor(QPalette::WindowText, text);
    entries_[i]->setPalette(entryPalette);
    entries_[i]->setIcon(Images::tintedIcon(QString::fromLatin1(kEntries[i].image), image));
  }
}

void LeftBar::changeEvent(QEvent* event) {
  QFrame::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) paintEntries();
}

}  // namespace palvero::ui
