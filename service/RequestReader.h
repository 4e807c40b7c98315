// Reads a POST body into the fields and file parts of a ServiceRequest:
// URL-encoded forms of any size (the library's own parser stops at 8 KiB) and
// multipart bodies, whose text fields become fields and whose file parts
// become parts.
#pragma once

#include <string>

#include "ServiceTypes.h"

namespace httplib {
struct Request;
class ContentReader;
}  // namespace httplib

namespace palvero::service {

// Fills `out.fields`, `out.parts` (spooled in `spoolDir`) and `out.kind`;
// `rawForm` receives the body of a URL-encoded form (empty for multipart).
// False with `*error` set when the body cannot be read or is larger than
// `limit`.
bool readServiceRequest(const httplib::Request& req, const httplib::ContentReader& reader, size_t limit,
                        const std::string& spoolDir, ServiceRequest& out, std::string& rawForm, std::string* error);

}  // namespace palvero::service
