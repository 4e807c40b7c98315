#include "cli/Output.h"

#include "base/StringFormat.h"

namespace palvero::cli {

void ProgressLine::show(const BackupRunner::Progress& progress) {
  if (!terminal_) return;
  std::string line = Output::progressLine(progress);
  out_ << "\r" << line << std::string(width_ > line.size() ? width_ - line.size() : 0, ' ') << std::flush;
  width_ = line.size();
}

void ProgressLine::clear() {
  if (terminal_ && width_ > 0) out_ << "\r" << std::string(width_, ' ') << "\r";
  width_ = 0;
}

std::string Output::bytes(int64_t count) {
  if (count < 1000) return stringWithFormat("%lld B", static_cast<long long>(count));
  const char* units[] = {"kB", "MB", "GB", "TB", "PB"};
  double value = static_cast<double>(count);
  int unit = -1;
  while (value >= 1000 && unit < 4) {
    value /= 1000;
    ++unit;
  }
  return stringWithFormat(value < 10 ? "%.2f %s" : (value < 100 ? "%.1f %s" : "%.0f %s"), value, units[unit]);
}

std::string Output::duration(double seconds) {
  if (seconds < 0) seconds = 0;
  auto whole = static_cast<long long>(seconds + 0.5);
  if (whole < 60) return stringWithFormat("%lld s", whole);
  if (whole < 3600) return stringWithFormat("%lld min %lld s", whole / 60, whole % 60);
  return stringWithFormat("%lld h %02lld min", whole / 3600, (whole % 3600) / 60);
}

std::string Output::progressLine(const BackupRunner::Progress& p) {
  std::string line = stringWithFormat("  %lld/%lld files  ", static_cast<long long>(p.filesDone),
                                      static_cast<long long>(p.filesTotal)) +
                     bytes(p.bytesDone) + "/" + bytes(p.bytesTotal);
  if (p.seconds > 0.5 && p.bytesDone > 0) {
    double rate = p.bytesDone / p.seconds;
    line += "  " + bytes(static_cast<int64_t>(rate)) + "/s";
    if (p.bytesTotal > p.bytesDone) line += "  about " + duration((p.bytesTotal - p.bytesDone) / rate) + " left";
  }
  return line;
}

std::string Output::summary(const BackupRunner::Result& result) {
  const RunSummary& run = result.summary;
  std::string text = stringWithFormat("Backed up %lld files, %s in %s", static_cast<long long>(run.filesBackedUp),
                                      bytes(run.bytesBackedUp).c_str(), duration(run.seconds).c_str());
  if (run.seconds > 0 && run.bytesBackedUp > 0) {
    text += " (" + bytes(static_cast<int64_t>(run.bytesBackedUp / run.seconds)) + "/s)";
  }
  text += "\n";
  if (run.filesFailed > 0) {
    text += stringWithFormat("%lld files failed; they are tried again by the next run:\n",
                             static_cast<long long>(run.filesFailed));
    size_t shown = 0;
    for (const auto& path : run.failedPaths) {
      if (++shown > 20) {
        text += stringWithFormat("  ... and %zu more\n", run.failedPaths.size() - 20);
        break;
      }
      text += "  " + path + "\n";
    }
  }
  return text;
}

std::string Output::restoreSummary(const RestoreRunner::Result& result) {
  std::string text = stringWithFormat("Restored %lld files, %s in %s", static_cast<long long>(result.filesRestored),
                                      bytes(result.bytesRestored).c_str(), duration(result.seconds).c_str());
  if (result.seconds > 0 && result.bytesRestored > 0) {
    text += " (" + bytes(static_cast<int64_t>(result.bytesRestored / result.seconds)) + "/s)";
  }
  text += "\n";
  if (!result.keptBeside.empty()) {
    // The local file was kept (changed since its last backup, or
    // --keep-existing): the user has to know where the restored one went.
    text += stringWithFormat("%zu local files kept (changed since their last backup, or --keep-existing); the restored "
                             "revisions are beside them:\n",
                             result.keptBeside.size());
    for (const auto& kept : result.keptBeside) text += "  " + kept.second + "\n";
  }
  if (!result.failures.empty()) {
    // Every failure is listed: the user has to know which files did not come back.
    text += stringWithFormat("%zu files failed:\n", result.failures.size());
    for (const auto& failure : result.failures) text += "  " + failure.path + ": " + failure.error + "\n";
  }
  return text;
}

std::string Output::verifySummary(const VerifyRunner::Result& result) {
  std::string text = stringWithFormat("Verified %lld files", static_cast<long long>(result.filesChecked));
  if (result.filesChosen < result.filesListed) {
    text += stringWithFormat(" (a random %lld of %lld)", static_cast<long long>(result.filesChosen),
                             static_cast<long long>(result.filesListed));
  }
  text += stringWithFormat(": %lld blocks, %s in %s\n", static_cast<long long>(result.blocksChecked),
                           bytes(result.bytesChecked).c_str(), duration(result.seconds).c_str());
  if (result.problems.empty()) {
    if (result.filesListed == 0) {
      text += "The service holds no files for this device.\n";
    } else if (result.filesChecked == result.filesChosen) {
      text += "Every file checked can be restored.\n";
    }
    return text;
  }
  // Every one is named: these are the files a restore would not bring back.
  text += stringWithFormat("%zu cannot be restored:\n", result.problems.size());
  for (const auto& problem : result.problems) text += "  " + problem.path + ": " + problem.reason + "\n";
  return text;
}

std::string Output::status(const StatusReport& report) {
  std::string text = "Service:      " + report.serverURL + "\n";
  if (!report.loggedIn) return text + "Logged in:    no (run \"palvero login\")\n";
  text += "Logged in:    " + report.user + " (device " + report.device + ")\n";
  if (report.rows.evaluated) {
    auto row = [&](const char* label, const CheckStatusRow& r) {
      if (r.text.empty()) return;
      text += stringWithFormat("%-14s%s %s\n", label, r.ok ? "ok  " : "FAIL", r.text.c_str());
    };
    row("Server:", report.rows.server);
    row("Storage:", report.rows.storage);
    row("Last backup:", report.rows.lastBackup);
    row("Failed files:", report.rows.failedFiles);
    row("Version:", report.rows.version);
    text += std::string("Backups:      ") + (report.rows.statusOK ? "allowed" : "held back until the above is fixed") +
            "\n";
  }
  text += stringWithFormat("Pending:      %lld files, %s\n", static_cast<long long>(report.pendingFiles),
                           bytes(report.pendingBytes).c_str());
  text += stringWithFormat("Failed:       %lld (5 tries or more), %lld retried by the next run\n",
                           static_cast<long long>(report.failedFiles), static_cast<long long>(report.failedRetrying));
  if (report.filesToDelete > 0) {
    text += stringWithFormat("To delete:    %lld removed files\n", static_cast<long long>(report.filesToDelete));
  }
  text += "Last backup:  " + (report.lastBackup ? report.lastBackup->format("yyyy-MM-dd HH:mm:ss") : "never") + "\n";
  return text;
}

}  // namespace palvero::cli
