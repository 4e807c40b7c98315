// The list of a run: every file of the device (all data) or of the user's
// selection, walked through the service's listings, each with the revision
// to fetch, written to the restore table in groups of 400.
#include <cmath>
#include <exception>

#include "base/StringFormat.h"
#include "engine/PathRules.h"
#include "protocol/CommunicationServer.h"
#include "protocol/RequestPacer.h"
#include "restore/RemoteTreeWalker.h"
#include "restore/RestoreManager.h"
#include "state/DBManager.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

// A name the service gave for an entry of a folder: one component only.
bool acceptableName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

bool acceptableDrive(const std::string& name) { return name == "/" || acceptableName(name); }

// A name of the whole-folder listing: a path below "/" ("home/ann/a.txt"),
// made of acceptable components only.
bool acceptableListedPath(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) return false;
  size_t start = 0;
  while (true) {
    size_t slash = name.find('/', start);
    if (!acceptableName(name.substr(start, slash == std::string::npos ? std::string::npos : slash - start))) {
      return false;
    }
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

// True when `path` is `item` or lies beneath it, by whole components.
bool covers(const std::string& item, const std::string& path) {
  return item.empty() || PathRules::isBeneath(path, item);
}

// The path a folder record is listed by.
std::string listingPath(const BackupedFolder& folder) {
  if (folder.type == BackupedFolder::kTypeDrive) return folder.name;
  if (folder.type == BackupedFolder::kTypeDevice) return "";
  return folder.path;
}

}  // namespace

int64_t RestoreManager::findVersionByDate(double date, const std::vector<BackupFileVersion>& Versions) {
  int64_t chosen = -2;
  int64_t best = 0;
  bool found = false;
  for (const auto& version : Versions) {
    if (!version.date) continue;
    auto difference = static_cast<int64_t>(std::trunc(version.date->timeIntervalSince1970() - date));
    if (difference >= 0) continue;
    if (!found || -difference < best) {
      found = true;
      best = -difference;
      chosen = version.number;
    }
  }
  return chosen;
}

int64_t RestoreManager::revisionAt(double date, const std::vector<BackupFileVersion>& versions) {
  // A file of one revision comes back at its latest: its only date may be a
  // creation time later than the content it holds.
  return versions.size() > 1 ? findVersionByDate(date, versions) : -1;
}

bool RestoreManager::checkIfRestoreFolderShouldBeExcluded(const std::string& path) const {
  RestoreChoice c = choice();
  size_t removedDepth = 0;
  bool removed = false;
  if (c.filesAndFoldersRemovedFromRestore.is_object()) {
    for (const auto& [item, kind] : c.filesAndFoldersRemovedFromRestore.items()) {
      if (covers(item, path) && (!removed || item.size() > removedDepth)) {
        removed = true;
        removedDepth = item.size();
      }
    }
  }
  if (!removed) return false;
  // An item chosen again below the removed one wins for what lies under it.
  if (c.filesAndFoldersForRestore.is_object()) {
    for (const auto& [item, kind] : c.filesAndFoldersForRestore.items()) {
      if (item.size() > removedDepth && covers(item, path)) return false;
    }
  }
  return true;
}

void RestoreManager::refuse(const std::string& path, const std::string& reason) {
  log(kRestoreError, kSessionRestore, stringWithFormat("File is not restored - %s: %s", path.c_str(), reason.c_str()),
      kLogFailure);
  std::lock_guard lock(queueLock_);
  failedFiles_.push_back({path, reason});
}

void RestoreManager::writeGroup(std::vector<RestoreEntry>& group) {
  if (group.empty()) return;
  Value records = Value::array();
  for (const auto& entry : group) records.push_back(entry.toValue());
  if (!DBManager::sharedDBManager().InsertOrUpdateFileToDatabase(records, false)) {
    for (const auto& entry : group) refuse(entry.path, "The restore list could not be written");
  } else {
    log(kGeneralLogEvent, kSessionRestore,
        stringWithFormat("Restore list: %zu entries written", static_cast<size_t>(group.size())), kLogDetail);
  }
  group.clear();
}

void RestoreManager::addFileEntry(const BackupedFile& file, const std::string& folderPath, const std::string& deviceId,
                                  bool latest, std::vector<RestoreEntry>& group, std::vector<RestoreEntry>& all) {
  RestoreEntry entry;
  entry.path = PathRules::join(folderPath, file.name);
  entry.deviceID = deviceId;
  entry.size = file.size;
  if (!latest) {
    entry.revision = revisionAt(choice().restoreDate, file.versions);
    if (entry.revision == -2) return;
    for (const auto& version : file.versions) {
      if (version.number == entry.revision) entry.size = version.size;
    }
  }
  sizeOfFilesToRestore_ += entry.size;
  ++filesToRestoreCount_;
  group.push_back(entry);
  all.push_back(std::move(entry));
  if (group.size() >= kGroupSize) writeGroup(group);
}

std::optional<BackupedFolder> RestoreManager::listFolder(CommunicationServer& server, const std::string& path,
                                                         const std::string& deviceId, bool showDeleted) {
  std::optional<std::string> device;
  if (!deviceId.empty()) {
    device = deviceId;
  } else if (path.empty()) {
    // "" without a device lists the account's devices; this device's drives
    // need its own identifier.
    device = LocalSettings::sharedManager().clientId().value_or("");
  }
  return server.getFolderWithPath(path, device, showDeleted);
}

size_t RestoreManager::listingThreads() {
  return RequestPacer::requestPause() > Clock::Duration::zero() ? 1 : kListingThreads;
}

std::vector<RestoreEntry> RestoreManager::collect(const std::vector<BackupedFolder>& roots, bool latest,
                                                  bool showDeleted,
                                                  const std::function<bool(const std::string&)>& excluded) {
  std::vector<RestoreEntry> all;
  std::vector<RestoreEntry> group;
  RemoteTreeWalker walker([this] { return makeServer(); }, listingThreads());
  walker.walk(
      roots,
      [&](CommunicationServer& server, const BackupedFolder& folder) {
        return listFolder(server, listingPath(folder), folder.deviceId, showDeleted);
      },
      [&](const BackupedFolder& asked, const std::optional<BackupedFolder>& listed) {
        std::vector<BackupedFolder> next;
        if (paused_.load()) return next;
        const std::string path = listingPath(asked);
        if (!listed) {
          log(kGeneralLogEvent, kSessionRestore, stringWithFormat("Subfolders for folder %s are nil", path.c_str()),
              kLogFailure);
          refuse(path.empty() ? asked.name : path, "The folder could not be listed");
          return next;
        }
        for (const BackupedFile& file : listed->files) {
          std::string filePath = PathRules::join(path, file.name);
          if (!acceptableName(file.name)) {
            refuse(filePath, kRefusedName);
            continue;
          }
          if (excluded && excluded(filePath)) continue;
          addFileEntry(file, path, asked.deviceId, latest, group, all);
        }
        for (BackupedFolder sub : listed->subFolders) {
          if (sub.type == BackupedFolder::kTypeDevice) continue;
          if (sub.type == BackupedFolder::kTypeDrive) {
            if (!acceptableDrive(sub.name)) {
              refuse(sub.name, kRefusedName);
              continue;
            }
          } else if (!acceptableName(sub.name)) {
            refuse(PathRules::join(path, sub.name), kRefusedName);
            continue;
          } else {
            sub.path = PathRules::join(path, sub.name);
          }
          if (sub.deviceId.empty()) sub.deviceId = asked.deviceId;
          next.push_back(std::move(sub));
        }
        return next;
      });
  writeGroup(group);
  return all;
}

std::vector<RestoreEntry> RestoreManager::getFilesToRestoreAllData(const std::string& root, bool IsRestoreLatest) {
  try {
    const std::string base = PathRules::withoutTrailingSlashes(root);
    std::vector<RestoreEntry> all;
    if (!IsRestoreLatest) {
      // The state at a date needs the files deleted since, which the
      // whole-folder listing leaves out: the folder is walked page by page
      // with deleted entries.
      BackupedFolder folder;
      folder.type = BackupedFolder::kTypeFolder;
      folder.path = base;
      all = collect({folder}, false, true, nullptr);
    } else {
      all = collectWholeList(base);
    }
    post(kRestoreTotalSizeGained, Value{{"sizeOfFilesToRestore", sizeOfFilesToRestore_.load()}});
    return all;
  } catch (const std::exception& e) {
    log(kGeneralLogEvent, kSessionOther, stringWithFormat("Exception in getFilesToRestoreAllData: %s", e.what()),
        kLogFailure);
    return {};
  }
}

std::vector<RestoreEntry> RestoreManager::collectWholeList(const std::string& root) {
  std::vector<RestoreEntry> all;
  std::vector<RestoreEntry> group;
  // One listing of the whole tree: each file is named by its path below "/".
  auto listed = comServer_->getGetFilesList(root, std::nullopt);
  if (!listed) {
    log(kGeneralLogEvent, kSessionRestore, stringWithFormat("Subfolders for folder %s are nil", root.c_str()),
        kLogFailure);
    refuse(root, "The folder could not be listed");
    return all;
  }
  all.reserve(listed->files.size());
  for (BackupedFile& file : listed->files) {
    if (paused_.load()) break;
    // Moved out so that the listing shrinks while the plan grows.
    BackupedFile named = std::move(file);
    std::string path = "/" + named.name;
    // A name that is no clean path, or a path outside the folder asked
    // for, is never written anywhere.
    if (!acceptableListedPath(named.name) || !PathRules::isBeneath(path, root.empty() ? "/" : root)) {
      refuse(path, kRefusedName);
      continue;
    }
    named.name = PathRules::lastComponent(path);
    addFileEntry(named, PathRules::parentOf(path), "", true, group, all);
  }
  writeGroup(group);
  return all;
}

std::vector<RestoreEntry> RestoreManager::getFilesToRestoreChooseData(bool IsRestoreLatest) {
  try {
    RestoreChoice c = choice();
    const bool showDeleted = c.showDeletedFiles || !IsRestoreLatest;
    std::vector<BackupedFolder> roots;
    std::vector<RestoreEntry> all;
    std::vector<RestoreEntry> group;
    auto server = comServer_;
    if (c.filesAndFoldersForRestore.is_object()) {
      for (const auto& [path, description] : c.filesAndFoldersForRestore.items()) {
        std::string kind = description.is_array() && !description.empty() && description[0].is_string()
                               ? description[0].get<std::string>()
                               : std::string(RestoreChoice::kKindFile);
        std::string device = description.is_array() && description.size() > 1 && description[1].is_string()
                                 ? description[1].get<std::string>()
                                 : std::string();
        BackupedFolder root;
        root.deviceId = device;
        if (kind == RestoreChoice::kKindDevice) {
          root.type = BackupedFolder::kTypeDevice;
        } else if (kind == RestoreChoice::kKindDrive) {
          root.type = BackupedFolder::kTypeDrive;
          root.name = path;
        } else if (kind == RestoreChoice::kKindFolder) {
          root.type = BackupedFolder::kTypeFolder;
          root.path = path;
        } else {
          // One file: looked up by name in its folder's listing.
          auto listed = listFolder(*server, PathRules::parentOf(path), device, showDeleted);
          bool found = false;
          if (listed) {
            for (const auto& file : listed->files) {
              if (file.name != PathRules::lastComponent(path)) continue;
              found = true;
              addFileEntry(file, PathRules::parentOf(path), device, IsRestoreLatest, group, all);
              break;
            }
          }
          if (!found) refuse(path, listed ? "No file version" : "The folder could not be listed");
          continue;
        }
        roots.push_back(std::move(root));
      }
    }
    writeGroup(group);
    auto more = collect(roots, IsRestoreLatest, showDeleted,
                        [this](const std::string& path) { return checkIfRestoreFolderShouldBeExcluded(path); });
    all.insert(all.end(), more.begin(), more.end());
    post(kRestoreTotalSizeGained, Value{{"sizeOfFilesToRestore", sizeOfFilesToRestore_.load()}});
    return all;
  } catch (const std::exception& e) {
    log(kGeneralLogEvent, kSessionOther, stringWithFormat("Exception in getFilesToRestoreChooseData: %s", e.what()),
        kLogFailure);
    return {};
  }
}

std::vector<BackupedFolder> RestoreManager::getSubfolders(const BackupedFolder& folder, const std::string& DeviceID) {
  std::vector<BackupedFolder> out;
  try {
    BackupedFolder root = folder;
    if (root.deviceId.empty()) root.deviceId = DeviceID;
    const bool showDeleted = choice().showDeletedFiles;
    RemoteTreeWalker walker([this] { return makeServer(); }, listingThreads());
    walker.walk(
        {root},
        [&](CommunicationServer& server, const BackupedFolder& f) {
          return listFolder(server, listingPath(f), f.deviceId, showDeleted);
        },
        [&](const BackupedFolder& asked, const std::optional<BackupedFolder>& listed) {
          std::vector<BackupedFolder> next;
          if (!listed) {
            log(kGeneralLogEvent, kSessionRestore,
                stringWithFormat("Subfolders for folder %s are nil", listingPath(asked).c_str()), kLogFailure);
            return next;
          }
          for (BackupedFolder sub : listed->subFolders) {
            if (sub.type == BackupedFolder::kTypeFolder) {
              if (!acceptableName(sub.name)) continue;
              sub.path = PathRules::join(listingPath(asked), sub.name);
            }
            if (sub.deviceId.empty()) sub.deviceId = asked.deviceId;
            out.push_back(sub);
            next.push_back(std::move(sub));
          }
          return next;
        });
  } catch (const std::exception& e) {
    log(kGeneralLogEvent, kSessionOther, stringWithFormat("Exception in getSubfolders: %s", e.what()), kLogFailure);
  }
  return out;
}

std::vector<RestoreEntry> RestoreManager::readPending() {
  std::vector<RestoreEntry> out;
  Value rows = DBManager::sharedDBManager().SelectRestoreFilesFromDatabase(0);
  for (const Value& row : rows) out.push_back(RestoreEntry::fromValue(row));
  return out;
}

}  // namespace palvero
