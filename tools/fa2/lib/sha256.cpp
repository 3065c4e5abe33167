// SHA-256 for the tools, from well-kept implementations: OpenSSL's libcrypto
// on Linux, the system's BCrypt on Windows (as the updater itself).
#include <algorithm>
#include <cerrno>

#include "fa2/lib/toolkit.h"

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

namespace fa2 {

#ifdef _WIN32
struct Sha256Context {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
};

Sha256Context* BeginSha256() {
  auto* c = new Sha256Context;
  if (BCryptOpenAlgorithmProvider(&c->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0) {
    if (BCryptCreateHash(c->algorithm, &c->hash, nullptr, 0, nullptr, 0, 0) == 0) return c;
    BCryptCloseAlgorithmProvider(c->algorithm, 0);
  }
  delete c;
  return nullptr;
}

bool UpdateSha256(Sha256Context* c, const uint8_t* data, size_t size) {
  while (size) {
    const ULONG chunk = size > 0x40000000u ? 0x40000000u : ULONG(size);
    if (BCryptHashData(c->hash, const_cast<PUCHAR>(data), chunk, 0) != 0) return false;
    data += chunk;
    size -= chunk;
  }
  return true;
}

bool FinishSha256(Sha256Context* c, Digest& out) {
  const bool ok = BCryptFinishHash(c->hash, out.data(), ULONG(out.size()), 0) == 0;
  BCryptDestroyHash(c->hash);
  BCryptCloseAlgorithmProvider(c->algorithm, 0);
  delete c;
  return ok;
}
#else
struct Sha256Context {
  EVP_MD_CTX* context;
};

Sha256Context* BeginSha256() {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  if (context && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1) return new Sha256Context{context};
  EVP_MD_CTX_free(context);
  return nullptr;
}

bool UpdateSha256(Sha256Context* c, const uint8_t* data, size_t size) {
  return EVP_DigestUpdate(c->context, data, size) == 1;
}

bool FinishSha256(Sha256Context* c, Digest& out) {
  unsigned int length = 0;
  const bool ok = EVP_DigestFinal_ex(c->context, out.data(), &length) == 1 && length == out.size();
  EVP_MD_CTX_free(c->context);
  delete c;
  return ok;
}
#endif

std::string HexDigest(const Digest& digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : digest) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

bool FileSha256(const std::string& path, Digest& out, std::string& error) {
  FileSource file;
  if (!file.Open(path, error)) return false;
  Sha256Context* sha = BeginSha256();
  if (!sha) {
    error = path + ": SHA-256 cannot be computed";
    return false;
  }
  Bytes piece(size_t(std::min<uint64_t>(file.Size(), uint64_t(1) << 20)));
  for (uint64_t at = 0; at < file.Size();) {
    const size_t n = size_t(std::min<uint64_t>(file.Size() - at, piece.size()));
    errno = 0;
    if (!file.Read(at, piece.data(), n) || !UpdateSha256(sha, piece.data(), n)) {
      error = "cannot read " + path + " (" + ReadFailureReason() + ")";
      FinishSha256(sha, out);
      return false;
    }
    at += n;
  }
  if (FinishSha256(sha, out)) return true;
  error = path + ": SHA-256 cannot be computed";
  return false;
}

} // namespace fa2
