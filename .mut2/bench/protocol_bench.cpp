// Request-layer throughput against the raw loopback HTTP throughput of the
// same machine, in one run:
//   (a) raw upload: curl POSTs one large body to the service's sink
//   (b) raw download: curl GETs one large body from the service's source
//   (c) CommunicationServer::uploadDataBlockList of 1 GB of 256,000-byte
//       encrypted-looking (random) blocks to palvero-service, batch by batch
//   (d) CommunicationServer::downloadDataBlock of every block, checked
//   (e) curl sending the same kind of batches (other blocks) and fetching the
//       same blocks, one curl process with keep-alive: what the service
//       itself costs, without this client
// The service stores blocks durably (written, flushed, renamed) unless
// --no-fsync is given. Prints MB/s and the ratios (c)/(a), (d)/(b), (c)/(e).
//
//   protocol_bench [--bytes N] [--no-fsync] [--dir DIR]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "protocol/CommunicationServer.h"
#include "protocol/HttpClient.h"
#include "state/LocalSettings.h"
#include "support/ServiceProcess.h"

namespace {

using palvero::Bytes;
using palvero::CommunicationServer;
using palvero::FileBlockToSend;
using palvero::testing::ServiceProcess;
using Seconds = std::chrono::duration<double>;

constexpr size_t kBlock = 256000;
// Records built (and their MD5 taken) per upload call, as the engine queues them.
constexpr size_t kBlocksPerCall = 40;

void fill(Bytes& out, uint64_t seed) {
  uint64_t x = seed * 0x9E3779B97F4A7C15ULL + 1;
  for (size_t i = 0; i + 8 <= out.size(); i += 8) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    std::memcpy(out.data() + i, &x, 8);
  }
}

std::string blockName(size_t i) {
  char text[65];
  std::snprintf(text, sizeof text, "%064zX", i + 1);
  return text;
}

double curlSeconds(const std::string& command) {
  auto start = std::chrono::steady_clock::now();
  int rc = std::system(command.c_str());
  double seconds = Seconds(std::chrono::steady_clock::now() - start).count();
  if (rc != 0) {
    std::fprintf(stderr, "command failed: %s\n", command.c_str());
    std::exit(1);
  }
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  size_t totalBytes = 1000000000;
  bool durable = true;
  std::string dir = std::filesystem::temp_directory_path().string();
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--bytes" && i + 1 < argc) {
      totalBytes = std::stoull(argv[++i]);
    } else if (arg == "--no-fsync") {
      durable = false;
    } else if (arg == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else {
      std::fprintf(stderr, "usage: protocol_bench [--bytes N] [--no-fsync] [--dir DIR]\n");
      return 2;
    }
  }
  std::string home = dir + "/palvero-protocol-bench";
  std::filesystem::remove_all(home);
  std::filesystem::create_directories(home);
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
  setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);

  ServiceProcess::Options options;
  options.noFsync = !durable;
  options.dataDir = home + "/service";
  ServiceProcess service(options);
  auto device = service.newDevice("bench", "bench");
  ServiceProcess::useCredentials(device);
  std::string origin = service.url().substr(0, service.url().rfind('/'));

  // (a), (b): raw loopback HTTP through the same server library.
  std::string payload = home + "/payload.bin";
  {
    std::ofstream out(payload, std::ios::binary);
    Bytes chunk(1 << 20);
    for (size_t written = 0; written < totalBytes; written += chunk.size()) {
      fill(chunk, written);
      out.write(reinterpret_cast<const char*>(chunk.data()),
                static_cast<std::streamsize>(std::min(chunk.size(), totalBytes - written)));
    }
  }
  double rawUp =
      curlSeconds("curl -sS -o /dev/null -X POST -H 'Expect:' -H 'Content-Type: application/octet-stream' -T " +
                  payload + " " + origin + "/control/sink");
  double rawDown =
      curlSeconds("curl -sS -o /dev/null '" + origin + "/control/source?bytes=" + std::to_string(totalBytes) + "'");
  std::filesystem::remove(payload);

  // (c): upload.
  auto server = CommunicationServer::create(service.url(), std::make_shared<palvero::HttpClient>());
  if (!server->syncAuthorise()) {
    std::fprintf(stderr, "cannot authorise\n");
    return 1;
  }
  size_t blocks = (totalBytes + kBlock - 1) / kBlock;
  double upSeconds = 0;
  Bytes body(kBlock + 16);
  for (size_t first = 0; first < blocks; first += kBlocksPerCall) {
    std::vector<FileBlockToSend> list;
    for (size_t i = first; i < std::min(blocks, first + kBlocksPerCall); ++i) {
      fill(body, i);
      list.emplace_back(body, blockName(i), static_cast<int64_t>(kBlock));
    }
    bool offline = false;
    auto start = std::chrono::steady_clock::now();
    bool ok = server->uploadDataBlockList(list, offline);
    upSeconds += Seconds(std::chrono::steady_clock::now() - start).count();
    if (!ok) {
      std::fprintf(stderr, "upload failed at block %zu\n", first);
      return 1;
    }
  }

  // (d): download, each block checked against what was sent.
  double downSeconds = 0;
  Bytes expected(kBlock + 16);
  for (size_t i = 0; i < blocks; ++i) {
    Bytes stream;
    bool compressed = false;
    bool offline = false;
    auto start = std::chrono::steady_clock::now();
    bool ok = server->downloadDataBlock(blockName(i), std::to_string(kBlock), stream, compressed, offline);
    downSeconds += Seconds(std::chrono::steady_clock::now() - start).count();
    fill(expected, i);
    if (!ok || stream != expected) {
      std::fprintf(stderr, "download of block %zu failed or differs\n", i);
      return 1;
    }
  }

  // (e): the same work for the service, sent by curl. The bodies follow the
  // multipart layout of the batch upload, written here without the client's
  // code; a third of the data is enough for the rate.
  std::string cookie = service.sessionCookie(device);
  size_t curlBatches = std::max<size_t>(1, blocks / 30);
  std::string config = home + "/upload.curl";
  {
    std::ofstream cfg(config);
    for (size_t b = 0; b < curlBatches; ++b) {
      std::string boundary = "------bench" + std::to_string(b);
      std::string file = home + "/batch" + std::to_string(b) + ".body";
      std::ofstream out(file, std::ios::binary);
      std::string records = "[";
      for (size_t k = 0; k < 10; ++k) {
        if (k) records += ",";
        records += "{ \"name\": \"" + blockName(blocks + b * 10 + k) + "\", \"size\": " + std::to_string(kBlock) + "}";
      }
      records += "]";
      out << "\r\n--" << boundary
          << "\r\nContent-Disposition: form-data; name=\"request\"\r\n\r\nupload_blocks_multi\r\n"
          << "--" << boundary << "\r\nContent-Disposition: form-data; name=\"guid\"\r\n\r\n"
          << device.clientId << "\r\n"
          << "--" << boundary << "\r\nContent-Disposition: form-data; name=\"blocks\"\r\n\r\n"
          << records;
      for (size_t k = 0; k < 10; ++k) {
        fill(body, blocks + b * 10 + k);
        out << "\r\n--" << boundary << "\r\nContent-Disposition: form-data; name=\"file[]\"; filename=\""
            << blockName(blocks + b * 10 + k) << "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
        out.write(reinterpret_cast<const char*>(body.data()), static_cast<std::streamsize>(body.size()));
      }
      out << "\r\n--" << boundary << "--\r\n";
      cfg << (b ? "next\n" : "") << "url = \"" << service.url() << "\"\n"
          << "header = \"Content-Type: multipart/form-data; boundary=" << boundary << "\"\n"
          << "header = \"Cookie: " << cookie << "\"\nheader = \"Expect:\"\n"
          << "data-binary = \"@" << file << "\"\noutput = \"/dev/null\"\nsilent\n";
    }
  }
  double curlUp = curlSeconds("curl -K " + config);
  std::string downloads = home + "/download.curl";
  size_t curlGets = std::max<size_t>(1, blocks / 3);
  {
    std::ofstream cfg(downloads);
    for (size_t i = 0; i < curlGets; ++i) {
      cfg << (i ? "next\n" : "") << "url = \"" << service.url() << "\"\nheader = \"Cookie: " << cookie << "\"\n"
          << "data = \"request=get_block&guid=" << device.clientId << "&checksum=" << blockName(i)
          << "&size=256000\"\noutput = \"/dev/null\"\nsilent\n";
    }
  }
  double curlDown = curlSeconds("curl -K " + downloads);
  double curlSent = static_cast<double>(curlBatches * 10) * static_cast<double>(kBlock + 16) / 1e6;
  double curlGot = static_cast<double>(curlGets) * static_cast<double>(kBlock + 16) / 1e6;

  double sent = static_cast<double>(blocks) * static_cast<double>(kBlock + 16) / 1e6;
  double raw = static_cast<double>(totalBytes) / 1e6;
  std::printf("protocol_bench: %zu blocks of %zu bytes, service %s\n", blocks, kBlock + 16,
              durable ? "durable (fsync)" : "without fsync");
  std::printf("  raw loopback upload   (curl POST)      %8.1f MB/s\n", raw / rawUp);
  std::printf("  raw loopback download (curl GET)       %8.1f MB/s\n", raw / rawDown);
  std::printf("  uploadDataBlockList                    %8.1f MB/s   %5.1f%% of raw upload\n", sent / upSeconds,
              100.0 * (sent / upSeconds) / (raw / rawUp));
  std::printf("  downloadDataBlock                      %8.1f MB/s   %5.1f%% of raw download\n", sent / downSeconds,
              100.0 * (sent / downSeconds) / (raw / rawDown));
  std::printf("  curl, same batches to the service      %8.1f MB/s   client at %5.1f%% of it\n", curlSent / curlUp,
              100.0 * (sent / upSeconds) / (curlSent / curlUp));
  std::printf("  curl, same block downloads             %8.1f MB/s   client at %5.1f%% of it\n", curlGot / curlDown,
              100.0 * (sent / downSeconds) / (curlGot / curlDown));
  service.stop();
  std::filesystem::remove_all(home);
  return 0;
}
