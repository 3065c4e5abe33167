// Delta members read by the tools: found by name, their headers read, and
// applied by the updater's own applier (src/archive/delta.cpp); the bases
// of deltas looked for in a folder tree.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fa2/lib/toolkit.h"
#include "fa2/lib/update_checks.h"
#include "update/update.h"

namespace fa2 {

namespace {


// The base read through the applier's fetch: a file, or zeros.
struct BaseRead {
  const ByteSource* source;
};
int FetchBase(void* context, uint64_t offset, uint8_t* to, uint32_t count) {
  const BaseRead* base = static_cast<const BaseRead*>(context);
  if (base->source) return base->source->Read(offset, to, count) ? 1 : 0;
  std::memset(to, 0, count);
  return 1;
}

// The applier's result, digested and handed on.
struct ResultSink {
  Sha256Context* sha;
  const PieceSink* sink;
  bool digestOk = true, refused = false;
};
int TakeResult(void* context, const uint8_t* bytes, uint32_t count) {
  ResultSink* r = static_cast<ResultSink*>(context);
  if (r->sha && !UpdateSha256(r->sha, bytes, count)) r->digestOk = false;
  if (*r->sink && !(*r->sink)(bytes, count)) {
    r->refused = true;
    return 0;
  }
  return 1;
}

std::string StatusText(DeltaStatus status) {
  switch (status) {
    case DeltaStatus::Damaged:
      return "the delta is damaged (not a delta's header, an instruction outside the base or past the result's "
             "size, or a result of another size)";
    case DeltaStatus::BaseFailed: return "the base cannot be read";
    default: return "the delta ends before its result is complete";
  }
}

} // namespace

bool IsDeltaName(const std::string& name, std::string* target) {
  if (name.size() <= kDeltaPrefixLength || UpperAscii(name.substr(0, kDeltaPrefixLength)) != UpperAscii(kDeltaPrefix))
    return false;
  if (target) *target = name.substr(kDeltaPrefixLength);
  return true;
}

bool FindDeltaMembers(const ByteSource& archive, const ParsedArchive& parsed, std::vector<DeltaMember>& out,
                      std::string& error) {
  out.clear();
  for (size_t i = 0; i < parsed.entries.size(); ++i) {
    DeltaMember d;
    if (IsDigestTable(parsed, i) || !IsDeltaName(EntryName(parsed.entries[i]), &d.target)) continue;
    // The updater finds the first entry of a name, ignoring case.
    bool earlier = false;
    const std::string name = EntryName(parsed.entries[i]);
    for (size_t k = 0; k < i && !earlier; ++k) earlier = EntryHasName(parsed.entries[k], name.c_str());
    if (earlier) continue;
    d.index = i;
    for (size_t k = 0; k < parsed.entries.size() && d.full < 0; ++k)
      if (!IsDigestTable(parsed, k) && EntryHasName(parsed.entries[k], d.target.c_str())) d.full = int64_t(k);
    uint8_t head[kDeltaHeaderSize];
    uint32_t have = 0;
    std::string why;
    StreamMember(
        archive, parsed, i,
        [&](const uint8_t* p, size_t n) {
          const size_t take = std::min<size_t>(n, kDeltaHeaderSize - have);
          std::memcpy(head + have, p, take);
          have += uint32_t(take);
          return have < kDeltaHeaderSize;
        },
        why);
    if (have < kDeltaHeaderSize || !ParseDeltaHeader(head, have, &d.header)) {
      error = "member " + std::to_string(i) + " (" + Cp932ToLocal(name) +
              "): " + (have < kDeltaHeaderSize && !why.empty() ? why : "does not start with a delta's header");
      return false;
    }
    out.push_back(d);
  }
  return true;
}

bool ApplyDeltaMember(const ByteSource& archive, const ParsedArchive& parsed, const DeltaMember& delta,
                      const ByteSource* base, const PieceSink& sink, std::string& error) {
  Bytes workspace(kDeltaWorkspace);
  BaseRead read{base};
  ResultSink result{base ? BeginSha256() : nullptr, &sink};
  if (base && !result.sha) {
    error = "SHA-256 cannot be computed";
    return false;
  }
  DeltaApplier applier;
  OpenDeltaApplier(&applier, FetchBase, &read, TakeResult, &result, workspace.data());
  DeltaStatus status = DeltaStatus::More;
  const bool streamed = StreamMember(
      archive, parsed, delta.index,
      [&](const uint8_t* p, size_t n) {
        status = FeedDelta(&applier, p, uint32_t(n));
        return status == DeltaStatus::More;
      },
      error);
  if (streamed) status = FinishDelta(&applier);
  Digest digest{};
  const bool digested = result.sha && FinishSha256(result.sha, digest) && result.digestOk;
  if (result.refused) return false; // the sink's own error
  if (!streamed && status == DeltaStatus::More) return false;
  if (status != DeltaStatus::Done) {
    error = StatusText(status);
    return false;
  }
  if (base && !digested) {
    error = "SHA-256 cannot be computed";
    return false;
  }
  if (base && std::memcmp(digest.data(), delta.header.resultDigest, kDigestSize) != 0) {
    error = "the result does not match the SHA-256 the delta names (" +
            DescribeFile(delta.header.resultSize, delta.header.resultDigest) + ")";
    return false;
  }
  return true;
}

std::string DescribeFile(uint32_t size, const uint8_t* digest, size_t digits) {
  Digest d;
  std::memcpy(d.data(), digest, d.size());
  return std::to_string(size) + " bytes, sha256 " + HexDigest(d).substr(0, digits);
}

bool BaseFinder::Open(const std::string& folder, std::string& error) {
  files_.clear();
  UpdateFolder scanned;
  if (!ScanUpdateFolder(folder, scanned, error)) return false;
  // A file whose name has no code page 932 form is no game's file.
  for (const FolderFile& file : scanned.files) {
    File f;
    f.path = file.localPath;
    f.upperName = UpperAscii(file.relative.substr(size_t(BaseNameOffset(file.relative.c_str()))));
    f.size = file.size;
    files_.push_back(f);
  }
  return true;
}

std::string BaseFinder::Find(const DeltaHeader& header, const std::string& name) {
  const std::string wanted = UpperAscii(name);
  for (int pass = 0; pass < 2; ++pass) {
    for (File& f : files_) {
      if (f.size != header.baseSize || (f.upperName == wanted) != (pass == 0)) continue;
      if (f.digested == 0) {
        std::string ignored;
        f.digested = FileSha256(f.path, f.digest, ignored) ? 1 : -1;
      }
      if (f.digested == 1 && std::memcmp(f.digest.data(), header.baseDigest, kDigestSize) == 0) return f.path;
    }
  }
  return "";
}

} // namespace fa2
