#include "ui/main/SettingsPage.h"

#include <QLabel>
#include <QVBoxLayout>

#include "ui/Fonts.h"
#include "ui/Text.h"

namespace palvero::ui {

SettingsPage::SettingsPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("settingsPage"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 20, 20, 20);
  auto* title = new QLabel(T("leftSettings"), this);
  title->setFont(Fonts::system(16, true));
  auto* info = new QLabel(T("settingsPageInfo"), this);
  info->setObjectName(QStringLiteral("settingsPageInfo"));
  info->setWordWrap(true);
  layout->addWidget(title);
  layout->addWidget(info);
  layout->addStretch(1);
}

}  // namespace palvero::ui
