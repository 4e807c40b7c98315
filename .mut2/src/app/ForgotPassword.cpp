#include "app/ForgotPassword.h"

#include "app/Localization.h"
#include "base/RunLoop.h"
#include "protocol/CommunicationServer.h"

namespace palvero {

ForgotPassword::ForgotPassword(std::shared_ptr<CommunicationServer> server)
    : server_(server ? std::move(server) : CommunicationServer::create()) {
  auto& center = NotificationCenter::defaultCenter();
  std::weak_ptr<int> alive = alive_;
  auto observe = [&](const char* name, Outcome outcome) {
    observers_.push_back(center.addObserver(name, server_.get(), [this, alive, outcome](const Notification&) {
      RunLoop::main().async([this, alive, outcome] {
        if (alive.lock()) finish(outcome);
      });
    }));
  };
  observe("ForgotPasswordOK", Outcome::kSent);
  observe("ForgotPasswordFail", Outcome::kUnknownUser);
  observe("ForgotPasswordUserDeleted", Outcome::kUserDeleted);
}

ForgotPassword::~ForgotPassword() {
  for (auto token : observers_) NotificationCenter::defaultCenter().removeObserver(token);
}

bool ForgotPassword::request(const std::string& user, Completion done) {
  if (pending_) return false;
  if (user.empty()) {
    if (done) done(Outcome::kUnknownUser);
    return true;
  }
  pending_ = done ? std::move(done) : [](Outcome) {};
  server_->forgotPassword(user);
  return true;
}

void ForgotPassword::finish(Outcome outcome) {
  if (!pending_) return;
  Completion done = std::move(pending_);
  pending_ = nullptr;
  done(outcome);
}

std::string ForgotPassword::alertText(Outcome outcome) {
  switch (outcome) {
    case Outcome::kSent:
      return L("New password has been sent to email");
    case Outcome::kUserDeleted:
      return "This user is deleted";
    case Outcome::kUnknownUser:
    default:
      return L("wrong username");
  }
}

}  // namespace palvero
