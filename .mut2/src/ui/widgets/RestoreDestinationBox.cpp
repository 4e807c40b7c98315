#include "ui/widgets/RestoreDestinationBox.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "ui/Text.h"

namespace palvero::ui {

RestoreDestinationBox RestoreDestinationBox::make(QWidget* parent) {
  RestoreDestinationBox box{};
  box.group = new QGroupBox(T("restoreWhere"), parent);
  auto* layout = new QGridLayout(box.group);
  box.original = new QRadioButton(T("restoreOriginalPlace"), box.group);
  box.original->setObjectName(QStringLiteral("restoreOriginalRadio"));
  box.other = new QRadioButton(T("restoreOtherFolder"), box.group);
  box.other->setObjectName(QStringLiteral("restoreOtherFolderRadio"));
  box.original->setChecked(true);
  box.destination = new QLineEdit(box.group);
  box.destination->setObjectName(QStringLiteral("restoreDestinationField"));
  box.destination->setAccessibleName(T("restoreOtherFolder"));
  box.choose = new QPushButton(T("chooseFolder"), box.group);
  box.choose->setObjectName(QStringLiteral("chooseRestoreFolderButton"));
  layout->addWidget(box.original, 0, 0, 1, 3);
  layout->addWidget(box.other, 1, 0);
  layout->addWidget(box.destination, 1, 1);
  layout->addWidget(box.choose, 1, 2);
  layout->setColumnStretch(1, 1);
  box.replace = new QCheckBox(T("replaceFiles"), parent);
  box.replace->setObjectName(QStringLiteral("replaceFilesCheckbox"));
  box.replace->setChecked(true);
  return box;
}

}  // namespace palvero::ui
