// Stands in for a desktop's notification service on the session bus: owns
// org.freedesktop.Notifications, answers Notify with increasing ids and
// records what it was sent. Open it after PrivateBus has set the session
// bus address. Needs sd-bus (PALVERO_HAVE_SDBUS).
//
// Thread contract: its own thread serves the bus; received() and
// waitFor() from the test's thread.
#pragma once

#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace palvero::testing {

class FakeNotificationServer {
 public:
  struct Received {
    std::string appName;
    std::string icon;
    std::string summary;
    std::string body;
    int urgency = -1;  // the "urgency" hint, -1 when absent
    std::string desktopEntry;
  };

  FakeNotificationServer() : stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (sd_bus_open_user(&bus_) < 0) {
      bus_ = nullptr;
      return;
    }
    if (sd_bus_add_object_vtable(bus_, &slot_, "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                                 vtable(), this) < 0 ||
        sd_bus_request_name(bus_, "org.freedesktop.Notifications", 0) < 0) {
      return;
    }
    owned_ = true;
    thread_ = std::thread([this] { serve(); });
  }
  ~FakeNotificationServer() {
    if (thread_.joinable()) {
      uint64_t one = 1;
      [[maybe_unused]] ssize_t written = ::write(stopFd_, &one, sizeof one);
      thread_.join();
    }
    if (slot_) sd_bus_slot_unref(slot_);
    if (bus_) sd_bus_flush_close_unref(bus_);
    ::close(stopFd_);
  }
  FakeNotificationServer(const FakeNotificationServer&) = delete;
  FakeNotificationServer& operator=(const FakeNotificationServer&) = delete;

  bool owned() const { return owned_; }

  std::vector<Received> received() {
    std::lock_guard lock(mutex_);
    return received_;
  }
  // Waits (real time, bounded) until `count` notifications have arrived.
  bool waitFor(size_t count, std::chrono::seconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
  }

 private:
  static int onNotify(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto* self = static_cast<FakeNotificationServer*>(userdata);
    Received r;
    const char *app = nullptr, *icon = nullptr, *summary = nullptr, *body = nullptr;
    uint32_t replaces = 0;
    if (sd_bus_message_read(message, "susss", &app, &replaces, &icon, &summary, &body) < 0) return -EINVAL;
    r.appName = app;
    r.icon = icon;
    r.summary = summary;
    r.body = body;
    if (sd_bus_message_skip(message, "as") < 0) return -EINVAL;
    if (sd_bus_message_enter_container(message, 'a', "{sv}") < 0) return -EINVAL;
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
      const char* key = nullptr;
      sd_bus_message_read(message, "s", &key);
      std::string name = key ? key : "";
      if (name == "urgency") {
        uint8_t level = 0;
        sd_bus_message_read(message, "v", "y", &level);
        r.urgency = level;
      } else if (name == "desktop-entry") {
        const char* entry = nullptr;
        sd_bus_message_read(message, "v", "s", &entry);
        r.desktopEntry = entry ? entry : "";
      } else {
        sd_bus_message_skip(message, "v");
      }
      sd_bus_message_exit_container(message);
    }
    sd_bus_message_exit_container(message);
    uint32_t id = 0;
    {
      std::lock_guard lock(self->mutex_);
      self->received_.push_back(r);
      id = static_cast<uint32_t>(self->received_.size());
    }
    self->arrived_.notify_all();
    return sd_bus_reply_method_return(message, "u", id);
  }

  void serve() {
    for (;;) {
      int rc;
      while ((rc = sd_bus_process(bus_, nullptr)) > 0) {
      }
      if (rc < 0) return;
      pollfd fds[2] = {{sd_bus_get_fd(bus_), static_cast<short>(sd_bus_get_events(bus_)), 0}, {stopFd_, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
      if (fds[1].revents & POLLIN) return;
    }
  }

  static const sd_bus_vtable* vtable() {
    static const sd_bus_vtable table[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", &FakeNotificationServer::onNotify, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END};
    return table;
  }

  int stopFd_;
  sd_bus* bus_ = nullptr;
  sd_bus_slot* slot_ = nullptr;
  bool owned_ = false;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Received> received_;  // guarded by mutex_
};

}  // namespace palvero::testing
