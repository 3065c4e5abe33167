// SHA-256 for the tools, from well-kept implementations: OpenSSL's libcrypto
// on Linux, the system's BCrypt on Windows (as the updater itself).
#include "fa2/lib/toolkit.h"

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

namespace fa2 {

bool Sha256(const uint8_t* data, size_t size, Digest& out) {
#ifdef _WIN32
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return false;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0;
  while (ok && size) {
    const ULONG chunk = size > 0x40000000u ? 0x40000000u : ULONG(size);
    ok = BCryptHashData(hash, const_cast<PUCHAR>(data), chunk, 0) == 0;
    data += chunk;
    size -= chunk;
  }
  if (ok) ok = BCryptFinishHash(hash, out.data(), ULONG(out.size()), 0) == 0;
  if (hash) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return ok;
#else
  unsigned int length = 0;
  return EVP_Digest(data, size, out.data(), &length, EVP_sha256(), nullptr) == 1 && length == out.size();
#endif
}

std::string HexDigest(const Digest& digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : digest) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

}  // namespace fa2
