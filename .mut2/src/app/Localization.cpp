#include "app/Localization.h"


namespace palvero {

extern const char* const kEnglishTable;

Localization& Localization::shared() {
  static auto* instance = new Localization();
  return *instance;
}

Localization::Localization() : table_(std::make_shared<const Value>(Value::object())) { loadJSON(kEnglishTable); }

std::string Localization::text(const std::string& key) const {
  std::shared_ptr<const Value> table;
  {
    std::lock_guard lock(mutex_);
    table = table_;
  }
  auto it = table->find(key);
  return it != table->end() && it->is_string() ? it->get<std::string>() : key;
}

bool Localization::loadJSON(const std::string& json) {
  Value parsed = Value::parse(json, nullptr, false);
  if (!parsed.is_object()) return false;
  for (const auto& item : parsed.items()) {
    if (!item.value().is_string()) return false;
  }
  std::lock_guard lock(mutex_);
  table_ = std::make_shared<const Value>(std::move(parsed));
  return true;
}

std::string L(const std::string& key) { return Localization::shared().text(key); }

}  // namespace palvero
