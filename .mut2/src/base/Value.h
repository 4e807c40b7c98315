// Dynamic values: decoded JSON replies, dictionaries, notification user info
// and settings values.
#pragma once

#include <nlohmann/json.hpp>

namespace palvero {

using Value = nlohmann::json;

}  // namespace palvero
