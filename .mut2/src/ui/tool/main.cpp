#include <QApplication>
#include <QCommandLineParser>

#include "platform/Env.h"
#include "ui/DesktopApp.h"
#include "ui/TerminationSignals.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Palvero"));
  // The installed desktop entry is named after the bundle identifier.
  QApplication::setDesktopFileName(QString::fromStdString(palvero::Env::bundleIdentifier()));
  QApplication::setApplicationVersion(QString::fromStdString(palvero::Env::applicationVersion()));
  QApplication::setQuitOnLastWindowClosed(false);
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Palvero backup: the desktop application"));
  parser.addHelpOption();
  parser.addVersionOption();
  // The login item written at the wizard's hand-over passes it.
  QCommandLineOption minimized(QString::fromLatin1(palvero::AppDelegate::kStartMinimizedFlag + 2),
                               QStringLiteral("Start with the window hidden when the desktop has a tray"));
  parser.addOption(minimized);
  parser.process(app);

  palvero::ui::TerminationSignals termination;
  palvero::ui::DesktopApp::Options options;
  options.minimized = parser.isSet(minimized);
  palvero::ui::DesktopApp desktop(options);
  if (!desktop.acquireInstance()) return 0;
  return desktop.exec();
}
