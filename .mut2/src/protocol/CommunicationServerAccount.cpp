#include "base/JsonText.h"
#include "base/StringFormat.h"
#include "platform/HardwareId.h"
#include "platform/SystemInfo.h"
#include "protocol/CommunicationServer.h"
#include "state/LocalSettings.h"

namespace palvero {
namespace {

// "DeviceSupport" is the text "true"; a JSON true means the same.
bool isTrue(const Value& value) {
  return (value.is_string() && value.get<std::string>() == "true") || (value.is_boolean() && value.get<bool>());
}

// A non-empty text value of `object[key]`, or nothing.
std::optional<std::string> textField(const Value& object, const char* key) {
  if (!object.is_object()) return std::nullopt;
  auto it = object.find(key);
  if (it == object.end() || !it->is_string() || it->get<std::string>().empty()) return std::nullopt;
  return it->get<std::string>();
}

}  // namespace

void CommunicationServer::registerUsername(const std::string& username, const std::string& withPassword) {
  try {
    // Encoded, unlike the form's letter: a password holding "&", "+" or "%"
    // (or any non-ASCII letter) would otherwise reach the service changed.
    std::string form = getStringForRequest(RequestKind::kRegister, formValue(username), formValue(withPassword));
    sendFormAsync(std::move(form), [username, withPassword](CommunicationServer& self, const HttpResponse& response) {
      self.didRegisterUsername(username, withPassword, response);
    });
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method registerUsername: ") + e.what());
    postNotification("RegUserFail");
  }
}

void CommunicationServer::didRegisterUsername(const std::string& username, const std::string& password,
                                              const HttpResponse& response) {
  try {
    auto& settings = LocalSettings::sharedManager();
    Value reply = parseJson(response.body);
    // Only a 200 reply is an account's settings: an error page that happens
    // to be JSON must not be stored as the account.
    bool stored = response.completed() && response.status == 200 && reply.is_object() && settings.saveJSONValues(reply);
    if (!stored) {
      postNotification("RegUserFail");
      if (response.body == "wrongpas") {
        postNotification("RegUserWrongPassword");
      } else if (response.body == "passwordempty") {
        postNotification("RegUserEmptyPassword");
      } else {
        logFailure(stringWithFormat("registerUsername FAIL. Username: %s. Response: %s", username.c_str(),
                                    bodyForLog(response).c_str()));
        postNotification("RegUserFail");
      }
      return;
    }
    if (!isTrue(reply.value("DeviceSupport", Value()))) {
      postNotification("RegUserOK");
      return;
    }
    Value devices = settings.devices();
    std::string accountId = settings.clientId().value_or("");
    if (reply.contains("Devices") && devices.is_array() && !devices.empty()) {
      if (LocalSettings::integerReading(reply.value("MaxDeviceCount", Value())) > 1) {
        postNotification("RegDeviceOK", Value{{"devices", devices}});
        return;
      }
      registerDeviceThen(accountId, password, encodedDeviceRecord(devices.at(0)), true);
      return;
    }
    registerDeviceThen(accountId, password, encodedDeviceRecord(loginWithNewDevice()), true);
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method registerUsername: ") + e.what());
    postNotification("RegUserFail");
  }
}

void CommunicationServer::registerDevice(const std::string& clientId, const std::string& withPassword,
                                         const Value& andDevice) {
  registerDeviceThen(clientId, withPassword, andDevice, false);
}

void CommunicationServer::registerDeviceThen(const std::string& clientId, const std::string& password,
                                             const Value& device, bool thenSendSerialNumbers) {
  try {
    // The device JSON goes into the form as it is: its text fields come
    // percent-encoded from the caller (encodedDeviceRecord).
    std::string deviceJson = LocalSettings::sharedManager().deviceToJSON(device);
    std::string form =
        getStringForRequest(RequestKind::kRegisterDevice, formValue(clientId), formValue(password), deviceJson);
    sendFormAsync(std::move(form), [thenSendSerialNumbers](CommunicationServer& self, const HttpResponse& response) {
      try {
        if (!response.completed() || response.status != 200) {
          self.postNotification("RegDevicePassedFail", Value{{"message", bodyForLog(response)}});
          return;
        }
        auto& settings = LocalSettings::sharedManager();
        Value reply = parseJson(response.body);
        auto deviceId = textField(reply, "DeviceID");
        auto pass = textField(reply, "Pass");
        if (deviceId && pass) {
          settings.setCredentials(*deviceId, *pass);
        } else if (deviceId) {
          settings.setClientId(*deviceId);
        } else if (pass) {
          settings.setPassword(*pass);
        }
        settings.save();
        self.postNotification("RegDevicePassedOK");
        // Sent once the device has its own identity, so that the service
        // files the identifiers under the device rather than the account.
        if (thenSendSerialNumbers) {
          self.sendSerialNumbers(HardwareId::serialNumber().value_or(""), HardwareId::computerUUID().value_or(""));
        }
      } catch (const std::exception& e) {
        logFailure(std::string("Exception in method registerDevice: ") + e.what());
        self.postNotification("RegDevicePassedFail", Value{{"message", e.what()}});
      }
    });
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method registerDevice: ") + e.what());
    postNotification("RegDevicePassedFail", Value{{"message", e.what()}});
  }
}

Value CommunicationServer::encodedDeviceRecord(const Value& record) {
  Value encoded = record;
  if (!encoded.is_object()) return encoded;
  for (const char* key : {"Name", "ComputerName", "SerialNumber", "ComputerUUID"}) {
    auto it = encoded.find(key);
    if (it != encoded.end() && it->is_string()) *it = formValue(it->get<std::string>());
  }
  return encoded;
}

Value CommunicationServer::loginWithNewDevice() const {
  std::string host = SystemInfo::localizedHostName();
  Value device = {{"DeviceID", ""},
                  {"ClientVersion", applicationVersion()},
                  {"ComputerName", host},
                  {"DeviceEncripting", ""},
                  {"DeviceType", std::to_string(SystemInfo::kDeviceType)},
                  {"Name", host}};
  if (auto serial = HardwareId::serialNumber()) device["SerialNumber"] = *serial;
  if (auto uuid = HardwareId::computerUUID()) device["ComputerUUID"] = *uuid;
  return device;
}

void CommunicationServer::forgotPassword(const std::string& user) {
  try {
    std::string form = getStringForRequest(RequestKind::kForgotPassword, formValue(user));
    sendAsyncRenewing(
        "forgotPassword", [form](CommunicationServer& self) { return self.sendForm(form); },
        [user](CommunicationServer& self, const HttpResponse& response) {
          auto failLine = [&] {
            logFailure(stringWithFormat("forgotPassword FAIL. Username: %s. Response: %s with status code: %ld",
                                        user.c_str(), bodyForLog(response).c_str(), response.status));
          };
          if (!response.completed() || response.status != 200) {
            failLine();
            self.postNotification("ForgotPasswordFail");
          } else if (response.body == "ok") {
            self.postNotification("ForgotPasswordOK");
          } else if (response.body == "userdeleted") {
            failLine();
            self.postNotification("ForgotPasswordUserDeleted");
          } else {
            failLine();
            self.postNotification("ForgotPasswordFail");
          }
        },
        [](CommunicationServer& self) { self.postNotification("ForgotPasswordFail"); });
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method forgotPassword: ") + e.what());
    postNotification("ForgotPasswordFail");
  }
}

void CommunicationServer::sendSerialNumbers(const std::string& serialNumber, const std::string& withComputerUUID) {
  try {
    std::string form = getStringForRequest(RequestKind::kSendSerialNumbers) +
                       "&SerialNumber=" + formValue(serialNumber) + "&ComputerUUID=" + formValue(withComputerUUID);
    // Right after a device registration there is no session yet: a 401 is
    // renewed once and sent again; the reply itself is ignored.
    sendAsyncRenewing(
        "sendSerialNumbers", [form](CommunicationServer& self) { return self.sendForm(form); }, nullptr, nullptr, 1);
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method sendSerialNumbers: ") + e.what());
  }
}

}  // namespace palvero
