// Writes an FA2 archive (layout described in src/archive/layout.cpp) member
// by member through fixed buffers.
// Format: docs/formats.md, "The archive".
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "codec/encoder.h"
#include "fa2/lib/toolkit.h"

namespace fa2 {

namespace {

constexpr size_t kPiece = size_t(1) << 20;    // input read and scrambled this much at a time
constexpr uint64_t kMaxArchive = 0xFFFFFFFFu; // offsets are 32-bit

void PutU32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (8 * i));
}

bool Pad(ByteOutput& out) {
  static const uint8_t kZeros[16] = {};
  return out.Append(kZeros, size_t(RoundUp16(out.Size()) - out.Size()));
}

// Scrambles `size` stored bytes at `start` in place, a piece at a time.
bool ScrambleInPlace(ByteOutput& out, uint64_t start, uint32_t size) {
  Bytes piece(std::min<size_t>(size, kPiece));
  for (uint32_t at = 0; at < size;) {
    const uint32_t n = uint32_t(std::min<uint64_t>(size - at, piece.size()));
    if (!out.ReadBack(start + at, piece.data(), n)) return false;
    ScramblePiece(piece.data(), at, n, size);
    if (!out.Overwrite(start + at, piece.data(), n)) return false;
    at += n;
  }
  return true;
}

} // namespace

ArchiveWriter::ArchiveWriter(ByteOutput& out, const PackOptions& options)
    : out_(out), options_(options), digestsOk_(options.digests) {
  const uint8_t header[kHeaderSize] = {};
  out_.Append(header, sizeof header);
}

// The member's bytes go to the output encoded; as soon as the stream is no
// smaller than the plain bytes the encoding stops, and the plain bytes read
// so far are copied in its place and the rest follow plain.
bool ArchiveWriter::WriteStored(const PackMember& member, const ByteSource& source, ArchiveEntry& entry, Digest& digest,
                                std::string& error) {
  const uint64_t start = out_.Size(), size = source.Size();
  const std::string what = member.path.empty() ? Cp932ToLocal(member.name) : member.path;
  bool encoding = member.compress && size > 0, gaveUp = false, writeOk = true;
  std::unique_ptr<StreamEncoder> encoder;
  if (encoding)
    encoder = std::make_unique<StreamEncoder>(
        options_.level,
        [&](const uint8_t* p, size_t n) {
          if (gaveUp) return;
          if (out_.Size() - start + n >= size)
            gaveUp = true;
          else
            writeOk = writeOk && out_.Append(p, n);
        },
        options_.threads);
  Sha256Context* sha = digestsOk_ ? BeginSha256() : nullptr;
  digestsOk_ = sha != nullptr;
  Bytes piece(size_t(std::min<uint64_t>(size, kPiece)));
  auto fail = [&](const std::string& message) {
    if (sha) FinishSha256(sha, digest);
    error = message;
    return false;
  };
  auto writePlainFromStart = [&](uint64_t upTo) {
    encoder.reset();
    encoding = false;
    return out_.Truncate(start) && CopyBytes(source, 0, upTo, out_);
  };
  for (uint64_t at = 0; at < size;) {
    const size_t n = size_t(std::min<uint64_t>(size - at, piece.size()));
    errno = 0;
    if (!source.Read(at, piece.data(), n)) return fail("cannot read " + what + " (" + ReadFailureReason() + ")");
    if (sha && !UpdateSha256(sha, piece.data(), n)) digestsOk_ = false;
    if (encoding) {
      encoder->Write(piece.data(), n);
      if (gaveUp && !writePlainFromStart(at + n)) return fail(out_.Error());
    } else if (!out_.Append(piece.data(), n)) {
      return fail(out_.Error());
    }
    at += n;
    if (options_.progress) options_.progress(entries_.size(), stats_.bytesIn + at);
  }
  if (encoding) {
    encoder->Finish();
    if (gaveUp && !writePlainFromStart(size)) return fail(out_.Error());
  }
  if (!writeOk) return fail(out_.Error());
  if (sha && !FinishSha256(sha, digest)) digestsOk_ = false;
  const uint64_t stored = out_.Size() - start;
  if (encoding)
    entry.storageFlags = kMemberCompressed;
  else if (member.compress)
    ++stats_.storedPlain;
  entry.storedSize = uint32_t(stored);
  if (member.scramble) {
    if (!ScrambleInPlace(out_, start, entry.storedSize)) {
      error = out_.Error();
      return false;
    }
    entry.scrambleMarker = kScrambled;
  }
  return true;
}

bool ArchiveWriter::Add(const PackMember& member, std::string& error) {
  FileSource file;
  MemorySource memory(member.data.data(), member.data.size());
  if (!member.path.empty() && !file.Open(member.path, error)) return false;
  return Add(member, member.path.empty() ? static_cast<const ByteSource&>(memory) : file, error);
}

bool ArchiveWriter::Add(const PackMember& member, const ByteSource& source, std::string& error) {
  const std::string what = member.path.empty() ? Cp932ToLocal(member.name) : member.path;
  if (source.Size() > kMaxMemberSize) {
    error = what + ": larger than 4 GiB";
    return false;
  }
  if (options_.progress) options_.progress(entries_.size(), stats_.bytesIn);
  ArchiveEntry entry;
  std::memset(&entry, 0, sizeof entry);
  std::memcpy(entry.name, member.name.data(), std::min<size_t>(member.name.size(), kNameCapacity - 1));
  entry.timeStamp = member.time;
  entry.uncompressedSize = uint32_t(source.Size());
  Digest digest{};
  const uint32_t plainBefore = stats_.storedPlain;
  if (!WriteStored(member, source, entry, digest, error)) return false;
  if (!Pad(out_)) {
    error = out_.Error();
    return false;
  }
  if (out_.Size() > kMaxArchive) {
    error = what + ": the archive would pass 4 GiB, more than its 32-bit offsets reach";
    return false;
  }
  stats_.bytesIn += source.Size();
  stats_.bytesStored += entry.storedSize;
  entries_.push_back(entry);
  digests_.push_back(digest);
  keptPlain_.push_back(stats_.storedPlain != plainBefore);
  return true;
}

// Members are padded to 16 bytes from the archive's start, so the last one
// begins its rounded stored size before the end.
bool ArchiveWriter::RemoveLast(std::string& error) {
  const ArchiveEntry& last = entries_.back();
  if (!out_.Truncate(out_.Size() - RoundUp16(last.storedSize))) {
    error = out_.Error();
    return false;
  }
  stats_.bytesIn -= last.uncompressedSize;
  stats_.bytesStored -= last.storedSize;
  stats_.storedPlain -= keptPlain_.back() ? 1 : 0;
  entries_.pop_back();
  digests_.pop_back();
  keptPlain_.pop_back();
  return true;
}

bool ArchiveWriter::LastDigest(Digest& out) const {
  if (!digestsOk_ || digests_.empty()) return false;
  out = digests_.back();
  return true;
}

bool ArchiveWriter::Finish(std::string& error) {
  if (options_.progress) options_.progress(entries_.size(), stats_.bytesIn);
  if (digestsOk_) {
    // The digest table (see kDigestMemberName): one slot per member and
    // one, zero, for itself.
    const uint32_t count = uint32_t(entries_.size() + 1);
    Bytes table(size_t(DigestTableSize(count)), 0);
    std::memcpy(table.data(), "FA2SHA2", 8);
    PutU32(table.data() + 8, count);
    for (size_t i = 0; i < digests_.size(); ++i)
      std::memcpy(table.data() + kDigestTableHeader + i * kDigestSize, digests_[i].data(), kDigestSize);
    ArchiveEntry entry;
    std::memset(&entry, 0, sizeof entry);
    std::memcpy(entry.name, kDigestMemberName, sizeof kDigestMemberName);
    for (const ArchiveEntry& e : entries_) // the newest member's time: builds stay reproducible
      if (FileTimeValue(e.timeStamp) > FileTimeValue(entry.timeStamp)) entry.timeStamp = e.timeStamp;
    entry.uncompressedSize = entry.storedSize = uint32_t(table.size());
    if (!out_.Append(table.data(), table.size()) || !Pad(out_)) {
      error = out_.Error();
      return false;
    }
    entries_.push_back(entry);
  }
  const uint64_t directoryOffset = out_.Size();
  Bytes directory(entries_.size() * kEntrySize);
  if (!entries_.empty()) std::memcpy(directory.data(), entries_.data(), directory.size());
  uint32_t flags = 0;
  if (options_.compressDirectory) {
    directory = CompressStream(directory.data(), directory.size(), options_.level);
    flags |= kDirectoryCompressed;
  }
  if (options_.scrambleDirectory) {
    ScrambleBuffer(directory.data(), uint32_t(directory.size()));
    flags |= kDirectoryScrambled;
  }
  if (directoryOffset + directory.size() > kMaxArchive) {
    error = "the archive would pass 4 GiB, more than its 32-bit offsets reach";
    return false;
  }
  uint8_t header[kHeaderSize];
  std::memcpy(header, "FA2", 4);
  PutU32(header + 4, flags);
  PutU32(header + 8, uint32_t(directoryOffset));
  PutU32(header + 12, uint32_t(entries_.size()));
  if (!out_.Append(directory.data(), directory.size()) || !out_.Overwrite(0, header, sizeof header)) {
    error = out_.Error();
    return false;
  }
  return true;
}

Bytes BuildArchive(const std::vector<PackMember>& members, const PackOptions& options, PackStats* stats) {
  Bytes archive;
  MemoryOutput out(archive);
  ArchiveWriter writer(out, options);
  std::string error;
  for (const PackMember& member : members) writer.Add(member, error);
  writer.Finish(error);
  if (stats) *stats = writer.Stats();
  return archive;
}

} // namespace fa2
