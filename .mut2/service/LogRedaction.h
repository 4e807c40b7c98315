// Secrets kept out of the request log: passwords, device passes, session
// cookies and the accounts' cipher keys, whether they come as a form field,
// a header, a key inside a JSON field or a reply.
//
// Stateless; safe from any thread.
#pragma once

#include <string>
#include <string_view>

#include "base/Value.h"

namespace palvero::service {

inline constexpr const char* kRedacted = "(redacted)";

// Whether a field, header or JSON key names a secret ("password",
// "proxyPassword", "Pass", "Cookie", "UserCipher", ...; case ignored).
bool isSecretName(std::string_view name);
// `text` with the value of every secret key replaced when it is a JSON
// object or array that holds one; otherwise `text` unchanged (byte for byte).
std::string redactJsonText(const std::string& text);
// A URL-encoded form with the values of secret fields, and secret keys
// inside JSON values, replaced.
std::string redactForm(const std::string& form);
// A request-log entry with "fields", "headers", "body" and "reply" redacted.
void redactEntry(Value& entry);

}  // namespace palvero::service
