#include <QApplication>
#include <QCommandLineParser>

#include "ui/DesktopApp.h"
#include "ui/TerminationSignals.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Palvero"));
  QApplication::setDesktopFileName(QStringLiteral("palvero-desktop"));
  QApplication::setQuitOnLastWindowClosed(false);
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Palvero backup: the desktop application"));
  parser.addHelpOption();
  QCommandLineOption background(QStringLiteral("background"),
                                QStringLiteral("Start with the window hidden when the desktop has a tray"));
  parser.addOption(background);
  parser.process(app);

  palvero::ui::TerminationSignals termination;
  palvero::ui::DesktopApp::Options options;
  options.background = parser.isSet(background);
  palvero::ui::DesktopApp desktop(options);
  if (!desktop.acquireInstance()) return 0;
  return desktop.exec();
}
