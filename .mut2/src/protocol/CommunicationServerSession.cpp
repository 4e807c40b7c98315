#include "base/NotificationCenter.h"
#include "base/StringFormat.h"
#include "protocol/CommunicationServer.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {

bool CommunicationServer::syncAuthorise() {
  try {
    auto& settings = LocalSettings::sharedManager();
    for (int attempt = 0;; ++attempt) {
      LocalSettings::Credentials used = settings.credentials();
      HttpResponse response = sendForm(getStringForRequest(RequestKind::kAuth), CookieChoice::kEmpty);
      // A device registration that finished while this request was out has
      // replaced the identity: whatever the answer for the old one, the
      // session must be the device's. Bounded, as a registration is rare.
      if (settings.credentials() != used && attempt < kMaxNestedRenewals) continue;
      return authorisationReply(response);
    }
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method syncAuthorise: ") + e.what());
    return false;
  }
}

bool CommunicationServer::authorisationReply(const HttpResponse& response) {
  auto failLine = [&response] {
    logFailure(stringWithFormat("syncAuthorise FAIL. Response: %s with status code: %ld", bodyForLog(response).c_str(),
                                response.status));
  };
  if (!response.completed() || response.status != 200) {
    if (response.completed() && response.body == "wrongpas") {
      NotificationCenter::defaultCenter().post("WrongPassword", this);
    } else {
      failLine();
    }
    return false;
  }
  if (response.body == "ok") {
    updateCookies(response);
    return true;
  }
  if (response.body == "wrongpas") {
    NotificationCenter::defaultCenter().post("WrongPassword", this);
  } else if (response.body == "userblocked") {
    failLine();
  } else {
    NotificationCenter::defaultCenter().post("AuthoriseFail", this);
    failLine();
  }
  return false;
}

int32_t CommunicationServer::syncPing() {
  try {
    auto start = Clock::current()->monotonicNow();
    HttpResponse response = sendForm(getStringForRequest(RequestKind::kPing));
    double elapsed = std::chrono::duration<double>(Clock::current()->monotonicNow() - start).count();
    if (!response.completed() || response.status != 200) {
      logEntry(kGeneralLogEvent, kSessionOther,
               stringWithFormat("Offline: %f. Response: %s. Error: %s", elapsed, bodyForLog(response).c_str(),
                                response.errorDescription.empty() ? "(null)" : response.errorDescription.c_str()),
               kLogDetail);
      return kConnectionOffline;
    }
    if (response.body == "pong") {
      if (elapsed > 1.0) {
        logEntry(kGeneralLogEvent, kSessionOther, stringWithFormat("Slow connection: %f", elapsed), kLogDetail);
        return kConnectionSlow;
      }
      return kConnectionGood;
    }
    logEntry(kGeneralLogEvent, kSessionOther,
             stringWithFormat("Offline: %f. Response: %s with status code: %ld", elapsed, bodyForLog(response).c_str(),
                              response.status),
             kLogDetail);
    return kConnectionOffline;
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method syncPing: ") + e.what());
    return kConnectionOffline;
  }
}

}  // namespace palvero
