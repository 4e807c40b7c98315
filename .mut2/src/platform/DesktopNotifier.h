// Desktop notifications through the freedesktop Notifications service
// (org.freedesktop.Notifications.Notify) on the user's session bus, over
// sd-bus. Where there is no session bus, create() gives nothing; where the
// bus has no notification service, send() fails and the caller goes on.
//
// Thread contract: send() from any thread; calls are serialised on the one
// bus connection. A send blocks until the service answers (bounded by
// kCallTimeout), so callers keep it off their main loop.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace palvero {

class DesktopNotifier {
 public:
  enum class Urgency : uint8_t { kLow = 0, kNormal = 1, kCritical = 2 };

  struct Message {
    std::string summary;
    std::string body;
    Urgency urgency = Urgency::kNormal;
    std::string icon;  // an icon name of the theme, or a file path
  };

  static constexpr std::chrono::seconds kCallTimeout{10};

  virtual ~DesktopNotifier() = default;
  // The notification's id from the service, or nothing when it was not shown.
  virtual std::optional<uint32_t> send(const Message& message) = 0;

  // A notifier on the session bus ($DBUS_SESSION_BUS_ADDRESS, else the
  // user's bus socket); nothing without one (or without sd-bus in the build).
  // `appName` and `desktopEntry` name the sender to the service.
  static std::unique_ptr<DesktopNotifier> create(const std::string& appName, const std::string& desktopEntry);
};

}  // namespace palvero
