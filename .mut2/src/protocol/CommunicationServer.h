// The request layer: every exchange with the backup service's script
// ("/server.php") goes through an instance of this class. It builds the form
// and multipart bodies, sends them (User-Agent, one session cookie, 60-second
// timeout), keeps the instance's session cookies, renews the session when the
// service answers 401, and applies the retry discipline of the block and
// version requests with its offline break (set when the service cannot be
// reached, so the engines wait instead of counting a failure).
//
// One header, one .cpp per request family:
//   CommunicationServer.cpp          construction, cookies, envelope, retries
//   CommunicationServerCatalogue.cpp the request catalogue
//   CommunicationServerSession.cpp   syncAuthorise, syncPing
//   CommunicationServerMultipart.cpp the multipart writer (version uploads)
//   CommunicationServerVersions.cpp  get_ver, upload_ver
//   CommunicationServerBlocks.cpp    check_block, upload_block(s), get_block
//   CommunicationServerDeletion.cpp  delete
//   CommunicationServerStatus.cpp    status reports
//   CommunicationServerAccount.cpp   register, register_device, forgot_pas, send_serial_numbers
//   CommunicationServerFolders.cpp   get_folder_page, get_files_list
//   CommunicationServerSettings.cpp  save_settings, load_settings
//   CommunicationServerStatistics.cpp get_statistic_by_categories, get_top10, get_support_info
//   CommunicationServerUpdate.cpp    send_logs, check_version, download_update
// A new request family adds its operations here under its own heading and
// their definitions in a new CommunicationServer<Family>.cpp, built from the
// envelope helpers in the private section.
//
// Instances are made with create() and owned by shared_ptr: an asynchronous
// request keeps its instance alive until its completion has run.
//
// Thread contract: an instance may be used from several threads at once. The
// cookie list is read and replaced whole under the instance's lock; nothing
// else changes after construction. Synchronous operations block the calling
// thread (up to 60 seconds per attempt plus the pauses that space out
// requests, all taken through Clock::current()). "get_ver", "check_block" and
// "upload_ver" wait until "RequestPause" (a setting the service may send;
// 0.1 s by default) has passed since the instance's previous exchange, and
// each listing request until twice it has passed since the previous
// listing's reply. Completions of asynchronous requests run on the
// main run loop (RunLoop::main()), where their notifications are posted.
// Notifications name the instance as their sender.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "base/Clock.h"
#include "base/Date.h"
#include "base/Value.h"
#include "engine/format/FileBlock.h"
#include "engine/format/FileBlockToSend.h"
#include "protocol/BackupedFolder.h"
#include "protocol/HTTPCookie.h"
#include "protocol/HttpTransport.h"
#include "protocol/RequestPacer.h"

namespace palvero {

// The request kinds of the catalogue, in its order (the value is the
// request type number).
enum class RequestKind : uint32_t {
  kGetAccount,
  kAuth,
  kRegister,
  kRegisterDevice,
  kGetFolder,
  kGetFolderPage,
  kGetFolderPageOfDevice,
  kGetFilesList,
  kGetVersion,
  kGetVersionOfDevice,
  kGetSpeed,
  kCheckBlock,
  kUploadBlock,
  kUploadBlocksMulti,
  kGetBlock,
  kDelete,
  kUploadVersion,
  kGetStatisticByCategories,
  kSaveSettings,
  kLoadSettings,
  kForgotPassword,
  kGetServerParams,
  kGetTop10,
  kSendLogs,
  kCheckVersion,
  kDownloadUpdate,
  kPing,
  kGetSupportInfo,
  kStatus,
  kSendSerialNumbers,
};

class CommunicationServer : public std::enable_shared_from_this<CommunicationServer> {
  struct Passkey {
    explicit Passkey() = default;
  };

 public:
  // `ConnectionQuality`, the result of syncPing().
  enum ConnectionQuality : int32_t { kConnectionOffline = 0, kConnectionSlow = 1, kConnectionGood = 2 };

  static constexpr uint32_t kRequestTypeCount = 30;
  static constexpr int kMaxAttempts = 5;
  static constexpr const char* kUserAgentProduct = "Palvero OS X Client";
  static constexpr int64_t kSplitPartSize = 5000000;
  static constexpr int64_t kBatchByteBudget = 4000000;
  static constexpr size_t kBatchMaxRecords = 10;
  // A 401 that comes back right after each renewal would otherwise renew and
  // re-run forever; past this many nested renewals the operation fails.
  static constexpr int kMaxNestedRenewals = 3;
  static constexpr std::chrono::milliseconds kDefaultTimeout{60000};

  // The largest reply accepted for each kind of request; anything longer
  // is a failed exchange, never held. A block is sent plain when packing
  // would not shrink it, so the largest (2,048,000 bytes) travels as its
  // AES-CBC form: 16 bytes more.
  static constexpr size_t kMaxBlockReplyBytes = 2048000 + 16;
  // Version files and folder listings (a file with many revisions lists
  // each of them).
  static constexpr size_t kMaxVersionReplyBytes = 64 * 1024 * 1024;
  static constexpr size_t kMaxListingReplyBytes = 64 * 1024 * 1024;
  static constexpr size_t kMaxUpdaterReplyBytes = 256 * 1024 * 1024;
  // Everything else: words, settings, the login reply, statistics.
  static constexpr size_t kMaxTextReplyBytes = 4 * 1024 * 1024;
  // Server text in a log line or a message is cut to this.
  static constexpr size_t kMaxServerTextInLog = 1024;
  // The reply body for a log line or a message: at most
  // kMaxServerTextInLog bytes, control characters shown as "?".
  static std::string bodyForLog(const HttpResponse& response);

  // An instance for Env::serverURL() over libcurl.
  static std::shared_ptr<CommunicationServer> create();
  // An instance for `serverURL` over `transport` (tests, tools).
  static std::shared_ptr<CommunicationServer> create(std::string serverURL, std::shared_ptr<HttpTransport> transport);
  CommunicationServer(Passkey, std::string serverURL, std::shared_ptr<HttpTransport> transport);
  CommunicationServer(const CommunicationServer&) = delete;
  CommunicationServer& operator=(const CommunicationServer&) = delete;

  const std::string& serverURL() const { return serverURL_; }
  // The time limit of each exchange (60 seconds unless a test shortens it).
  void setRequestTimeout(std::chrono::milliseconds timeout);

  // --- Session cookies ----------------------------------------------------

  std::vector<HTTPCookie> cookies() const;
  void setCookies(std::vector<HTTPCookie> cookies);

  // --- Request catalogue (CommunicationServerCatalogue.cpp) -----------------

  // The form body of request type 0-29 with up to four parameters (unused
  // ones ignored); the empty text for type 30 and above. Only the folder
  // requests (4-7) URL-encode a parameter (the path); callers encode the rest.
  std::string getStringForRequest(uint32_t requestType, const std::string& WithParam1 = {},
                                  const std::string& Param2 = {}, const std::string& Param3 = {},
                                  const std::string& Param4 = {}) const;
  std::string getStringForRequest(RequestKind kind, const std::string& WithParam1 = {}, const std::string& Param2 = {},
                                  const std::string& Param3 = {}, const std::string& Param4 = {}) const {
    return getStringForRequest(static_cast<uint32_t>(kind), WithParam1, Param2, Param3, Param4);
  }

  // --- Session (CommunicationServerSession.cpp) ----------------------------

  // Renews the session ("auth" with clientId and password, no old cookie).
  // True on "ok" (the reply's cookie is kept). Posts "WrongPassword" for the
  // body "wrongpas", "AuthoriseFail" for an unknown body with status 200.
  // When the credentials were replaced while the request was out (a device
  // registration finished), the answer is dropped and the new ones are sent.
  bool syncAuthorise();
  // Connection quality: 2 for "pong" within a second, 1 for a slower "pong"
  // (logs "Slow connection: %f"), 0 otherwise.
  int32_t syncPing();

  // --- Multipart writer (CommunicationServerMultipart.cpp) -----------------

  // Uploads `File` as the part "file" named `fileName` with the fields of
  // `Params` (the key "cookie" is the cookie to send in split mode, not a
  // field). Up to 5,000,000 bytes, or without `Multipart`, in one request;
  // larger with `Multipart` in parts of 5,000,000 bytes marked "finalpart"
  // (and "offset", so that the service can place a repeated part). True once
  // the service answers "ok"; an empty `File` is true without sending.
  // `OfflineBreak` is set for an outage or 503, cleared by other failures.
  bool sendFilePostHTTP(const std::string& fileName, std::map<std::string, std::string> Params, const Bytes& File,
                        bool Multipart, bool& OfflineBreak);

  // --- Versions (CommunicationServerVersions.cpp) --------------------------

  // Downloads revision `Version` (-1 the latest) of `filePath` (already
  // URL-encoded); `DeviceID` asks another device's history unless it is empty
  // or contains "null". False without retry on 404; five attempts otherwise.
  bool GetFileVersionBin(const std::string& filePath, int32_t Version, Bytes& Stream, bool ToBackup, bool& Offlinebreak,
                         const std::optional<std::string>& DeviceID);
  // Uploads a version file for the path as the engine names it.
  bool updateFileVersionWithFilename(const std::string& filename, int64_t Size, const std::string& Modified,
                                     const Bytes& File, bool& OfflineBreak);

  // --- Blocks (CommunicationServerBlocks.cpp) ------------------------------

  // The given blocks the service lacks (in reply order, with the given
  // blocks' offsets and check values), or nothing on failure. The blocks it
  // holds are written to the local block cache.
  std::optional<std::vector<FileBlock>> hasServerFileBlocks(const std::vector<FileBlock>& blocks);
  // Uploads one encrypted block in one request.
  bool uploadDataBlockStream(const Bytes& stream, const std::string& Checksum, const std::string& SizeClass,
                             bool& OfflineBreak);
  // Uploads a list of encrypted blocks in batches of at most 10 records
  // under 4,000,000 bytes (the last record of the list may overflow the
  // budget). Duplicates are sent once. Two batches travel at once, so that
  // the service stores one while the next is on the wire; after a failed
  // batch no further batch is started. True when every batch was stored;
  // `OfflineBreak` is set when any batch met an outage.
  bool uploadDataBlockList(const std::vector<FileBlockToSend>& list, bool& OfflineBreak);
  // The batches uploadDataBlockList() sends for `list` (duplicates removed),
  // or nothing when a record has no name.
  static std::optional<std::vector<std::vector<const FileBlockToSend*>>> planBatches(
      const std::vector<FileBlockToSend>& list);
  // How many batches of one list may be under way at once (2; 1 sends them
  // one after another).
  void setBatchesInFlight(size_t count);
  // Sends one batch ("upload_blocks_multi"), up to five attempts.
  bool uploadBlocksList(const std::vector<FileBlockToSend>& batch, bool& OfflineBreak);
  // Downloads one block as stored (still encrypted); `isCompressed` is true
  // when the service marks it packed ("Zipped: True"). 429 is repeated every
  // 5 seconds for as long as it lasts.
  bool downloadDataBlock(const std::string& checksum, const std::string& sizeClass, Bytes& stream, bool& isCompressed,
                         bool& OfflineBreak);
  // The block list string of `blocks` ("[" JSON "," ... "]").
  std::string stringForBlocks(const std::vector<FileBlock>& blocks) const;

  // --- Deletion (CommunicationServerDeletion.cpp) --------------------------

  // Asks the service to drop the versions of one path (URL-encoded by the
  // caller, may be a list), else of one size (non-zero), else of one
  // extension; false without sending when none is given.
  bool syncDeleteVerFile(const std::optional<std::string>& path, int64_t Size,
                         const std::optional<std::string>& Extension, bool Immediately);

  // --- Status reports (CommunicationServerStatus.cpp) ----------------------

  // Sends a status report asynchronously; the reply is ignored.
  void sendStatus(const std::string& type, const std::string& Description);

  // --- Account and device (CommunicationServerAccount.cpp) -----------------
  // Asynchronous; the outcome is posted on the main run loop.

  // User login ("register"). Stores the reply's values, then enrols this
  // computer when the account supports devices: "RegDeviceOK" with
  // {"devices": [...]} when the user may choose among several, else the
  // first listed device or a new one is registered (its notifications
  // follow). "RegUserOK" when the account has no devices; "RegUserFail"
  // followed by "RegUserWrongPassword", "RegUserEmptyPassword" or a second
  // "RegUserFail" when the login is refused.
  void registerUsername(const std::string& username, const std::string& withPassword);
  // Device registration ("register_device"): stores the reply's "DeviceID"
  // and "Pass" as clientId and password and posts "RegDevicePassedOK";
  // "RegDevicePassedFail" with {"message": reply} for any status but 200.
  void registerDevice(const std::string& clientId, const std::string& withPassword, const Value& andDevice);
  // The record that registers this computer as a new device.
  Value loginWithNewDevice() const;
  // `record` with the texts a user or the computer names ("Name",
  // "ComputerName", "SerialNumber", "ComputerUUID") percent-encoded: the
  // device JSON is put into the registration form as it is, so callers of
  // registerDevice() hand it a record made by this.
  static Value encodedDeviceRecord(const Value& record);
  // "forgot_pas": "ForgotPasswordOK", "ForgotPasswordUserDeleted" or
  // "ForgotPasswordFail".
  void forgotPassword(const std::string& user);
  // Sends the hardware identifiers; the reply is ignored.
  void sendSerialNumbers(const std::string& serialNumber, const std::string& withComputerUUID);

  // --- Remote folder browsing (CommunicationServerFolders.cpp) -------------
  // Synchronous: call off the main thread.

  // One folder level of `path` ("" lists the account's devices), every page
  // of it, of `deviceID`'s backups (this device's when nothing or "").
  // Entries marked deleted are left out unless `ShowDeleted`. Nothing on
  // failure.
  std::optional<BackupedFolder> getFolderWithPath(const std::string& path, const std::optional<std::string>& deviceID,
                                                  bool ShowDeleted);
  // The whole tree under `path` in one packed reply: every folder and file
  // beneath, each named by its path below "/" ("home/ann/a.txt"; a folder's
  // `path` is that name after "/"). Deleted files are left out. Nothing on
  // failure.
  std::optional<BackupedFolder> getGetFilesList(const std::string& path, const std::optional<std::string>& andDeviceID);
  // A version's "modified" text: "yyyyMMdd HH:mm:ss", else
  // "HH|mm|ss|MM|dd|yyyy", both local time; nothing for neither.
  static std::optional<Date> dateOfModified(const std::string& text);

  // --- Settings and exclusions (CommunicationServerSettings.cpp) -----------
  // The extension catalogue is reached through ExtensionCatalogue::current().

  // Sends one settings body ("backup", "clientfull", "client" or
  // "exclusions"); synchronous, no renewal (callers renew first). True when
  // the service answers "ok".
  bool saveSettings(const std::string& type);
  // Loads one settings type into the settings store (and the catalogue's
  // "NeedFullBackup" and "backupHiddenFiles"); posts "LoadSettingsOK" or
  // "LoadSettingsFail". Asynchronous.
  void loadSettings(const std::string& type);
  // Loads the exclusions into the catalogue; posts "LoadExclusionsOK", or
  // "LoadExclusionsFail" when the reply holds none. Asynchronous.
  void loadExclusions();
  // The current user's folders for the placeholders "<Documents>",
  // "<Desktop>" and "<userprofile>" found in `entries`, in the catalogue's
  // placeholder order, leaving out a folder the excluded list holds and one
  // the separately included list holds. With `forList` ("includefolders" or
  // "excludefolders"), only the other list's folders are left out: the list
  // named is about to be replaced, so its own folders must not be dropped.
  std::vector<std::string> checkAdminFolders(const std::vector<std::string>& entries,
                                             const std::string& forList = {}) const;
  // Removes every entry that is not an existing file or folder here
  // (Windows paths, unresolved placeholders).
  static void removeNonOSXExtensions(std::vector<std::string>& paths);
  // {".JPG": true, ...} for the extensions given (upper-cased).
  static Value setValuesForExtention(const std::vector<std::string>& extensions);

  // --- Statistics and support (CommunicationServerStatistics.cpp) ----------

  // Stored sizes by category name (with "total_used" and
  // "total_files_count"); synchronous; nothing on failure.
  std::optional<std::map<std::string, Value>> getStatisticByCategories();
  // The largest files of a category, one page (from 0); synchronous.
  std::optional<Value> getTop10Files(const std::string& category, int64_t Page);
  // Loads the support contact into the settings store; posts
  // "GetSupportInfoOK" or "GetSupportInfoFail". Asynchronous.
  void getSupportInfo();

  // --- Log upload and self-update (CommunicationServerUpdate.cpp) ----------

  static constexpr const char* kUpdaterArchiveName = "updater.zip";
  static constexpr const char* kUpdaterFolderName = "Updater";
  static constexpr const char* kUpdaterName = "PalveroUpdater.app";

  // Uploads the current log file with `message`; unless `IsSilent` posts
  // "LogsSentOK" or "LogsSentFail". Asynchronous.
  void sendLogsWithMessage(const std::string& message, bool IsSilent);
  // Whether the service offers a newer client than this one; `versions`
  // receives the service's version text ("Can't check version" when the
  // request failed). Synchronous.
  bool syncCheckVersion(int64_t clientType, std::string& versions);
  // Posts "CheckVersionOK" (with {"version": text}) when a newer version
  // exists, "CheckVersionFail" when the request fails. Asynchronous.
  void checkVersion(int64_t clientType);
  // Downloads the updater archive, unpacks it and puts the updater in the
  // support folder, executable by its owner only; posts "DownloadUpdateOK",
  // or "DownloadUpdateFail" when the request fails. Asynchronous.
  void downloadUpdate(int64_t clientType);
  // Whether `server` ("a.b.c.d") is a greater four-number version than
  // `local`; false when either is not four non-negative numbers.
  static bool isNewerVersion(const std::string& server, const std::string& local);

 private:
  using Completion = std::function<void(CommunicationServer&, const HttpResponse&)>;
  enum class CookieChoice { kLast, kFirst, kEmpty };
  enum class RetryResult { kSucceeded, kFailed, kRenewed };
  enum class SpecialReply { kNone, kFailNow, kRepeat };
  struct RetryPolicy {
    // Decides statuses that bypass the usual rules (404, 429); may be empty.
    std::function<SpecialReply(const HttpResponse&)> special;
    std::function<bool(const HttpResponse&)> succeeded;
    std::function<void(int attempt, const HttpResponse&)> logFailure;
    Clock::Duration pauseAfterFailure{};
    size_t maxReplyBytes = kMaxTextReplyBytes;
  };

  // --- Envelope (CommunicationServer.cpp) ---

  std::string clientId() const;
  std::string password() const;
  std::string applicationVersion() const;
  std::string userAgent() const;
  std::optional<HTTPCookie> firstCookie() const;
  std::optional<HTTPCookie> lastCookie() const;
  // The last cookie's value, for the "Session=%@" of failure lines.
  std::string sessionForLog() const;
  // "%@=%@" of the cookie, or nothing.
  static std::optional<std::string> cookieHeader(const std::optional<HTTPCookie>& cookie);

  // Sends a catalogue form: the text as ASCII bytes (other characters
  // become "?"), User-Agent, and the chosen cookie.
  HttpResponse sendForm(const std::string& form, CookieChoice cookie = CookieChoice::kLast,
                        size_t maxReplyBytes = kMaxTextReplyBytes) const;
  // Sends a ready body with the User-Agent, Content-Type and cookie given.
  HttpResponse sendBody(const std::string& body, const std::string& contentType,
                        const std::optional<HTTPCookie>& cookie, bool withContentLength) const;
  // Sends a form on a background queue and runs `completion` on the main run
  // loop; the instance stays alive until then.
  void sendFormAsync(std::string form, Completion completion);
  using Sender = std::function<HttpResponse(CommunicationServer&)>;
  // Runs `send` on a background queue. A 401 renews the session there and
  // sends again (at most `renewalsLeft` times); when the renewal fails, or
  // none is left, `refused` (may be empty) runs on the main loop instead of
  // `completion`. Every other reply goes to `completion` on the main loop.
  void sendAsyncRenewing(const char* operation, Sender send, Completion completion,
                         std::function<void(CommunicationServer&)> refused, int renewalsLeft = kMaxNestedRenewals);
  // Posts `name` on the default centre with this instance as sender.
  void postNotification(const char* name, Value userInfo = Value()) const;
  // A value for a form field, URL-encoded.
  static std::string formValue(const std::string& text);
  // After a successful exchange: the reply's cookies replace the list when
  // there is at least one.
  void updateCookies(const HttpResponse& response);

  // The retry discipline of the block and version exchanges.
  RetryResult exchangeWithRetries(const std::string& form, const RetryPolicy& policy, bool& offlineBreak,
                                  HttpResponse& response);
  bool isOutage(const HttpResponse& response) const;
  // Runs `rerun` (a fresh call after a successful renewal) unless too many
  // renewals are nested on this thread; then logs and returns `failure`.
  template <class T>
  T rerunAfterRenewal(const char* operation, T failure, const std::function<T()>& rerun);
  static int& nestedRenewals();

  static void logFailure(const std::string& text);
  static void logEntry(uint32_t entryType, int32_t sessionType, const std::string& text, int level);
  static void pause(Clock::Duration duration);
  // Waits out the service's pacing before a paced request (RequestPacer).
  void paceRequest();
  // The reply body as bytes, in one copy.
  static Bytes bytesOfBody(const HttpResponse& response);

  // --- Multipart writer helpers (CommunicationServerMultipart.cpp) ---
  enum class UploadOutcome {
    kStored,             // 200 "ok"
    kAnsweredOtherwise,  // 200 with another body
    kRenewed,            // 401, and the session was renewed
    kRefused,            // 401, and the renewal failed
    kOffline,            // outage or 503: the offline break is set
    kExhausted,          // five failed attempts
  };
  // Sends one multipart request with up to five attempts. Without an answer
  // (not an outage) the session is renewed first when `renewWhenUnanswered`.
  UploadOutcome sendUploadRequest(const std::string& body, const std::string& contentType,
                                  const std::optional<HTTPCookie>& cookie, bool renewWhenUnanswered,
                                  bool& offlineBreak);
  std::string multipartBody(const std::string& boundary, const std::string& fileName,
                            const std::map<std::string, std::string>& params, const uint8_t* data, size_t size) const;
  bool sendSingleFile(const std::string& fileName, const std::map<std::string, std::string>& params, const Bytes& file,
                      bool multipart, bool& offlineBreak);
  bool sendFileInParts(const std::string& fileName, std::map<std::string, std::string> params, const Bytes& file,
                       bool& offlineBreak);

  // --- Session helpers (CommunicationServerSession.cpp) ---
  bool authorisationReply(const HttpResponse& response);

  // --- Account helpers (CommunicationServerAccount.cpp) ---
  void didRegisterUsername(const std::string& username, const std::string& password, const HttpResponse& response);
  // Registers a device; `thenSendSerialNumbers` sends the hardware
  // identifiers once the device has its own identity.
  void registerDeviceThen(const std::string& clientId, const std::string& password, const Value& device,
                          bool thenSendSerialNumbers);

  // --- Folder helpers (CommunicationServerFolders.cpp) ---
  // Appends one reply entry to `folder`.
  static void appendListingEntry(BackupedFolder& folder, const Value& entry, const std::string& deviceId,
                                 bool showDeleted, bool wholeList);

  // --- Settings helpers (CommunicationServerSettings.cpp) ---
  void didLoadSettings(const std::string& type, const HttpResponse& response);
  void didLoadExclusions(const HttpResponse& response);
  // The folder list to store under `key` for the reply's `entries`: the
  // entries and their resolved placeholders, once each, only those that
  // exist here.
  std::vector<std::string> foldersForList(const std::string& key, const Value& entries) const;

  // --- Update helpers (CommunicationServerUpdate.cpp) ---
  // Puts a downloaded updater archive in place; false at the first failed step.
  static bool installUpdater(const std::string& archive);

  // --- Block helpers (CommunicationServerBlocks.cpp) ---
  using Batch = std::vector<const FileBlockToSend*>;
  // Sends the batches with up to batchesInFlight() requests under way at
  // once; stops starting batches after the first failure.
  bool sendBatches(std::vector<Batch> batches, bool& offlineBreak);
  bool sendBatch(const std::vector<const FileBlockToSend*>& batch, bool& offlineBreak);

  const std::string serverURL_;
  const std::shared_ptr<HttpTransport> transport_;
  std::atomic<std::chrono::milliseconds::rep> timeout_{kDefaultTimeout.count()};
  std::atomic<size_t> batchesInFlight_{2};
  // Internally synchronised; stamped by every exchange, const ones included.
  mutable RequestPacer pacer_;
  mutable std::mutex cookiesMutex_;
  std::vector<HTTPCookie> cookies_;  // guarded by cookiesMutex_
};

template <class T>
T CommunicationServer::rerunAfterRenewal(const char* operation, T failure, const std::function<T()>& rerun) {
  int& depth = nestedRenewals();
  if (depth >= kMaxNestedRenewals) {
    logFailure(std::string(operation) + " FAIL. The service refused the session again after " + std::to_string(depth) +
               " renewals");
    return failure;
  }
  ++depth;
  struct Restore {
    int& depth;
    ~Restore() { --depth; }
  } restore{depth};
  return rerun();
}

}  // namespace palvero
