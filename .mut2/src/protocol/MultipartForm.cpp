#include "protocol/MultipartForm.h"

#include <cstdio>
#include <random>

namespace palvero {

std::string MultipartForm::uniqueString() {
  thread_local std::mt19937_64 generator{std::random_device{}()};
  uint64_t high = generator();
  uint64_t low = generator();
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(high >> 32),
                static_cast<unsigned>((high >> 16) & 0xFFFF), static_cast<unsigned>(high & 0xFFFF),
                static_cast<unsigned>(low >> 48), static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFULL));
  return text;
}

std::string MultipartForm::newBoundary() { return "------" + uniqueString(); }

std::string MultipartForm::contentType(const std::string& boundary) {
  return "multipart/form-data; boundary=" + boundary;
}

std::string MultipartForm::field(const std::string& boundary, const std::string& name, const std::string& value) {
  return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

std::string MultipartForm::fileHeader(const std::string& boundary, const std::string& name,
                                      const std::string& filename) {
  std::string quoted;
  quoted.reserve(filename.size());
  for (char c : filename) {
    if (c == '\n') {
      quoted += "%0A";
    } else if (c == '\r') {
      quoted += "%0D";
    } else if (c == '"') {
      quoted += "%22";
    } else {
      quoted += c;
    }
  }
  return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" + quoted +
         "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
}

std::string MultipartForm::closing(const std::string& boundary) { return "\r\n--" + boundary + "--\r\n"; }

}  // namespace palvero
