#include "RequestReader.h"

#include <httplib.h>

#include "FormCodec.h"

namespace palvero::service {

bool readServiceRequest(const httplib::Request& req, const httplib::ContentReader& reader, const ReadLimits& limits,
                        const std::string& spoolDir, ServiceRequest& out, std::string& rawForm, std::string* error,
                        int* status) {
  size_t total = 0;
  size_t held = 0;
  bool tooLarge = false;
  bool tooSlow = false;
  std::string failure;
  // Counts a chunk against the limits; false stops the reading.
  auto admit = [&](size_t size, bool inMemory) {
    total += size;
    if (inMemory) held += size;
    if (total > limits.bodyBytes || held > limits.formBytes) {
      tooLarge = true;
      return false;
    }
    if (std::chrono::steady_clock::now() > limits.deadline) {
      tooSlow = true;
      return false;
    }
    return true;
  };
  auto fail = [&](const char* otherwise) {
    if (error) *error = tooLarge ? "body too large" : tooSlow ? "body too slow" : !failure.empty() ? failure : otherwise;
    if (status) *status = tooLarge ? 413 : tooSlow ? 408 : 400;
    return false;
  };
  if (req.is_multipart_form_data()) {
    UploadedPart file;
    std::string textName;
    std::string text;
    bool inText = false;
    auto finish = [&] {
      if (file.spool) {
        file.spool->finish();
        out.parts.push_back(std::move(file));
        file = UploadedPart();
      } else if (inText) {
        out.fields.emplace(std::move(textName), std::move(text));
        textName.clear();
        text.clear();
        inText = false;
      }
    };
    bool ok = reader(
        [&](const httplib::MultipartFormData& header) {
          try {
            finish();
            if (!admit(header.name.size() + header.filename.size(), true)) return false;
            if (header.filename.empty()) {
              textName = header.name;
              inText = true;
            } else {
              file.name = header.name;
              file.filename = header.filename;
              file.spool = std::make_shared<SpoolFile>(spoolDir);
            }
            return true;
          } catch (const std::exception& e) {
            failure = e.what();
            return false;
          }
        },
        [&](const char* data, size_t size) {
          if (!admit(size, !file.spool)) return false;
          try {
            if (file.spool) {
              file.spool->append(data, size);
            } else {
              text.append(data, size);
            }
            return true;
          } catch (const std::exception& e) {
            failure = e.what();
            return false;
          }
        });
    if (ok) {
      try {
        finish();
      } catch (const std::exception& e) {
        failure = e.what();
        ok = false;
      }
    }
    if (!ok) return fail("malformed multipart body");
  } else {
    bool ok = reader([&](const char* data, size_t size) {
      if (!admit(size, true)) return false;
      rawForm.append(data, size);
      return true;
    });
    if (!ok) return fail("cannot read body");
    out.fields = parseForm(rawForm);
  }
  out.kind = out.field("request");
  return true;
}

}  // namespace palvero::service
