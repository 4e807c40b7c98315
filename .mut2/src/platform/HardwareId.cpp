#include "platform/HardwareId.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <mutex>
#include <sstream>

namespace palvero {
namespace {

std::mutex gRootMutex;
std::string& rootSlot() {  // guarded by gRootMutex
  static auto* root = new std::string("/");
  return *root;
}

std::string root() {
  std::lock_guard lock(gRootMutex);
  return rootSlot();
}

std::string trimmed(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// The first line of a small file under the root, trimmed; nothing when it
// cannot be read or is empty.
std::optional<std::string> readValue(const std::string& relative) {
  std::ifstream in(root() + relative);
  if (!in) return std::nullopt;
  std::string line;
  std::getline(in, line);
  if (in.bad()) return std::nullopt;
  std::string value = trimmed(line);
  if (value.empty()) return std::nullopt;
  return value;
}

std::optional<std::string> firmwareValue(const char* name) {
  auto value = readValue(std::string("sys/class/dmi/id/") + name);
  if (!value || HardwareId::isPlaceholder(*value)) return std::nullopt;
  return value;
}

// /etc/machine-id: 32 hexadecimal digits.
std::optional<std::string> machineId() {
  auto value = readValue("etc/machine-id");
  if (!value || value->size() != 32) return std::nullopt;
  if (!std::all_of(value->begin(), value->end(), [](unsigned char c) { return std::isxdigit(c) != 0; })) {
    return std::nullopt;
  }
  return upper(*value);
}

}  // namespace

bool HardwareId::isPlaceholder(const std::string& value) {
  static const std::array<const char*, 9> kPlaceholders = {"TO BE FILLED BY O.E.M.",
                                                           "DEFAULT STRING",
                                                           "NOT SPECIFIED",
                                                           "NOT APPLICABLE",
                                                           "NONE",
                                                           "SYSTEM SERIAL NUMBER",
                                                           "0123456789",
                                                           "N/A",
                                                           "0"};
  std::string normal = upper(trimmed(value));
  if (normal.empty()) return true;
  for (const char* placeholder : kPlaceholders) {
    if (normal == placeholder) return true;
  }
  // All zeros or all F's (with or without dashes): an unset UUID.
  bool allZero = std::all_of(normal.begin(), normal.end(), [](char c) { return c == '0' || c == '-'; });
  bool allF = std::all_of(normal.begin(), normal.end(), [](char c) { return c == 'F' || c == '-'; });
  return allZero || allF;
}

std::optional<std::string> HardwareId::serialNumber() {
  if (auto serial = firmwareValue("product_serial")) return serial;
  return machineId();
}

std::optional<std::string> HardwareId::computerUUID() {
  if (auto uuid = firmwareValue("product_uuid")) return upper(*uuid);
  auto id = machineId();
  if (!id) return std::nullopt;
  std::ostringstream out;
  out << id->substr(0, 8) << '-' << id->substr(8, 4) << '-' << id->substr(12, 4) << '-' << id->substr(16, 4) << '-'
      << id->substr(20);
  return out.str();
}

void HardwareId::setRootForTesting(const std::string& root) {
  std::lock_guard lock(gRootMutex);
  rootSlot() = root.empty() ? "/" : (root.back() == '/' ? root : root + "/");
}

}  // namespace palvero
