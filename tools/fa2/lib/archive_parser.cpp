// A checked reading of a whole archive for the tools.
#include <cstring>

#include "fa2/lib/toolkit.h"

namespace fa2 {

namespace {

// Why CheckArchiveHeader refused the header: a directory that starts or, in
// plain form, ends past the archive's end is an archive cut short (or a
// damaged header; the bytes cannot tell which).
std::string HeaderMisfit(const ArchiveHeader& h, size_t size) {
  const std::string have = " but the archive has " + std::to_string(size) + " bytes";
  if (h.directoryOffset < kHeaderSize)
    return "damaged header: the directory offset " + std::to_string(h.directoryOffset) + " lies inside the header";
  if (h.directoryOffset > size)
    return "cut short: the directory starts at byte " + std::to_string(h.directoryOffset) + have;
  const uint64_t end = h.directoryOffset + uint64_t(h.entryCount) * kEntrySize;
  if (!(h.flags & kDirectoryCompressed))
    return "cut short: the directory of " + std::to_string(h.entryCount) + " entries ends at byte " +
           std::to_string(end) + have;
  return "the compressed directory (" + std::to_string(size - h.directoryOffset) + " bytes from byte " +
         std::to_string(h.directoryOffset) + ") cannot hold " + std::to_string(h.entryCount) + " entries";
}

// Stored bytes of a member fetched from a source, for the member reader.
struct Fetch {
  const ByteSource* source;
  uint64_t offset;
};
int FetchFromSource(void* context, uint64_t offset, uint8_t* to, uint32_t count) {
  const Fetch* f = static_cast<const Fetch*>(context);
  return f->source->Read(f->offset + offset, to, count) ? 1 : 0;
}

// A compressed directory is one stream: however it was made, it is at most
// this many bytes for its decoded size (every code takes at least as many
// bits per byte it stands for as a literal, plus the control words).
uint64_t LongestStream(uint64_t decoded) { return decoded + decoded / 8 + 16; }

} // namespace

bool ParseArchive(const ByteSource& archive, ParsedArchive& out, std::string& error) {
  const uint64_t size = archive.Size();
  if (size > 0xFFFFFFFFu) {
    error = "archive larger than 4 GiB";
    return false;
  }
  uint8_t head[kHeaderSize];
  if (size < kHeaderSize || !archive.Read(0, head, kHeaderSize) || std::memcmp(head, "FA2", 4) != 0) {
    error = "not an FA2 archive (no \"FA2\" header)";
    return false;
  }
  if (!CheckArchiveHeader(head, uint32_t(size), &out.header)) {
    error = HeaderMisfit(out.header, size_t(size));
    return false;
  }
  const ArchiveHeader& h = out.header;
  const uint64_t decoded = uint64_t(h.entryCount) * kEntrySize;
  out.entries.assign(h.entryCount, ArchiveEntry{});
  uint8_t* entries = reinterpret_cast<uint8_t*>(out.entries.data());
  bool ok;
  if (h.flags & kDirectoryCompressed) {
    // Only as much of the tail as a stream can take; the scramble is keyed
    // by the whole tail.
    const uint64_t tail = size - h.directoryOffset;
    Bytes stored(size_t(std::min(tail, (LongestStream(decoded) + 3) & ~uint64_t(3))));
    ok = archive.Read(h.directoryOffset, stored.data(), stored.size());
    if (ok && (h.flags & kDirectoryScrambled)) ScramblePiece(stored.data(), 0, uint32_t(stored.size()), uint32_t(tail));
    ok = ok && DecompressStreamBounded(entries, size_t(decoded), stored.data(), stored.size());
  } else {
    ok = archive.Read(h.directoryOffset, entries, size_t(decoded));
    if (ok && (h.flags & kDirectoryScrambled)) ScrambleBuffer(entries, uint32_t(decoded));
  }
  if (!ok) {
    error = "the compressed directory does not decode to " + std::to_string(h.entryCount) + " entries";
    return false;
  }
  out.offsets.clear();
  uint64_t offset = kHeaderSize;
  for (const ArchiveEntry& entry : out.entries) {
    out.offsets.push_back(offset);
    offset += RoundUp16(entry.storedSize);
  }
  // The digest table, when there is one, found by the updater's own lookup.
  out.digestIndex = -1;
  out.digests.clear();
  uint32_t index = 0;
  uint64_t at = 0;
  const DigestTable found = LocateDigestTable(h, out.entries.data(), &index, &at);
  if (found == DigestTable::Absent) return true;
  Bytes table;
  if (found == DigestTable::Present) {
    table.resize(out.entries[index].storedSize);
    if (!archive.Read(at, table.data(), table.size())) table.clear();
  }
  if (table.empty() || !DigestTableValid(table.data(), table.size(), h.entryCount)) {
    error = "the digest table (member " + std::to_string(index) + ") is damaged";
    return false;
  }
  out.digestIndex = int64_t(index);
  out.digests.resize(out.entries.size());
  for (size_t k = 0; k < out.entries.size(); ++k)
    std::memcpy(out.digests[k].data(), table.data() + kDigestTableHeader + k * kDigestSize, kDigestSize);
  return true;
}

bool ParseArchive(const uint8_t* base, size_t size, ParsedArchive& out, std::string& error) {
  return ParseArchive(MemorySource(base, size), out, error);
}

bool StreamMember(const ByteSource& archive, const ParsedArchive& parsed, size_t index, const PieceSink& sink,
                  std::string& error) {
  const ArchiveEntry& entry = parsed.entries[index];
  const std::string member = "member " + std::to_string(index);
  if (!MemberReadable(entry, parsed.offsets[index], parsed.header.directoryOffset)) {
    error = member + ": stored bytes or name outside their bounds";
    return false;
  }
  // A stream cannot expand more than about 91 times (a 282-byte match costs
  // 25 bits): a larger stated size is damage.
  if ((entry.storageFlags & kMemberCompressed) &&
      uint64_t(entry.uncompressedSize) > uint64_t(entry.storedSize) * 96 + 16) {
    error = member + ": stated size " + std::to_string(entry.uncompressedSize) + " is more than its " +
            std::to_string(entry.storedSize) + " stored bytes can decode to";
    return false;
  }
  const bool check = parsed.digestIndex >= 0 && int64_t(index) != parsed.digestIndex;
  Sha256Context* sha = check ? BeginSha256() : nullptr;
  if (check && !sha) {
    error = member + ": SHA-256 cannot be computed";
    return false;
  }
  Bytes workspace(kMemberReaderWorkspace);
  Fetch fetch{&archive, parsed.offsets[index]};
  MemberReader reader;
  OpenMemberReader(&reader, entry, FetchFromSource, &fetch, workspace.data());
  Digest digest{};
  auto stop = [&](const std::string& why) {
    if (sha) FinishSha256(sha, digest);
    if (!why.empty()) error = why;
    return false;
  };
  for (;;) {
    const uint8_t* bytes = nullptr;
    uint32_t count = 0;
    const PieceStatus status = NextMemberPiece(&reader, &bytes, &count);
    if (status == PieceStatus::End) break;
    if (status == PieceStatus::Damaged) {
      if (!(entry.storageFlags & kMemberCompressed)) return stop(member + ": stored bytes cannot be read");
      // The stream either ends early or, having produced its stated size,
      // goes on (or runs out of input) without reaching its end code.
      const uint64_t produced = reader.handedOut + (reader.window.outPos - reader.pending);
      return stop(member + ": compressed stream is damaged: " +
                  (produced < entry.uncompressedSize
                       ? "it breaks off after " + std::to_string(produced) + " of its " +
                             std::to_string(entry.uncompressedSize) + " bytes"
                       : "it does not end after its " + std::to_string(entry.uncompressedSize) + " bytes"));
    }
    if (sha && !UpdateSha256(sha, bytes, count)) return stop(member + ": SHA-256 cannot be computed");
    if (!sink(bytes, count)) return stop("");
  }
  if (!sha) return true;
  if (!FinishSha256(sha, digest)) {
    error = member + ": SHA-256 cannot be computed";
    return false;
  }
  if (digest != parsed.digests[index]) {
    error = member + ": content does not match its SHA-256 (" + HexDigest(parsed.digests[index]) + ")";
    return false;
  }
  return true;
}

bool ReadMember(const uint8_t* base, const ParsedArchive& archive, size_t index, Bytes& out, std::string& error) {
  out.clear();
  return StreamMember(
      MemorySource(base, archive.header.directoryOffset), archive, index,
      [&](const uint8_t* p, size_t n) {
        out.insert(out.end(), p, p + n);
        return true;
      },
      error);
}

} // namespace fa2
