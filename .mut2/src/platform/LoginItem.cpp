#include "platform/LoginItem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/AtomicFile.h"
#include "platform/Env.h"

namespace palvero {
namespace {

// An Exec argument quoted as desktop entries want it: in double
// quotes, with '"', '`', '$' and '\' escaped by a backslash, '%' doubled.
std::string execArgument(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += "\\\\";
    if (c == '%') quoted += '%';
    quoted += c;
  }
  return quoted + "\"";
}

// A value of a desktop entry cannot span lines.
std::string oneLine(const std::string& text) {
  std::string line;
  for (char c : text) line += (c == '\n' || c == '\r') ? ' ' : c;
  return line;
}

}  // namespace

std::string LoginItem::entryPath() {
  return Env::userConfigRoot() + "/autostart/" + Env::bundleIdentifier() + ".desktop";
}

std::string LoginItem::desktopEntry(const std::string& executable, const std::vector<std::string>& arguments,
                                    const std::string& name) {
  std::string exec = execArgument(executable);
  for (const auto& argument : arguments) exec += " " + execArgument(argument);
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=" + oneLine(name) + "\n"
         "Exec=" + oneLine(exec) + "\n"
         "Icon=palvero\n"
         "X-GNOME-Autostart-enabled=true\n"
         "NoDisplay=true\n";
}

bool LoginItem::enable(const std::string& executable, const std::vector<std::string>& arguments,
                       const std::string& name) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(entryPath()).parent_path(), ec);
  return AtomicFile::write(entryPath(), desktopEntry(executable, arguments, name), 0644);
}

bool LoginItem::isEnabled() {
  struct stat st {};
  return ::stat(entryPath().c_str(), &st) == 0;
}

bool LoginItem::disable() {
  return ::unlink(entryPath().c_str()) == 0 || errno == ENOENT;
}

}  // namespace palvero
