#include "platform/DesktopNotifier.h"

#ifdef PALVERO_HAVE_SDBUS
#include <systemd/sd-bus.h>

#include <mutex>
#endif

namespace palvero {

#ifdef PALVERO_HAVE_SDBUS
namespace {

struct BusCloser {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};

class BusError {
 public:
  ~BusError() { sd_bus_error_free(&error_); }
  sd_bus_error* get() { return &error_; }

 private:
  sd_bus_error error_{};  // SD_BUS_ERROR_NULL, without its C compound literal
};

class SessionBusNotifier : public DesktopNotifier {
 public:
  SessionBusNotifier(sd_bus* bus, std::string appName, std::string desktopEntry)
      : bus_(bus), appName_(std::move(appName)), desktopEntry_(std::move(desktopEntry)) {}

  std::optional<uint32_t> send(const Message& message) override {
    std::lock_guard lock(mutex_);
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_call(bus_.get(), &raw, "org.freedesktop.Notifications",
                                       "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                                       "Notify") < 0) {
      return std::nullopt;
    }
    std::unique_ptr<sd_bus_message, MessageUnref> call(raw);
    // Notify(app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout)
    if (sd_bus_message_append(call.get(), "susssas", appName_.c_str(), 0u, message.icon.c_str(),
                              message.summary.c_str(), message.body.c_str(), 0) < 0 ||
        sd_bus_message_append(call.get(), "a{sv}", 2, "urgency", "y", static_cast<uint8_t>(message.urgency),
                              "desktop-entry", "s", desktopEntry_.c_str()) < 0 ||
        sd_bus_message_append(call.get(), "i", -1) < 0) {
      return std::nullopt;
    }
    BusError error;
    sd_bus_message* rawReply = nullptr;
    uint64_t timeout = std::chrono::duration_cast<std::chrono::microseconds>(kCallTimeout).count();
    if (sd_bus_call(bus_.get(), call.get(), timeout, error.get(), &rawReply) < 0) return std::nullopt;
    std::unique_ptr<sd_bus_message, MessageUnref> reply(rawReply);
    uint32_t id = 0;
    if (sd_bus_message_read(reply.get(), "u", &id) < 0) return std::nullopt;
    return id;
  }

 private:
  std::mutex mutex_;
  std::unique_ptr<sd_bus, BusCloser> bus_;  // guarded by mutex_
  const std::string appName_;
  const std::string desktopEntry_;
};

}  // namespace

std::unique_ptr<DesktopNotifier> DesktopNotifier::create(const std::string& appName,
                                                         const std::string& desktopEntry) {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) return nullptr;
  return std::make_unique<SessionBusNotifier>(bus, appName, desktopEntry);
}

#else

std::unique_ptr<DesktopNotifier> DesktopNotifier::create(const std::string&, const std::string&) { return nullptr; }

#endif

}  // namespace palvero
