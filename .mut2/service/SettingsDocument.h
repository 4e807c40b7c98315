// Reads a settings body as clients send it with "save_settings". The bodies
// are JSON written by format strings, so an unset value can appear as a bare
// (null) (the exclusions' "size") or as the text "(null)"; the first is read
// as null and the second dropped, so that loading a type back never hands a
// client "(null)" as a value.
//
// Stateless; safe from any thread.
#pragma once

#include <optional>
#include <string>

#include "base/Value.h"

namespace palvero::service {

class SettingsDocument {
 public:
  // The body as a JSON object, or nothing when it is not one.
  static std::optional<Value> parse(const std::string& body);
};

}  // namespace palvero::service
