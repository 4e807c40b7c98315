#include "RequestReader.h"

#include <httplib.h>

#include "FormCodec.h"

namespace palvero::service {

bool readServiceRequest(const httplib::Request& req, const httplib::ContentReader& reader, size_t limit,
                        ServiceRequest& out, std::string& rawForm, std::string* error) {
  size_t total = 0;
  bool tooLarge = false;
  if (req.is_multipart_form_data()) {
    UploadedPart current;
    bool open = false;
    auto finish = [&] {
      if (!open) return;
      if (current.filename.empty()) {
        out.fields.emplace(current.name, std::move(current.content));
      } else {
        out.parts.push_back(std::move(current));
      }
      current = UploadedPart();
      open = false;
    };
    bool ok = reader(
        [&](const httplib::MultipartFormData& header) {
          finish();
          current.name = header.name;
          current.filename = header.filename;
          open = true;
          return true;
        },
        [&](const char* data, size_t size) {
          total += size;
          if (total > limit) {
            tooLarge = true;
            return false;
          }
          current.content.append(data, size);
          return true;
        });
    finish();
    if (!ok) {
      if (error) *error = tooLarge ? "body too large" : "malformed multipart body";
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
