#include <cstdlib>
#include <stdexcept>

#include "base/Hex.h"
#include "base/JsonText.h"
#include "base/StringFormat.h"
#include "base/NumberCast.h"
#include "engine/format/Compressor.h"
#include "protocol/CommunicationServer.h"

namespace palvero {
namespace {

std::string textOf(const Value& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_null()) return {};
  return value.dump();
}

int64_t integerOf(const Value& value) {
  if (value.is_number()) return saturatingInteger<int64_t>(value);
  if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
  if (value.is_string()) return std::strtoll(value.get<std::string>().c_str(), nullptr, 10);
  return 0;
}

bool booleanOf(const Value& value) {
  if (value.is_string()) {
    const auto& text = value.get_ref<const std::string&>();
    return text == "true" || text == "True" || integerOf(value) != 0;
  }
  return integerOf(value) != 0;
}

Value field(const Value& object, const char* key) {
  if (!object.is_object()) return Value();
  auto it = object.find(key);
  return it == object.end() ? Value() : *it;
}

// The path of a child: the parent's path and the name joined by "/" (a
// parent that already ends in "/", such as the root, gets no second one).
std::string childPath(const std::string& parent, const std::string& name) {
  if (!parent.empty() && parent.back() == '/') return parent + name;
  return parent + "/" + name;
}

// The entry's name under `key`. A name that is not UTF-8 arrives with
// U+FFFD in place of its bad bytes, and its exact bytes in hexadecimal as
// "nameBytes": those are the name the files were stored under.
std::string nameOf(const Value& entry, const char* key) {
  const Value bytes = field(entry, "nameBytes");
  if (bytes.is_string()) {
    const auto& hex = bytes.get_ref<const std::string&>();
    std::string name;
    bool valid = !hex.empty() && hex.size() % 2 == 0;
    for (size_t i = 0; valid && i < hex.size(); i += 2) {
      const int high = hexDigitValue(hex[i]);
      const int low = hexDigitValue(hex[i + 1]);
      valid = high >= 0 && low >= 0 && (high | low) != 0;
      name.push_back(static_cast<char>(high * 16 + low));
    }
    if (valid) return name;
  }
  return textOf(field(entry, key));
}

}  // namespace

std::optional<Date> CommunicationServer::dateOfModified(const std::string& text) {
  if (auto date = Date::parse(text, Date::kSettingsPattern)) return date;
  return Date::parse(text, "HH|mm|ss|MM|dd|yyyy");
}

void CommunicationServer::appendListingEntry(BackupedFolder& folder, const Value& entry, const std::string& deviceId,
                                             bool showDeleted, bool wholeList) {
  if (!entry.is_object()) return;
  if (!wholeList && entry.contains("device")) {
    const Value& device = entry["device"];
    BackupedFolder record;
    record.name = textOf(field(device, "name"));
    record.type = BackupedFolder::kTypeDevice;
    record.deviceType = textOf(field(device, "deviceType"));
    record.deviceId = textOf(field(device, "id"));
    folder.subFolders.push_back(std::move(record));
  } else if (entry.contains("drive")) {
    BackupedFolder record;
    record.name = textOf(entry["drive"]);
    record.type = BackupedFolder::kTypeDrive;
    record.deviceId = deviceId;
    folder.subFolders.push_back(std::move(record));
  } else if (entry.contains("folder")) {
    BackupedFolder record;
    record.name = nameOf(entry, "folder");
    record.type = BackupedFolder::kTypeFolder;
    record.toDelete = wholeList ? (booleanOf(field(entry, "toDelete")) ? 1 : 0) : integerOf(field(entry, "toDelete"));
    record.deviceId = deviceId;
    // The whole-folder listing names every entry by its path below "/".
    record.path = wholeList ? "/" + record.name : childPath(folder.path, record.name);
    if (wholeList || showDeleted || record.toDelete == 0) folder.subFolders.push_back(std::move(record));
  } else if (entry.contains("file")) {
    BackupedFile file;
    file.name = nameOf(entry, "file");
    file.size = integerOf(field(entry, "size"));
    file.toDelete = wholeList ? booleanOf(field(entry, "toDelete")) : integerOf(field(entry, "toDelete")) != 0;
    file.deviceId = deviceId;
    Value versions = field(entry, "version");
    if (versions.is_array()) {
      for (const Value& v : versions) {
        BackupFileVersion version;
        version.number = integerOf(field(v, "number"));
        version.size = integerOf(field(v, "size"));
        version.date = dateOfModified(textOf(field(v, "modified")));
        file.versions.push_back(version);
      }
    }
    bool keep = wholeList ? !file.toDelete : (showDeleted || !file.toDelete);
    if (keep) folder.files.push_back(std::move(file));
  }
}

std::optional<BackupedFolder> CommunicationServer::getFolderWithPath(const std::string& path,
                                                                     const std::optional<std::string>& deviceID,
                                                                     bool ShowDeleted) {
  try {
    const bool otherDevice = deviceID && !deviceID->empty();
    const std::string entryDevice = otherDevice ? *deviceID : std::string();
    BackupedFolder result;
    result.path = path;
    int64_t page = 1;
    while (true) {
      std::string pageText = stringWithFormat("%lld", static_cast<long long>(page));
      std::string form = otherDevice
                             ? getStringForRequest(RequestKind::kGetFolderPageOfDevice, path, pageText, *deviceID)
                             : getStringForRequest(RequestKind::kGetFolderPage, path, pageText);
      pacer_.waitBeforeListing(RequestPacer::listingPause());
      HttpResponse response = sendForm(form, CookieChoice::kLast, kMaxListingReplyBytes);
      pacer_.listingEnded();
      if (response.completed() && response.status == 401) {
        if (!syncAuthorise()) return std::nullopt;
        // A fresh call starts again from the first page.
        return rerunAfterRenewal<std::optional<BackupedFolder>>(
            "getFolderPage", std::nullopt, [&] { return getFolderWithPath(path, deviceID, ShowDeleted); });
      }
      if (!response.completed() || response.status != 200) {
        logFailure(stringWithFormat("getFolderPage FAIL. Path: %s. Page: %i. Response: %s with status code: %ld",
                                    path.c_str(), static_cast<int>(page), bodyForLog(response).c_str(),
                                    response.status));
        return std::nullopt;
      }
      updateCookies(response);
      Value reply = parseJson(response.body);
      if (!reply.is_object()) throw std::runtime_error("the reply of page " + std::to_string(page) + " is not JSON");
      int64_t pagesCount = integerOf(field(reply, "pagesCount"));
      int64_t replyPage = integerOf(field(reply, "page"));
      Value data = field(reply, "data");
      if (data.is_array()) {
        for (const Value& entry : data) appendListingEntry(result, entry, entryDevice, ShowDeleted, false);
      }
      if (replyPage >= pagesCount) break;
      // A service that keeps answering an earlier page would be asked forever.
      if (replyPage + 1 <= page) {
        logFailure(stringWithFormat("getFolderPage FAIL. Path: %s. Page: %i. The service answered page %lld of %lld",
                                    path.c_str(), static_cast<int>(page), static_cast<long long>(replyPage),
                                    static_cast<long long>(pagesCount)));
        return std::nullopt;
      }
      page = replyPage + 1;
    }
    if (otherDevice) result.deviceId = *deviceID;
    return result;
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method getFolder: ") + e.what());
    return std::nullopt;
  }
}

std::optional<BackupedFolder> CommunicationServer::getGetFilesList(const std::string& path,
                                                                   const std::optional<std::string>& andDeviceID) {
  try {
    const std::string device = andDeviceID && !andDeviceID->empty() ? *andDeviceID : clientId();
    pacer_.waitBeforeListing(RequestPacer::listingPause());
    HttpResponse response =
        sendForm(getStringForRequest(RequestKind::kGetFilesList, path), CookieChoice::kLast, kMaxListingReplyBytes);
    pacer_.listingEnded();
    if (response.completed() && response.status == 401) {
      if (!syncAuthorise()) return std::nullopt;
      return rerunAfterRenewal<std::optional<BackupedFolder>>("getFilesList", std::nullopt,
                                                              [&] { return getGetFilesList(path, andDeviceID); });
    }
    if (!response.completed() || response.status != 200) {
      logFailure(stringWithFormat("getFolderPage FAIL. Path: %s. Response: %s with status code: %ld", path.c_str(),
                                  bodyForLog(response).c_str(), response.status));
      return std::nullopt;
    }
    updateCookies(response);
    Bytes plain;
    Compressor compressor;
    if (!compressor.DecompressFromStream(bytesOfBody(response), plain, true, "tempDir", "r0")) {
      throw std::runtime_error("the reply could not be unpacked");
    }
    response = HttpResponse();
    BackupedFolder result;
    result.path = path;
    result.deviceId = device;
    // Entry by entry: the listing of a whole home is large.
    bool whole = forEachJsonArrayElement(std::string_view(reinterpret_cast<const char*>(plain.data()), plain.size()),
                                         [&](const Value& entry) { appendListingEntry(result, entry, device, false, true); });
    if (!whole) throw std::runtime_error("the unpacked reply is not a JSON array");
    return result;
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method getFilesList: ") + e.what());
    return std::nullopt;
  }
}

}  // namespace palvero
