#include <algorithm>
#include <deque>
#include <future>
#include <set>
#include <unordered_map>

#include "base/StringFormat.h"
#include "base/Value.h"
#include "protocol/CommunicationServer.h"

#include "base/JsonText.h"
#include "protocol/MultipartForm.h"
#include "protocol/WorkerActivity.h"
#include "state/DBManager.h"
#include "state/LogWriter.h"

namespace palvero {

std::string CommunicationServer::stringForBlocks(const std::vector<FileBlock>& blocks) const {
  return FileBlock::blockListString(blocks);
}

std::optional<std::vector<FileBlock>> CommunicationServer::hasServerFileBlocks(const std::vector<FileBlock>& blocks) {
  try {
    paceRequest();
    HttpResponse response = sendForm(getStringForRequest(RequestKind::kCheckBlock, stringForBlocks(blocks)));
    if (!response.completed() || response.status == 401) {
      if (!syncAuthorise()) return std::nullopt;
      return rerunAfterRenewal<std::optional<std::vector<FileBlock>>>("hasServerFileBlocks", std::nullopt,
                                                                      [&] { return hasServerFileBlocks(blocks); });
    }
    auto failLine = [&](const std::string& error) {
      logFailure(stringWithFormat("hasServerFileBlocks FAIL. Response: %s. Error: %s. Session=%s",
                                  bodyForLog(response).c_str(), error.c_str(), sessionForLog().c_str()));
    };
    if (response.status != 200) {
      failLine("(null)");
      return std::nullopt;
    }
    updateCookies(response);
    // A reply that is not a list of {"size", "checksum"} says nothing
    // reliable about what the service holds; caching from it could mark
    // blocks as stored that never were.
    Value reply = parseJson(response.body);
    bool wellFormed = reply.is_array();
    for (size_t i = 0; wellFormed && i < reply.size(); ++i) {
      const Value& item = reply[i];
      wellFormed = item.is_object() && item.contains("checksum") && item["checksum"].is_string() &&
                   item.contains("size") && (item["size"].is_number_integer() || item["size"].is_string());
    }
    if (!wellFormed) {
      failLine("(null)");
      return std::nullopt;
    }
    std::unordered_map<std::string, const FileBlock*> given;
    for (const auto& block : blocks) given[block.checksum] = &block;  // the last block of a checksum wins
    std::vector<FileBlock> missing;
    std::set<std::string> missingChecksums;
    for (const auto& item : reply) {
      std::string checksum = item["checksum"].get<std::string>();
      auto it = given.find(checksum);
      if (it == given.end()) continue;  // not asked about: nothing to send for it
      int64_t size = item["size"].is_number_integer() ? item["size"].get<int64_t>()
                                                      : std::atoll(item["size"].get<std::string>().c_str());
      FileBlock block = FileBlock::initWithSize(size, checksum);
      block.offset = it->second->offset;
      block.length = it->second->length;
      block.FirstCheckInt = it->second->FirstCheckInt;
      block.LastCheckInt = it->second->LastCheckInt;
      block.position = it->second->position;
      block.smallChecksum = it->second->smallChecksum;
      missing.push_back(std::move(block));
      missingChecksums.insert(checksum);
    }
    std::vector<std::string> held;
    for (const auto& block : blocks) {
      if (!missingChecksums.count(block.checksum)) held.push_back(block.checksum);
    }
    if (!held.empty()) DBManager::sharedDBManager().insertOrUpdateBlocks(held);
    return missing;
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method hasServerFileBlocks: ") + e.what());
    return std::nullopt;
  }
}

bool CommunicationServer::uploadDataBlockStream(const Bytes& stream, const std::string& Checksum,
                                                const std::string& SizeClass, bool& OfflineBreak) {
  try {
    std::map<std::string, std::string> params = {
        {"guid", clientId()},
        {"request", "upload_block"},
        {"checksum", Checksum},
        {"size", SizeClass},
        {"cookie", cookieHeader(lastCookie()).value_or("")},
    };
    if (sendFilePostHTTP(Checksum, std::move(params), stream, false, OfflineBreak)) return true;
    logFailure("uploadDataBlockStream FAIL");
    return false;
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method uploadDataBlockStream: ") + e.what());
    return false;
  }
}

std::optional<std::vector<std::vector<const FileBlockToSend*>>> CommunicationServer::planBatches(
    const std::vector<FileBlockToSend>& list) {
  std::vector<const FileBlockToSend*> records;
  std::set<std::string> seen;
  for (const auto& record : list) {
    if (record.checksum().empty()) return std::nullopt;
    if (seen.insert(record.checksum()).second) records.push_back(&record);
  }
  std::vector<Batch> batches;
  Batch batch;
  int64_t total = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    const FileBlockToSend* record = records[i];
    int64_t length = record->fullLength();
    bool last = i + 1 == records.size();
    if (!last && total + length < kBatchByteBudget && batch.size() < kBatchMaxRecords) {
      batch.push_back(record);
      total += length;
      continue;
    }
    // A full batch goes before the last record too, so that no request
    // carries more than ten blocks; the last record may still take its batch
    // over the byte budget. A batch is never sent empty.
    if (!batch.empty() && (!last || batch.size() >= kBatchMaxRecords)) {
      batches.push_back(std::move(batch));
      batch.clear();
      total = 0;
    }
    batch.push_back(record);
    total += length;
  }
  if (!batch.empty()) batches.push_back(std::move(batch));
  return batches;
}

void CommunicationServer::setBatchesInFlight(size_t count) { batchesInFlight_.store(std::max<size_t>(count, 1)); }

bool CommunicationServer::uploadDataBlockList(const std::vector<FileBlockToSend>& list, bool& OfflineBreak) {
  try {
    WorkerActivity::stamp(WorkerActivity::Kind::kBackup);
    auto batches = planBatches(list);
    if (!batches) return false;
    return sendBatches(std::move(*batches), OfflineBreak);
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method uploadDataBlocksList: ") + e.what());
    return false;
  }
}

bool CommunicationServer::sendBatches(std::vector<Batch> batches, bool& offlineBreak) {
  struct Outcome {
    bool ok = false;
    bool offline = false;
  };
  const size_t window = batchesInFlight_.load();
  std::deque<std::future<Outcome>> inFlight;
  bool failed = false;
  bool offline = false;
  auto collect = [&] {
    Outcome outcome = inFlight.front().get();
    inFlight.pop_front();
    failed = failed || !outcome.ok;
    offline = offline || outcome.offline;
  };
  for (auto& batch : batches) {
    while (inFlight.size() >= window) collect();
    if (failed) break;
    if (window == 1) {
      Outcome outcome;
      outcome.ok = sendBatch(batch, outcome.offline);
      failed = !outcome.ok;
      offline = outcome.offline;
      continue;
    }
    inFlight.push_back(std::async(std::launch::async, [this, &batch] {
      Outcome outcome;
      outcome.ok = sendBatch(batch, outcome.offline);
      return outcome;
    }));
  }
  while (!inFlight.empty()) collect();
  offlineBreak = offline;
  return !failed;
}

bool CommunicationServer::uploadBlocksList(const std::vector<FileBlockToSend>& batch, bool& OfflineBreak) {
  try {
    std::vector<const FileBlockToSend*> records;
    for (const auto& record : batch) records.push_back(&record);
    return sendBatch(records, OfflineBreak);
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method uploadDataBlocksList: ") + e.what());
    return false;
  }
}

bool CommunicationServer::sendBatch(const std::vector<const FileBlockToSend*>& batch, bool& offlineBreak) {
  const std::string boundary = MultipartForm::newBoundary();
  std::vector<std::string> headers;
  size_t size = 0;
  std::string list = "[";
  for (size_t i = 0; i < batch.size(); ++i) {
    if (i > 0) list += ",";
    list += batch[i]->toJson();
    headers.push_back("\r\n" + MultipartForm::fileHeader(boundary, "file[]", batch[i]->checksum()));
    size += headers.back().size() + batch[i]->body().size();
  }
  list += "]";
  std::string body = "\r\n" + MultipartForm::field(boundary, "request", "upload_blocks_multi") +
                     MultipartForm::field(boundary, "guid", clientId()) + "--" + boundary +
                     "\r\nContent-Disposition: form-data; name=\"blocks\"\r\n\r\n" + list;
  std::string closing = MultipartForm::closing(boundary);
  body.reserve(body.size() + size + closing.size());
  for (size_t i = 0; i < batch.size(); ++i) {
    body += headers[i];
    const Bytes& bytes = batch[i]->body();
    body.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
  body += closing;
  const std::string contentType = MultipartForm::contentType(boundary);

  auto rerun = [&] {
    return rerunAfterRenewal<bool>("uploadBlocksList", false, [&] { return sendBatch(batch, offlineBreak); });
  };
  auto failLine = [&](int attempt, const HttpResponse& response) {
    logFailure(stringWithFormat("uploadDataBlockList FAIL on attempt %d. Response: %s. Session=%s", attempt,
                                bodyForLog(response).c_str(), sessionForLog().c_str()));
  };
  for (int failed = 0; failed < kMaxAttempts; ++failed) {
    HttpResponse response = sendBody(body, contentType, lastCookie(), false);
    if (!response.completed()) {
      if (isOutage(response)) {
        offlineBreak = true;
        return false;
      }
      offlineBreak = false;
      if (!syncAuthorise()) return false;
      logFailure("Authorisation failed in uploadBlocksList, reauthorising");
      return rerun();
    }
    offlineBreak = false;
    if (response.status == 401) {
      return syncAuthorise() ? rerun() : false;
    }
    if (response.status == 502) {
      pause(std::chrono::seconds(1));
    } else if (response.status == 503) {
      offlineBreak = true;
      return false;
    } else if (response.status == 200 && response.body == "ok") {
      updateCookies(response);
      return true;
    } else if (response.status == 200) {
      logFailure(stringWithFormat("uploadDataBlockList with code 200, BUT body %s", bodyForLog(response).c_str()));
      failLine(failed, response);
      pause(std::chrono::seconds(1));
      continue;
    }
    failLine(failed, response);
  }
  return false;
}

bool CommunicationServer::downloadDataBlock(const std::string& checksum, const std::string& sizeClass, Bytes& stream,
                                            bool& isCompressed, bool& OfflineBreak) {
  try {
    WorkerActivity::stamp(WorkerActivity::Kind::kRestore);
    std::string form = getStringForRequest(RequestKind::kGetBlock, checksum, sizeClass);
    RetryPolicy policy;
    policy.special = [](const HttpResponse& r) {
      if (r.status != 429) return SpecialReply::kNone;
      pause(std::chrono::seconds(5));
      logFailure("Too many requests!");
      return SpecialReply::kRepeat;
    };
    policy.succeeded = [](const HttpResponse& r) { return r.status == 200; };
    policy.logFailure = [&](int attempt, const HttpResponse& r) {
      logFailure(stringWithFormat(
          "downloadDataBlock FAIL at attempt %d. Checksum: %s with size: %s Response: %s with status code: %ld",
          attempt, checksum.c_str(), sizeClass.c_str(), bodyForLog(r).c_str(), r.status));
    };
    policy.pauseAfterFailure = std::chrono::seconds(1);
    policy.maxReplyBytes = kMaxBlockReplyBytes;
    HttpResponse response;
    switch (exchangeWithRetries(form, policy, OfflineBreak, response)) {
      case RetryResult::kSucceeded:
        isCompressed = response.header("Zipped").value_or("") == "True";
        stream = bytesOfBody(response);
        return true;
      case RetryResult::kRenewed:
        return rerunAfterRenewal<bool>("downloadDataBlock", false, [&] {
          return downloadDataBlock(checksum, sizeClass, stream, isCompressed, OfflineBreak);
        });
      case RetryResult::kFailed:
        break;
    }
    return false;
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method downloadDataBlock: ") + e.what());
    return false;
  }
}

}  // namespace palvero
