// A tiny HTTP/1.1 server on loopback for testing HttpClient at the byte
// level: it records each raw request and answers with scripted raw bytes, so
// a test can see exactly what went over the wire and feed back cut or broken
// replies. One connection at a time, in a thread of its own.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace palvero::testing {

class RawHttpServer {
 public:
  struct Answer {
    std::string bytes;   // written as they are
    bool close = false;  // close the connection after writing
    int delayMs = 0;     // wait before writing
  };

  explicit RawHttpServer(std::vector<Answer> answers) : answers_(answers.begin(), answers.end()) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    ::listen(listener_, 8);
    thread_ = std::thread([this] { serve(); });
  }

  ~RawHttpServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/server.php"; }
  std::vector<std::string> requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  int connections() const { return connections_.load(); }

 private:
  bool readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
  }

  // Reads one request (headers and a Content-Length body); empty at EOF.
  std::string readRequest(int fd) {
    std::string data;
    char buffer[65536];
    size_t headerEnd = std::string::npos;
    size_t total = 0;
    while (!stop_) {
      if (!readable(fd, 50)) continue;
      ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0) return {};
      data.append(buffer, static_cast<size_t>(n));
      if (headerEnd == std::string::npos && (headerEnd = data.find("\r\n\r\n")) != std::string::npos) {
        size_t at = data.find("Content-Length: ");
        size_t length = at == std::string::npos || at > headerEnd ? 0 : std::stoul(data.substr(at + 16));
        total = headerEnd + 4 + length;
      }
      if (headerEnd != std::string::npos && data.size() >= total) return data;
    }
    return {};
  }

  void serve() {
    while (!stop_) {
      if (!readable(listener_, 50)) continue;
      int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      ++connections_;
      while (!stop_) {
        std::string request = readRequest(fd);
        if (request.empty()) break;
        Answer answer;
        {
          std::lock_guard lock(mutex_);
          requests_.push_back(request);
          if (answers_.empty()) break;
          answer = answers_.front();
          answers_.pop_front();
        }
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(answer.delayMs);
        while (!stop_ && std::chrono::steady_clock::now() < until)
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!answer.bytes.empty()) {
          // The client may hang up before it has read everything.
          ssize_t ignored = ::send(fd, answer.bytes.data(), answer.bytes.size(), MSG_NOSIGNAL);
          (void)ignored;
        }
        if (answer.close) break;
      }
      ::close(fd);
    }
  }

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::mutex mutex_;
  std::deque<Answer> answers_;         // guarded by mutex_
  std::vector<std::string> requests_;  // guarded by mutex_
  std::thread thread_;
};

}  // namespace palvero::testing
