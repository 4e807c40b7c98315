#include "app/StatusFormatter.h"

#include <cmath>

#include "app/Localization.h"
#include "base/StringFormat.h"

namespace palvero {
namespace {

constexpr double kDecimalGigabyte = 1e9;
constexpr double kDecimalMegabyte = 1e6;
constexpr double kThirtyDays = 2592000;

std::string allowanceText(const Value& allowance) {
  if (allowance.is_string()) return allowance.get<std::string>();
  if (allowance.is_number_integer()) return std::to_string(allowance.get<int64_t>());
  if (allowance.is_number()) return stringWithFormat("%g", allowance.get<double>());
  return "";
}

}  // namespace

std::string StatusFormatter::filesLabel(int64_t count) {
  return stringWithFormat("%lu ", static_cast<unsigned long>(count < 0 ? 0 : count)) + L("filesToBackup");
}

int64_t StatusFormatter::remainingFiles(int64_t filesToBackupCount, int64_t totalFilesItr) {
  int64_t remaining = filesToBackupCount - totalFilesItr;
  return remaining < 0 ? 0 : remaining;
}

std::string StatusFormatter::sizeText(int64_t doneBytes, int64_t totalBytes) {
  bool doneInGB = doneBytes > kDecimalGigabyte;
  bool totalInGB = totalBytes > kDecimalGigabyte;
  double done = doneBytes / (doneInGB ? kDecimalGigabyte : kDecimalMegabyte);
  double total = totalBytes / (totalInGB ? kDecimalGigabyte : kDecimalMegabyte);
  return L("BackupedFilesSizeTotal") + stringWithFormat(" %.2f %s/%.2lf %s", done, L(doneInGB ? "GB" : "MB").c_str(),
                                                        total, L(totalInGB ? "GB" : "MB").c_str());
}

std::string StatusFormatter::fillNumber(const std::string& format, int64_t value) {
  std::string text = format;
  auto at = text.find("%ld");
  if (at != std::string::npos) text.replace(at, 3, std::to_string(value));
  return text;
}

std::string StatusFormatter::timeSince(double seconds) {
  if (seconds < 0) return L("moreThan9Hours");
  auto whole = static_cast<int64_t>(std::llround(seconds));
  if (whole < 1) return "";
  if (whole < 60) return fillNumber(L("xSeconds"), whole);
  if (whole < 3600) return fillNumber(L("xMinutes"), whole / 60);
  return fillNumber(L("xHours"), whole / 3600);
}

std::string StatusFormatter::timeRemaining(int64_t minutes) {
  std::string text;
  if (minutes < 60) {
    text = stringWithFormat("%ld mins ", static_cast<long>(minutes));
  } else if (minutes < 4320) {
    text = stringWithFormat("%ld hrs %ld mins ", static_cast<long>(minutes / 60), static_cast<long>(minutes % 60));
  } else {
    text = "More than 72 hours ";
  }
  return text + L("left");
}

std::optional<double> StatusFormatter::estimateMinutes(int64_t counter, int64_t filesToBackupCount,
                                                       int64_t totalFilesItr, double totalGigabytes,
                                                       double doneGigabytes) {
  if (counter < 2) return std::nullopt;
  double t = counter / 3.0;
  double byFiles = (filesToBackupCount - totalFilesItr) * t / static_cast<double>(totalFilesItr);
  double bySize = (totalGigabytes - doneGigabytes) * t / doneGigabytes;
  double estimate = (byFiles + bySize) / 2;
  if (!std::isfinite(estimate) || estimate <= 1.0) return std::nullopt;
  return estimate;
}

std::string StatusFormatter::lastBackupText(const std::optional<Date>& dateBackupStarted) {
  if (!dateBackupStarted) return "-";
  return L("backupDone") + " " + dateBackupStarted->format("dd.MM.yyyy HH:mm");
}

std::optional<double> StatusFormatter::allowanceGigabytes(const Value& allowance) {
  double value = 0;
  if (allowance.is_number()) {
    value = allowance.get<double>();
  } else if (allowance.is_string()) {
    const std::string& text = allowance.get_ref<const std::string&>();
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size()) return std::nullopt;
  } else {
    return std::nullopt;
  }
  if (value == 0 || value == -1 || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::string StatusFormatter::storageText(int64_t totalUsed, const Value& allowance, bool& full) {
  std::optional<double> limit = allowanceGigabytes(allowance);
  full = limit && static_cast<double>(totalUsed) > *limit * kDecimalGigabyte;
  bool inGB = totalUsed > 1000000000;
  double used = totalUsed / (inGB ? kDecimalGigabyte : kDecimalMegabyte);
  std::string text = stringWithFormat(inGB ? "Used %.2f GB / " : "Used %.2f MB / ", used);
  return text + (limit ? allowanceText(allowance) + " GB" : std::string("Unlimited"));
}

std::string StatusFormatter::lastBackupRow(const std::optional<Date>& dateBackupStarted, Date now, bool& ok) {
  if (!dateBackupStarted) {
    ok = true;
    return "Last backup was more than 30 days";
  }
  if (now.timeIntervalSince(*dateBackupStarted) > kThirtyDays) {
    ok = false;
    return "Last backup was more than 30 days";
  }
  ok = true;
  return dateBackupStarted->format("dd.MM.yyyy HH:mm");
}

}  // namespace palvero
