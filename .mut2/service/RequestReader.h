// Reads a POST body into the fields and file parts of a ServiceRequest:
// URL-encoded forms of any size (the library's own parser stops at 8 KiB) and
// multipart bodies, whose text fields become fields and whose file parts
// become parts.
//
// What is held in memory (a form, the text fields) stops at `formBytes`,
// the whole body at `bodyBytes` (file parts are spooled to disk), and the
// reading at `deadline`: a client that sends too much, or too slowly, is
// cut off instead of holding memory or a worker.
#pragma once

#include <chrono>
#include <string>

#include "ServiceTypes.h"

namespace httplib {
struct Request;
class ContentReader;
}  // namespace httplib

namespace palvero::service {

struct ReadLimits {
  size_t formBytes = 0;
  size_t bodyBytes = 0;
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
};

// Fills `out.fields`, `out.parts` (spooled in `spoolDir`) and `out.kind`;
// `rawForm` receives the body of a URL-encoded form (empty for multipart).
// False with `*error` and `*status` set when the body cannot be read (400),
// is larger than the limits (413) or takes past the deadline (408).
bool readServiceRequest(const httplib::Request& req, const httplib::ContentReader& reader, const ReadLimits& limits,
                        const std::string& spoolDir, ServiceRequest& out, std::string& rawForm, std::string* error,
                        int* status);

}  // namespace palvero::service
