// The bounds the service puts on what a client may make it hold. Without
// them one client, logged in or not, could fill its memory or disk.
#pragma once

#include <cstddef>
#include <cstdint>

namespace palvero::service::limits {

// A body without a valid session cookie: ping, auth, login and device
// registration are all well under this.
inline constexpr size_t kPublicBodyBytes = 64 * 1024;
// What a request holds in memory: a URL-encoded form, or the text fields of
// a multipart body. The client's largest is a deletion list of up to 5 MB.
inline constexpr size_t kFormBytes = 8 * 1024 * 1024;
// A whole body; file parts are spooled to disk as they arrive.
inline constexpr size_t kBodyBytes = 64 * 1024 * 1024;
// A version file, sent whole or assembled from parts.
inline constexpr int64_t kVersionBytes = 64 * 1024 * 1024;
// Version files being assembled from parts: per session, and in all.
inline constexpr size_t kPartialUploadsPerSession = 4;
inline constexpr int64_t kPartialUploadBytes = 512LL * 1024 * 1024;
// A file size or byte count a client reports (2^53, exact in JSON).
inline constexpr int64_t kMaxReportedSize = int64_t{1} << 53;
// Entries of one "check_block" list (the client sends ten at a time).
inline constexpr size_t kCheckBlockEntries = 10000;

}  // namespace palvero::service::limits
