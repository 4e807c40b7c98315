// Blocks, kept apart per account: each account encrypts with its own key,
// so a block is the same bytes only within one account. Deduplication
// happens there and never across accounts; no account can see, fetch or
// pre-empt another's blocks.
//
// Layout: <data>/accounts/<account id>/blocks/<fan>/<name> (BlobStore).
//
// An older service kept every account's blocks together under
// <data>/blocks. That folder is left as it was and stays readable ("get_block"
// only) for the accounts that existed when it was first found, so their
// backups still restore; it is never written, and "check_block" does not
// count it, so those accounts upload a block again into their own store.
//
// Thread contract: every member is safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "BlobStore.h"

namespace palvero::service {

class AccountBlocks {
 public:
  // `legacyUpTo`: accounts with an id up to this may read the older shared
  // folder (0: none).
  AccountBlocks(std::string dataDir, std::string tmpDir, bool durable, int64_t legacyUpTo);

  // The account's own store (made on first use).
  BlobStore of(int64_t accountId) const;
  // The older shared store when the account may read it, else nothing.
  std::optional<BlobStore> legacyFor(int64_t accountId) const;
  // The folder of the older shared store.
  static std::string legacyRoot(const std::string& dataDir);

 private:
  const std::string dataDir_;
  const std::string tmpDir_;
  const bool durable_;
  const int64_t legacyUpTo_;
};

}  // namespace palvero::service
