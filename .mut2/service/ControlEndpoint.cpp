// The test-control request (POST /control, enabled by --test-control): lets a
// test add accounts, set fault rules, expire sessions and read what clients
// sent and what the service stored. The "action" field names the operation;
// README.md lists them.
#include <httplib.h>

#include <fstream>

#include "FormCodec.h"
#include "RequestReader.h"
#include "Service.h"
#include "base/JsonText.h"

namespace palvero::service {
namespace {

// Inverts the bits of the byte at `offset` of the file in place.
bool flipByte(const std::string& path, int64_t offset) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  char byte = 0;
  if (!file.seekg(offset).get(byte)) return false;
  byte = static_cast<char>(~byte);
  return static_cast<bool>(file.seekp(offset).put(byte).flush());
}

void answerJson(httplib::Response& res, const Value& value) { res.set_content(dumpJson(value), "application/json"); }

void answerText(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_content(text, "text/plain");
}

}  // namespace

void Service::onControlRequest(const httplib::Request& req, httplib::Response& res,
                               const httplib::ContentReader& reader) {
  ServiceRequest request;
  std::string rawForm;
  std::string error;
  int status = 400;
  if (!readServiceRequest(req, reader, limitsFor(true), spoolDir_, request, rawForm, &error, &status)) {
    answerText(res, status, error);
    return;
  }
  const std::string& action = request.field("action");
  // The accounts a block is looked for in: the user's, or every one.
  auto accountsToSearch = [this](const std::string& user) {
    std::vector<int64_t> accounts;
    if (!user.empty()) {
      if (auto account = metadata_->accountByUsername(user)) accounts.push_back(account->id);
      return accounts;
    }
    for (int64_t id = 1; id <= metadata_->maxAccountId(); ++id) accounts.push_back(id);
    return accounts;
  };
  try {
    if (action == "add_user") {
      if (request.field("user").empty()) return answerText(res, 400, "user required");
      std::optional<int64_t> maxDevices =
          request.has("max_devices") ? boundedInteger(request.field("max_devices"), 1, 1000) : options_.maxDevices;
      if (!maxDevices) return answerText(res, 400, "bad max_devices");
      Account a = metadata_->addOrUpdateAccount(request.field("user"), request.field("password"), *maxDevices);
      answerJson(res, {{"username", a.username}, {"ClientId", a.clientId}, {"Password", a.accountKey}});
    } else if (action == "block_user") {
      bool blocked = request.field("blocked") != "0";
      if (!metadata_->setBlocked(request.field("user"), blocked)) return answerText(res, 404, "no such user");
      answerText(res, 200, "ok");
    } else if (action == "fault") {
      if (!addFaultRule(request.field("rule"), &error)) return answerText(res, 400, error);
      answerText(res, 200, "ok");
    } else if (action == "clear_faults") {
      faults_.clear();
      answerText(res, 200, "ok");
    } else if (action == "log") {
      answerJson(res, log_->entries());
    } else if (action == "clear_log") {
      log_->clear();
      answerText(res, 200, "ok");
    } else if (action == "expire_sessions") {
      sessions_.expireAll();
      answerText(res, 200, "ok");
    } else if (action == "reports") {
      answerJson(res, metadata_->reports());
    } else if (action == "block") {
      const std::string& name = request.field("name");
      std::optional<int64_t> size;
      for (int64_t id : accountsToSearch(request.field("user"))) {
        if ((size = blocks_->of(id).size(name))) break;
      }
      answerJson(res, {{"held", size.has_value()}, {"size", size.value_or(0)}});
    } else if (action == "damage_block") {
      // A stored block with one byte flipped ("how" = "flip") or gone
      // ("remove"), whichever of its two storage names it is held under,
      // in the user's account or the first that holds it.
      std::optional<BlobStore> holder;
      std::string stored;
      std::optional<int64_t> size;
      for (int64_t id : accountsToSearch(request.field("user"))) {
        BlobStore store = blocks_->of(id);
        for (const std::string& candidate : {request.field("name"), request.field("name") + ".pvzip"}) {
          if ((size = store.size(candidate))) {
            stored = candidate;
            break;
          }
        }
        if (size) {
          holder.emplace(std::move(store));
          break;
        }
      }
      if (!holder) return answerText(res, 404, "no such block");
      const std::string& how = request.field("how");
      if (how == "remove") {
        if (!holder->remove(stored)) return answerText(res, 500, "cannot remove " + stored);
      } else if (how == "flip") {
        if (!flipByte(holder->pathFor(stored), *size / 2)) return answerText(res, 500, "cannot change " + stored);
      } else {
        return answerText(res, 400, "how must be flip or remove");
      }
      answerJson(res, {{"damaged", stored}});
    } else if (action == "versions") {
      Value list = Value::array();
      for (const auto& v : metadata_->versionsOf(request.field("owner"), request.field("path"))) {
        list.push_back({{"number", v.number},
                        {"size", v.size},
                        {"modified", v.modified},
                        {"length", v.length},
                        {"toDelete", v.toDelete}});
      }
      answerJson(res, list);
    } else if (action == "set_settings") {
      auto account = metadata_->accountByUsername(request.field("user"));
      if (!account) return answerText(res, 404, "no such user");
      if (request.field("type").empty()) return answerText(res, 400, "type required");
      Value data = request.field("data").empty() ? Value() : parseJson(request.field("data"));
      if (!data.is_null() && !data.is_object()) return answerText(res, 400, "data is not a JSON object");
      metadata_->putAdminSettings(account->id, request.field("type"), data);
      answerText(res, 200, "ok");
    } else if (action == "settings") {
      auto saved = metadata_->settings(request.field("owner"), request.field("type"));
      answerJson(res, saved.value_or(Value()));
    } else if (action == "health") {
      answerText(res, 200, "ok");
    } else {
      answerText(res, 400, "unknown action");
    }
  } catch (const std::exception& e) {
    answerText(res, 500, e.what());
  }
}

}  // namespace palvero::service
