// The pieces of a multipart/form-data body as the client writes them. The
// writers (the version and single-block upload, the batched block upload,
// the log upload) assemble their bodies from these in their own order.
#pragma once

#include <string>

namespace palvero {

class MultipartForm {
 public:
  // "------" + a fresh unique text.
  static std::string newBoundary();
  // "multipart/form-data; boundary=<boundary>"
  static std::string contentType(const std::string& boundary);
  // "--B\r\nContent-Disposition: form-data; name=\"NAME\"\r\n\r\nVALUE\r\n"
  static std::string field(const std::string& boundary, const std::string& name, const std::string& value);
  // "--B\r\nContent-Disposition: form-data; name=\"NAME\"; filename=\"FILE\"\r\n"
  // "Content-Type: application/octet-stream\r\n\r\n"; in FILE a line feed,
  // carriage return or double quote (which would end the header or the
  // quoted name) is written %0A, %0D or %22, as browsers do.
  static std::string fileHeader(const std::string& boundary, const std::string& name, const std::string& filename);
  // "\r\n--B--\r\n"
  static std::string closing(const std::string& boundary);
  // An upper-case UUID-shaped text, unique within and across processes.
  static std::string uniqueString();
};

}  // namespace palvero
