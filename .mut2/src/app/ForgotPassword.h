// The forgotten-password request of the login page: one request at a time
// (a second press while one is out is ignored), an empty user name refused
// without asking the service, and the outcome as the alert to show.
//
// Thread contract: construct, call and destroy on the main loop's thread;
// the completion runs there. A completion still pending when the instance is
// destroyed is dropped.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/NotificationCenter.h"

namespace palvero {

class CommunicationServer;

class ForgotPassword {
 public:
  enum class Outcome { kSent, kUnknownUser, kUserDeleted };
  using Completion = std::function<void(Outcome)>;

  // Over `server` (a new request object when null).
  explicit ForgotPassword(std::shared_ptr<CommunicationServer> server = nullptr);
  ~ForgotPassword();
  ForgotPassword(const ForgotPassword&) = delete;
  ForgotPassword& operator=(const ForgotPassword&) = delete;

  // False (and nothing sent, `done` not called) while a request is out.
  bool request(const std::string& user, Completion done);
  bool inProgress() const { return static_cast<bool>(pending_); }

  // The alert's text: the localised "New password has been sent to email" or
  // "wrong username"; "This user is deleted" as it is.
  static std::string alertText(Outcome outcome);

 private:
  void finish(Outcome outcome);

  std::shared_ptr<CommunicationServer> server_;
  std::vector<NotificationCenter::Token> observers_;
  Completion pending_;  // main loop thread only; set while a request is out
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace palvero
