#include "ui/main/RestorePage.h"

#include <QLabel>
#include <QVBoxLayout>

#include "ui/Fonts.h"
#include "ui/Text.h"

namespace palvero::ui {

RestorePage::RestorePage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("restorePage"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 20, 20, 20);
  auto* title = new QLabel(T("leftRestore"), this);
  title->setFont(Fonts::system(16, true));
  auto* info = new QLabel(T("restorePageInfo"), this);
  info->setObjectName(QStringLiteral("restorePageInfo"));
  info->setWordWrap(true);
  layout->addWidget(title);
  layout->addWidget(info);
  layout->addStretch(1);
}

}  // namespace palvero::ui
