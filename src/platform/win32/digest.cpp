// SHA-256 by the system's cryptography primitives (BCrypt, Windows Vista and
// later): no digest code of our own in the updater.
#include "platform/win32/system.h"

#include <bcrypt.h>

int DigestSha256(const void* data, size_t size, uint8_t out[32]) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return 0;
  BCRYPT_HASH_HANDLE hash = nullptr;
  int ok = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0;
  // One call takes at most 4 GiB - 1 bytes; a member is never larger.
  const auto* bytes = static_cast<const UCHAR*>(data);
  while (ok && size) {
    const ULONG chunk = size > 0x40000000u ? 0x40000000u : ULONG(size);
    ok = BCryptHashData(hash, const_cast<PUCHAR>(bytes), chunk, 0) == 0;
    bytes += chunk;
    size -= chunk;
  }
  if (ok) ok = BCryptFinishHash(hash, out, 32, 0) == 0;
  if (hash) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return ok;
}
