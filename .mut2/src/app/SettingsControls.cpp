#include "app/SettingsControls.h"

#include <cctype>

#include "app/Localization.h"
#include "app/MainViewController.h"
#include "base/StringFormat.h"
#include "selection/CommonExtensions.h"
#include "state/LocalSettings.h"

namespace palvero {

SettingsControls::Values SettingsControls::setSettingsValues() {
  auto& settings = LocalSettings::sharedManager();
  auto& catalogue = CommonExtensions::sharedExtensionsManager();
  Values values;
  values.timingEntry = timingEntryFor(settings.backupTimingType());
  values.onlyOnSetTime = settings.backupOnSetTime();
  values.dailyTime = settings.backupTimingTime();
  values.threadPosition = MainViewController::sliderPositionForThreads(settings.numberOfThreads());
  values.showAlerts = settings.showAlerts();
  values.proxyType = settings.proxyType();
  values.proxyFieldsEnabled = proxyFieldsEnabled(values.proxyType);
  values.proxyServer = settings.proxyServer().value_or("");
  values.proxyPort = settings.proxyPort().value_or("");
  values.proxyUsername = settings.proxyUsername().value_or("");
  values.proxyPassword = settings.proxyPassword().value_or("");
  values.bandwidth = settings.bandwidthLimit();
  values.bandwidthText = bandwidthText(values.bandwidth);
  values.externalDrives = catalogue.externalhd();
  values.emptyFiles = catalogue.emptyfiles();
  values.emptyExtension = catalogue.emptyExtension();
  // A value that changes nothing leaves the controls as they were: unlocked.
  values.locks = locksFor(settings.accessRights()).value_or(AccessLocks{});
  return values;
}

int SettingsControls::timingEntryFor(int32_t timingType) {
  switch (timingType) {
    case LocalSettings::kTimingContinuous:
      return 1;
    case LocalSettings::kTimingDaily:
      return 2;
    default:
      return 0;
  }
}

std::optional<AccessLocks> SettingsControls::locksFor(int32_t accessRights) {
  if (accessRights == 0) return AccessLocks{};
  if (accessRights != 1 && accessRights != 2) return std::nullopt;
  AccessLocks locked;
  locked.timingEnabled = false;
  locked.exclusionsEnabled = false;
  locked.advancedEnabled = false;
  locked.advancedVisible = false;
  locked.locksShown = true;
  locked.noticeShown = true;
  return locked;
}

bool SettingsControls::proxyFieldsEnabled(int32_t proxyType) { return proxyType != 0 && proxyType != 1; }

bool SettingsControls::changeProxyType(int32_t proxyType) {
  LocalSettings::sharedManager().saveParameter("proxyType", proxyType);
  return proxyFieldsEnabled(proxyType);
}

void SettingsControls::changeProxyServer(const std::string& text) {
  LocalSettings::sharedManager().saveParameter("proxyServer", text);
}

std::optional<std::string> SettingsControls::proxyPortReading(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i < text.size() && text[i] == '+') ++i;
  size_t digits = i;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
  if (i == digits || i != text.size()) return std::nullopt;
  // Leading zeros would make a six-digit text of a valid port.
  while (digits + 1 < text.size() && text[digits] == '0') ++digits;
  std::string number = text.substr(digits);
  if (number.size() > 5) return std::nullopt;
  long port = std::stol(number);
  if (port < 1 || port > 65535) return std::nullopt;
  return std::to_string(port);
}

bool SettingsControls::changeProxyPort(const std::string& text) {
  auto port = proxyPortReading(text);
  if (!port) return false;
  LocalSettings::sharedManager().saveParameter("proxyPort", *port);
  return true;
}

void SettingsControls::changeProxyUsername(const std::string& text) {
  LocalSettings::sharedManager().saveParameter("proxyUsername", text);
}

void SettingsControls::changeProxyPassword(const std::string& text) {
  LocalSettings::sharedManager().saveParameter("proxyPassword", text);
}

void SettingsControls::changeShowAlerts(bool on) { LocalSettings::sharedManager().saveParameter("showAlerts", on); }

std::string SettingsControls::bandwidthText(int32_t percent) {
  if (percent >= LocalSettings::kUnlimitedBandwidth) return L("UnlimitedSpeed");
  return stringWithFormat("%li %%", static_cast<long>(percent));
}

std::string SettingsControls::changeBandwidth(int32_t percent) {
  auto& settings = LocalSettings::sharedManager();
  settings.saveParameter(LocalSettings::kBandwidthLimitKey, percent);
  return bandwidthText(settings.bandwidthLimit());
}

bool SettingsControls::externalDrivesPressed(bool on) {
  return CommonExtensions::sharedExtensionsManager().saveParameter("externalhd", on ? 1 : 0);
}

bool SettingsControls::emptyFilesPressed(bool on) {
  return CommonExtensions::sharedExtensionsManager().saveParameter("emptyfiles", on ? 1 : 0);
}

bool SettingsControls::emptyExtensionPressed(bool on) {
  return CommonExtensions::sharedExtensionsManager().saveParameter("emptyExtension", on ? 1 : 0);
}

}  // namespace palvero
