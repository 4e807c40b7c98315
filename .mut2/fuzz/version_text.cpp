// The version text reader, on text as the service hands it back, and on the
// transport form (decrypted with the user cipher, unpacked when it is an
// archive, else taken as the text itself).
//
// Besides not crashing: whatever the reader makes of a text, writing that
// description and reading it back is a fixed point once it has been written
// one time, so that a stored revision reads the same every time it is
// fetched.
#include <cstdint>
#include <string>

#include "base/Bytes.h"
#include "engine/format/Compressor.h"
#include "engine/format/Security.h"
#include "engine/format/VersionFile.h"
#include "FuzzHome.h"

using namespace palvero;

namespace {

constexpr const char* kUserCipher = "0123456789abcdefghijklmnopqrstuv";

void checkFixedPoint(const std::string& text) {
  auto first = VersionFile::ParseFileVersionInfo(text);
  if (!first) return;
  std::string written = VersionFile::FormatFileVersionInfo(*first);
  auto second = VersionFile::ParseFileVersionInfo(written);
  if (!second) fuzz::fail("a written description does not read back:\n" + written);
  std::string rewritten = VersionFile::FormatFileVersionInfo(*second);
  auto third = VersionFile::ParseFileVersionInfo(rewritten);
  if (!third || VersionFile::FormatFileVersionInfo(*third) != rewritten) {
    fuzz::fail("the version text does not settle:\n" + written + "\n--- then ---\n" + rewritten);
  }
  if (second->FileParts.size() != first->FileParts.size()) fuzz::fail("parts lost on writing:\n" + written);
  for (size_t i = 0; i < first->FileParts.size(); ++i) {
    if (second->FileParts[i].FileBlocks.size() != first->FileParts[i].FileBlocks.size()) {
      fuzz::fail("blocks lost on writing:\n" + written);
    }
  }
}

// What the restore does with the bytes of a revision when a user cipher is
// set: decrypt, unpack when it is an archive, else read the bytes as text.
void readTransportForm(const Bytes& plain) {
  Security security;
  Bytes stored = plain;
  if (!security.EncryptStream(stored, kUserCipher)) fuzz::fail("encryption failed");
  auto decrypted = security.DecryptStream(stored, kUserCipher);
  if (!decrypted || *decrypted != plain) fuzz::fail("decryption does not give the plain bytes back");
  Compressor compressor;
  Bytes unpacked;
  const Bytes& text = compressor.DecompressFromStream(*decrypted, unpacked, false, "TempFileVerFile.tmp", "r0")
                          ? unpacked
                          : *decrypted;
  checkFixedPoint(std::string(text.begin(), text.end()));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::FuzzHome::setUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto input = fuzz::Input::of(data, size);
  if (input.selector & 1) {
    readTransportForm(Bytes(input.rest.begin(), input.rest.end()));
  } else {
    checkFixedPoint(std::string(input.rest));
  }
  return 0;
}
