#include <stdexcept>

#include "base/JsonText.h"
#include "base/StringFormat.h"
#include "protocol/CommunicationServer.h"
#include "state/LocalSettings.h"

namespace palvero {

std::optional<std::map<std::string, Value>> CommunicationServer::getStatisticByCategories() {
  try {
    HttpResponse response = sendForm(getStringForRequest(RequestKind::kGetStatisticByCategories));
    if (response.completed() && response.status == 401) {
      if (!syncAuthorise()) return std::nullopt;
      return rerunAfterRenewal<std::optional<std::map<std::string, Value>>>(
          "getStatisticByCategories", std::nullopt, [this] { return getStatisticByCategories(); });
    }
    if (!response.completed() || response.status != 200) {
      logFailure(stringWithFormat("getStatisticByCategories FAIL. Response: %s with status code: %ld",
                                  bodyForLog(response).c_str(), response.status));
      return std::nullopt;
    }
    updateCookies(response);
    Value reply = parseJson(response.body);
    if (!reply.is_object()) throw std::runtime_error("the reply is not a JSON object");
    std::map<std::string, Value> sizes;
    auto statistic = reply.find("statistic");
    if (statistic != reply.end() && statistic->is_array()) {
      for (const Value& item : *statistic) {
        if (!item.is_object() || !item.contains("name")) continue;
        const Value& name = item["name"];
        sizes[name.is_string() ? name.get<std::string>() : name.dump()] = item.value("size", Value());
      }
    }
    return sizes;
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method getStatisticsByCategories: ") + e.what());
    return std::nullopt;
  }
}

std::optional<Value> CommunicationServer::getTop10Files(const std::string& category, int64_t Page) {
  try {
    std::string sent = category == "Other" || category == "other" ? "others" : category;
    HttpResponse response = sendForm(getStringForRequest(RequestKind::kGetTop10, formValue(sent),
                                                         stringWithFormat("%lld", static_cast<long long>(Page))));
    if (response.completed() && response.status == 401) {
      if (!syncAuthorise()) return std::nullopt;
      return rerunAfterRenewal<std::optional<Value>>("getTop10Files", std::nullopt,
                                                     [&] { return getTop10Files(category, Page); });
    }
    if (!response.completed() || response.status != 200) {
      logFailure(stringWithFormat("Get top 10 Files FAIL. Category: %s. Page: %lld. Response: %s with status code: %ld",
                                  sent.c_str(), static_cast<long long>(Page), bodyForLog(response).c_str(),
                                  response.status));
      return std::nullopt;
    }
    updateCookies(response);
    Value reply = parseJson(response.body);
    if (reply.is_discarded()) throw std::runtime_error("the reply is not JSON");
    return reply;
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method getTop10Files: ") + e.what());
    return std::nullopt;
  }
}

void CommunicationServer::getSupportInfo() {
  try {
    std::string form = getStringForRequest(RequestKind::kGetSupportInfo);
    sendAsyncRenewing(
        "getSupportInfo", [form](CommunicationServer& self) { return self.sendForm(form); },
        [](CommunicationServer& self, const HttpResponse& response) {
          try {
            if (!response.completed() || response.status != 200) {
              self.postNotification("GetSupportInfoFail");
              return;
            }
            self.updateCookies(response);
            Value reply = parseJson(response.body);
            // A reply that is not a dictionary leaves the stored contact.
            if (reply.is_object() && LocalSettings::sharedManager().saveJSONValues(reply)) {
              self.postNotification("GetSupportInfoOK");
            } else {
              self.postNotification("GetSupportInfoFail");
            }
          } catch (const std::exception& e) {
            logFailure(std::string("Exception in method getSupportInfo: ") + e.what());
            self.postNotification("GetSupportInfoFail");
          }
        },
        nullptr);
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method getSupportInfo: ") + e.what());
  }
}

}  // namespace palvero
