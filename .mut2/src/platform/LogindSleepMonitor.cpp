// The sleep and wake source on a system with logind: its PrepareForSleep(b)
// signal, true before the machine sleeps and false after it woke.
#include <memory>

#include "platform/SleepMonitor.h"

#ifdef PALVERO_HAVE_SDBUS
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>

#include "platform/UniqueFd.h"
#endif

namespace palvero {

#ifdef PALVERO_HAVE_SDBUS
namespace {

struct BusCloser {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct SlotUnref {
  void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Bus = std::unique_ptr<sd_bus, BusCloser>;
using Slot = std::unique_ptr<sd_bus_slot, SlotUnref>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

class BusError {
 public:
  ~BusError() { sd_bus_error_free(&error_); }
  sd_bus_error* get() { return &error_; }

 private:
  sd_bus_error error_{};  // SD_BUS_ERROR_NULL, without its C compound literal
};

bool loginManagerPresent(sd_bus* bus) {
  BusError error;
  sd_bus_message* raw = nullptr;
  int rc = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                              "NameHasOwner", error.get(), &raw, "s", "org.freedesktop.login1");
  Message reply(raw);
  if (rc < 0) return false;
  int hasOwner = 0;
  return sd_bus_message_read(reply.get(), "b", &hasOwner) >= 0 && hasOwner;
}

class LogindSleepMonitor : public SleepMonitor {
 public:
  explicit LogindSleepMonitor(Bus bus) : bus_(std::move(bus)), stopFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~LogindSleepMonitor() override { stop(); }

  bool start(Handler onSleep, Handler onWake) override {
    stop();
    onSleep_ = std::move(onSleep);
    onWake_ = std::move(onWake);
    sd_bus_slot* raw = nullptr;
    // Synchronous: the bus daemon holds the match when this returns.
    if (sd_bus_match_signal(bus_.get(), &raw, "org.freedesktop.login1", "/org/freedesktop/login1",
                            "org.freedesktop.login1.Manager", "PrepareForSleep", &LogindSleepMonitor::onSignal,
                            this) < 0) {
      return false;
    }
    slot_.reset(raw);
    thread_ = std::thread([this] { run(); });
    return true;
  }

  void stop() override {
    if (!thread_.joinable()) return;
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(stopFd_.get(), &one, sizeof(one));
    thread_.join();
    uint64_t drained = 0;
    [[maybe_unused]] ssize_t read = ::read(stopFd_.get(), &drained, sizeof(drained));
    slot_.reset();
  }

  const char* sourceName() const override { return "logind"; }

 private:
  static int onSignal(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto* self = static_cast<LogindSleepMonitor*>(userdata);
    int sleeping = 0;
    if (sd_bus_message_read(message, "b", &sleeping) < 0) return 0;
    const Handler& handler = sleeping ? self->onSleep_ : self->onWake_;
    if (handler) handler();
    return 0;
  }

  void run() {
    for (;;) {
      int rc;
      while ((rc = sd_bus_process(bus_.get(), nullptr)) > 0) {
      }
      if (rc < 0) return;  // the bus went away: nothing more will come
      pollfd fds[2] = {{sd_bus_get_fd(bus_.get()), static_cast<short>(sd_bus_get_events(bus_.get())), 0},
                       {stopFd_.get(), POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
      if (fds[1].revents & POLLIN) return;
    }
  }

  Bus bus_;
  Slot slot_;
  UniqueFd stopFd_;
  Handler onSleep_;
  Handler onWake_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<SleepMonitor> createLogindSleepMonitor() {
  sd_bus* raw = nullptr;
  if (sd_bus_open_system(&raw) < 0) return nullptr;
  Bus bus(raw);
  if (!loginManagerPresent(bus.get())) return nullptr;
  return std::make_unique<LogindSleepMonitor>(std::move(bus));
}

#else

std::unique_ptr<SleepMonitor> createLogindSleepMonitor() { return nullptr; }

#endif

}  // namespace palvero
