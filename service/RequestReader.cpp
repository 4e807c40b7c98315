#include "RequestReader.h"

#include <httplib.h>

#include "FormCodec.h"

namespace palvero::service {

bool readServiceRequest(const httplib::Request& req, const httplib::ContentReader& reader, size_t limit,
                        const std::string& spoolDir, ServiceRequest& out, std::string& rawForm, std::string* error) {
  size_t total = 0;
  bool tooLarge = false;
  std::string failure;
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
          total += size;
          if (total > limit) {
            tooLarge = true;
            return false;
          }
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
    if (!ok) {
      if (error) *error = tooLarge ? "body too large" : !failure.empty() ? failure : "malformed multipart body";
      return false;
    }
  } else {
    bool ok = reader([&](const char* data, size_t size) {
      if (rawForm.size() + size > limit) {
        tooLarge = true;
        return false;
      }
      rawForm.append(data, size);
      return true;
    });
    if (!ok) {
      if (error) *error = tooLarge ? "body too large" : "cannot read body";
      return false;
    }
    out.fields = parseForm(rawForm);
  }
  out.kind = out.field("request");
  return true;
}

}  // namespace palvero::service
