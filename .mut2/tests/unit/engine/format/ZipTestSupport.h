// Zip helpers for the tests: Python's zipfile as the independent reader and
// writer, and byte-level patches of archive headers.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "FormatTestSupport.h"
#include "base/Value.h"
#include "support/TempHome.h"

namespace palvero::testing {

// Describes the archive at `path` as JSON: for each entry its name, method,
// flag bits, date, CRC check result, SHA-256 of the data and size; plus the
// archive comment. Fails the test when Python cannot read it.
inline Value pythonDescribe(const TempHome& home, const std::string& path) {
  std::string script = home / "describe.py";
  writeFile(script, R"(import hashlib, json, sys, zipfile, zlib
with zipfile.ZipFile(sys.argv[1]) as z:
    entries = []
    raw = open(sys.argv[1], 'rb').read()
    for info in z.infolist():
        data = z.read(info)
        # The raw deflate stream as stored, to compare with zlib level 6.
        name_len = int.from_bytes(raw[info.header_offset + 26:info.header_offset + 28], 'little')
        extra_len = int.from_bytes(raw[info.header_offset + 28:info.header_offset + 30], 'little')
        start = info.header_offset + 30 + name_len + extra_len
        stream = raw[start:start + info.compress_size]
        level6 = zlib.compressobj(6, zlib.DEFLATED, -15, 8)
        zlib6 = level6.compress(data) + level6.flush()
        # Whether the stream is nothing but stored blocks (BTYPE 00).
        at, stored_only = 0, True
        while True:
            if at + 5 > len(stream) or stream[at] & ~1:
                stored_only = False
                break
            length = int.from_bytes(stream[at + 1:at + 3], 'little')
            at += 5 + length
            if stream[at - 5 - length] & 1:
                stored_only = at == len(stream)
                break
        entries.append({"name": info.filename, "method": info.compress_type, "flags": info.flag_bits,
                        "date": list(info.date_time), "sha256": hashlib.sha256(data).hexdigest(),
                        "size": len(data), "comment": info.comment.decode(), "streamSize": len(stream),
                        "zlib6Size": len(zlib6), "storedOnly": stored_only})
    print(json.dumps({"entries": entries, "comment": z.comment.decode(), "bad": z.testzip()}))
)");
  auto result = runCommand("python3 " + shellQuote(script) + " " + shellQuote(path));
  EXPECT_EQ(result.exitCode, 0) << result.output;
  Value parsed = Value::parse(result.output, nullptr, false);
  EXPECT_FALSE(parsed.is_discarded()) << result.output;
  return parsed;
}

// Runs a Python snippet with zipfile, io, os, stat imported and `out` bound
// to the archive path to write.
inline void pythonWrite(const TempHome& home, const std::string& path, const std::string& body) {
  std::string script = home / "write.py";
  writeFile(script, "import io, os, stat, sys, zipfile\nout = sys.argv[1]\n" + body + "\n");
  auto result = runCommand("python3 " + shellQuote(script) + " " + shellQuote(path) + " 2>&1");
  ASSERT_EQ(result.exitCode, 0) << result.output;
}

// Offsets of the local header and central directory record of the first entry.
inline size_t findSignature(const Bytes& zip, uint32_t signature, size_t from = 0) {
  for (size_t i = from; i + 4 <= zip.size(); ++i) {
    uint32_t v = uint32_t{zip[i]} | uint32_t{zip[i + 1]} << 8 | uint32_t{zip[i + 2]} << 16 | uint32_t{zip[i + 3]} << 24;
    if (v == signature) return i;
  }
  return std::string::npos;
}

inline void putLittle32(Bytes& zip, size_t at, uint32_t value) {
  for (int k = 0; k < 4; ++k) zip[at + k] = static_cast<uint8_t>(value >> (8 * k));
}

// Rewrites the uncompressed size of the first entry in both headers.
inline void patchUncompressedSize(Bytes& zip, uint32_t size) {
  size_t local = findSignature(zip, 0x04034b50);
  size_t central = findSignature(zip, 0x02014b50);
  ASSERT_NE(local, std::string::npos);
  ASSERT_NE(central, std::string::npos);
  putLittle32(zip, local + 22, size);
  putLittle32(zip, central + 24, size);
}

}  // namespace palvero::testing
