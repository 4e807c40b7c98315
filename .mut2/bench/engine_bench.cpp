// Block engine throughput against the raw primitives, in one run:
//   (a) SHA-256 + MD5 over a 256,000-byte buffer (EVP, reused contexts)
//   (b) BlockCutter::CreateBlocksList over a 1 GB file in the page cache
//   (c) deflate level 6 + CRC-32 + AES-256-CBC of a 256,000-byte block
//   (d) Compressor::CompressPackageStream + Security::EncryptStream of it
// each for compressible text and random bytes. Prints MB/s and the ratios
// (b)/(a) and (d)/(c) at the end.
//
//   engine_bench [--benchmark_...]   (PALVERO_BENCH_DIR: where the 1 GB files go, default /tmp)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "engine/format/BlockCutter.h"
#include "engine/format/CipherKey.h"
#include "engine/format/Compressor.h"
#include "engine/format/Security.h"

namespace {

using palvero::Bytes;

constexpr size_t kBlock = 256000;
constexpr int64_t kFileSize = 1000000000;
const char* const kCipher = "Kx9!pQ2#zL7@mN4$wR8%tY1^uI6&oP3*";

Bytes makeData(bool text, size_t size, uint64_t seed) {
  std::mt19937_64 rng(seed);
  Bytes out;
  out.reserve(size);
  if (!text) {
    while (out.size() < size) {
      uint64_t v = rng();
      for (int k = 0; k < 8 && out.size() < size; ++k) out.push_back(static_cast<uint8_t>(v >> (8 * k)));
    }
    return out;
  }
  static const char* const kWords[] = {"backup ", "block ",  "version ", "restore ", "the ",   "of ",
                                       "file ",   "server ", "archive ", "and ",     "data\n", "palvero "};
  while (out.size() < size) {
    for (const char* p = kWords[rng() % 12]; *p && out.size() < size; ++p) out.push_back(static_cast<uint8_t>(*p));
  }
  return out;
}

const Bytes& block(bool text) {
  static const Bytes textBlock = makeData(true, kBlock, 1);
  static const Bytes randomBlock = makeData(false, kBlock, 2);
  return text ? textBlock : randomBlock;
}

std::string benchDir() {
  static const std::string dir = [] {
    const char* base = std::getenv("PALVERO_BENCH_DIR");
    std::string pattern = std::string(base ? base : "/tmp") + "/palvero-bench-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) std::abort();
    return std::string(buffer.data());
  }();
  return dir;
}

// A 1 GB file of the kind, written once and read once so that it sits in the
// page cache.
const std::string& bigFile(bool text) {
  static std::map<bool, std::string> files;
  auto it = files.find(text);
  if (it != files.end()) return it->second;
  std::string path = benchDir() + (text ? "/text.bin" : "/random.bin");
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const size_t chunk = 8 * 1024 * 1024;
  for (int64_t done = 0, i = 0; done < kFileSize; ++i) {
    Bytes data = makeData(text, static_cast<size_t>(std::min<int64_t>(chunk, kFileSize - done)), 100 + i);
    if (::write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) std::abort();
    done += static_cast<int64_t>(data.size());
  }
  ::close(fd);
  fd = ::open(path.c_str(), O_RDONLY);
  Bytes sink(chunk);
  while (::read(fd, sink.data(), sink.size()) > 0) {
  }
  ::close(fd);
  return files[text] = path;
}

// (a)
void BM_RawSha256Md5(benchmark::State& state, bool text) {
  const Bytes& data = block(text);
  EVP_MD* sha = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  EVP_MD* md5 = EVP_MD_fetch(nullptr, "MD5", nullptr);
  EVP_MD_CTX* a = EVP_MD_CTX_new();
  EVP_MD_CTX* b = EVP_MD_CTX_new();
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  for (auto _ : state) {
    EVP_DigestInit_ex2(a, sha, nullptr);
    EVP_DigestUpdate(a, data.data(), data.size());
    EVP_DigestFinal_ex(a, out, &n);
    benchmark::DoNotOptimize(out);
    EVP_DigestInit_ex2(b, md5, nullptr);
    EVP_DigestUpdate(b, data.data(), data.size());
    EVP_DigestFinal_ex(b, out, &n);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
  EVP_MD_CTX_free(a);
  EVP_MD_CTX_free(b);
  EVP_MD_free(sha);
  EVP_MD_free(md5);
}

// (b)
void BM_CreateBlocksList(benchmark::State& state, bool text) {
  const std::string& path = bigFile(text);
  palvero::BlockCutter cutter;
  size_t blocks = 0;
  for (auto _ : state) {
    auto list = cutter.CreateBlocksList(kFileSize, path);
    if (!list) state.SkipWithError("cutting failed");
    blocks = list ? list->size() : 0;
    benchmark::DoNotOptimize(list);
  }
  state.counters["blocks"] = static_cast<double>(blocks);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFileSize);
}

// (c)
void BM_RawDeflateCrcAes(benchmark::State& state, bool text) {
  const Bytes& data = block(text);
  auto key = palvero::CipherKey::derive(kCipher);
  EVP_CIPHER* aes = EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr);
  Bytes deflated(compressBound(static_cast<uLong>(data.size())) + 64);
  Bytes encrypted(deflated.size() + 16);
  size_t outSize = 0;
  for (auto _ : state) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = deflated.data();
    z.avail_out = static_cast<uInt>(deflated.size());
    deflate(&z, Z_FINISH);
    size_t packed = z.total_out;
    deflateEnd(&z);
    benchmark::DoNotOptimize(crc32(0, data.data(), static_cast<uInt>(data.size())));
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int n1 = 0;
    int n2 = 0;
    EVP_EncryptInit_ex2(ctx, aes, key->key.data(), key->iv.data(), nullptr);
    EVP_EncryptUpdate(ctx, encrypted.data(), &n1, deflated.data(), static_cast<int>(packed));
    EVP_EncryptFinal_ex(ctx, encrypted.data() + n1, &n2);
    EVP_CIPHER_CTX_free(ctx);
    outSize = static_cast<size_t>(n1 + n2);
    benchmark::DoNotOptimize(encrypted.data());
  }
  state.counters["out_bytes"] = static_cast<double>(outSize);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
  EVP_CIPHER_free(aes);
}

// (d)
void BM_PackEncrypt(benchmark::State& state, bool text) {
  const Bytes& data = block(text);
  palvero::Compressor compressor;
  palvero::Security security;
  std::string name = palvero::BlockCutter::sha256StringFromData(data);
  size_t outSize = 0;
  for (auto _ : state) {
    Bytes packed;
    std::string errorText;
    int32_t errorType = 0;
    if (!compressor.CompressPackageStream(data, packed, name, "Octet", errorText, errorType, "b0") ||
        !security.EncryptStream(packed, kCipher)) {
      state.SkipWithError("pack or encrypt failed");
      break;
    }
    outSize = packed.size();
    benchmark::DoNotOptimize(packed.data());
  }
  state.counters["out_bytes"] = static_cast<double>(outSize);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}

BENCHMARK_CAPTURE(BM_RawSha256Md5, text, true)->MinTime(1.0);
BENCHMARK_CAPTURE(BM_RawSha256Md5, random, false)->MinTime(1.0);
BENCHMARK_CAPTURE(BM_CreateBlocksList, text, true)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CreateBlocksList, random, false)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RawDeflateCrcAes, text, true)->MinTime(1.0);
BENCHMARK_CAPTURE(BM_RawDeflateCrcAes, random, false)->MinTime(1.0);
BENCHMARK_CAPTURE(BM_PackEncrypt, text, true)->MinTime(1.0);
BENCHMARK_CAPTURE(BM_PackEncrypt, random, false)->MinTime(1.0);

// Prints as usual and keeps each run's bytes per second for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      auto it = run.counters.find("bytes_per_second");
      if (it != run.counters.end()) rates[run.run_name.function_name] = it->second.value;
    }
  }
  std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
  // Keep the cutter's log lines out of the user's real support folder.
  std::string home = benchDir();
  ::setenv("HOME", home.c_str(), 1);
  ::setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
  ::setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);

  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n%-8s %12s %12s %8s   %12s %12s %8s\n", "data", "(a) MB/s", "(b) MB/s", "(b)/(a)", "(c) MB/s",
              "(d) MB/s", "(d)/(c)");
  for (const char* kind : {"text", "random"}) {
    auto rate = [&](const std::string& name) {
      auto it = reporter.rates.find(name + "/" + kind);
      return it == reporter.rates.end() ? 0.0 : it->second / 1e6;
    };
    double a = rate("BM_RawSha256Md5");
    double b = rate("BM_CreateBlocksList");
    double c = rate("BM_RawDeflateCrcAes");
    double d = rate("BM_PackEncrypt");
    std::printf("%-8s %12.1f %12.1f %8.3f   %12.1f %12.1f %8.3f\n", kind, a, b, a > 0 ? b / a : 0.0, c, d,
                c > 0 ? d / c : 0.0);
  }
  benchmark::Shutdown();
  std::filesystem::remove_all(home);
  return 0;
}
