#include "AccountBlocks.h"

#include <sys/stat.h>

namespace palvero::service {

AccountBlocks::AccountBlocks(std::string dataDir, std::string tmpDir, bool durable, int64_t legacyUpTo)
    : dataDir_(std::move(dataDir)), tmpDir_(std::move(tmpDir)), durable_(durable), legacyUpTo_(legacyUpTo) {}

BlobStore AccountBlocks::of(int64_t accountId) const {
  return BlobStore(dataDir_ + "/accounts/" + std::to_string(accountId) + "/blocks", tmpDir_, durable_);
}

std::optional<BlobStore> AccountBlocks::legacyFor(int64_t accountId) const {
  if (accountId <= 0 || accountId > legacyUpTo_) return std::nullopt;
  struct stat st {};
  std::string root = legacyRoot(dataDir_);
  if (::stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  return BlobStore(root, tmpDir_, durable_);
}

std::string AccountBlocks::legacyRoot(const std::string& dataDir) { return dataDir + "/blocks"; }

}  // namespace palvero::service
