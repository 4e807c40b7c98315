// The request and reply as a handler sees them: the fields of the form (URL
// encoded or multipart), the uploaded file parts, and who the session cookie
// says is calling.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "SpoolFile.h"

namespace palvero::service {

// One file part of a multipart body ("file", "file[]"), spooled to disk as
// it arrived.
struct UploadedPart {
  std::string name;
  std::string filename;
  std::shared_ptr<SpoolFile> spool;

  int64_t size() const { return spool ? spool->size() : 0; }
  // The whole part in memory; for parts known to be small (version files).
  std::string content() const { return spool ? spool->readAll() : std::string(); }
};

// The identity behind a session: a device (guid = device id) or an account
// that has not registered a device yet (guid = the account's client id).
struct Principal {
  std::string id;
  int64_t accountId = 0;
  bool isDevice = false;
};

struct ServiceRequest {
  std::string kind;                           // the "request" field
  std::map<std::string, std::string> fields;  // first value of each field, decoded
  std::vector<UploadedPart> parts;            // file parts in body order
  std::optional<Principal> principal;         // set for a valid session cookie
  std::string sessionToken;                   // the session cookie's value, if any

  // The field's value, or the empty text when it is missing.
  const std::string& field(const std::string& name) const {
    static const std::string kEmpty;
    auto it = fields.find(name);
    return it == fields.end() ? kEmpty : it->second;
  }
  bool has(const std::string& name) const { return fields.count(name) != 0; }
};

struct ServiceReply {
  int status = 200;
  std::string body;
  std::string contentType = "text/plain";
  std::vector<std::pair<std::string, std::string>> headers;

  void text(int code, std::string content) {
    status = code;
    body = std::move(content);
    contentType = "text/plain";
  }
  void json(std::string content) {
    status = 200;
    body = std::move(content);
    contentType = "application/json";
  }
  void bytes(std::string content) {
    status = 200;
    body = std::move(content);
    contentType = "application/octet-stream";
  }
};

}  // namespace palvero::service
