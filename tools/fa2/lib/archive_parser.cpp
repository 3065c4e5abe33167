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
  if (h.directoryOffset > size) return "cut short: the directory starts at byte " + std::to_string(h.directoryOffset) + have;
  const uint64_t end = h.directoryOffset + uint64_t(h.entryCount) * kEntrySize;
  if (!(h.flags & kDirectoryCompressed))
    return "cut short: the directory of " + std::to_string(h.entryCount) + " entries ends at byte " +
           std::to_string(end) + have;
  return "the compressed directory (" + std::to_string(size - h.directoryOffset) + " bytes from byte " +
         std::to_string(h.directoryOffset) + ") cannot hold " + std::to_string(h.entryCount) + " entries";
}

// A member's decoded bytes against the digest table, when there is one.
bool CheckDigest(const ParsedArchive& archive, size_t index, const Bytes& data, std::string& error) {
  if (archive.digestIndex < 0 || int64_t(index) == archive.digestIndex) return true;
  Digest digest;
  if (!Sha256(data.data(), data.size(), digest)) {
    error = "member " + std::to_string(index) + ": SHA-256 cannot be computed";
    return false;
  }
  if (digest != archive.digests[index]) {
    error = "member " + std::to_string(index) + ": content does not match its SHA-256 (" +
            HexDigest(archive.digests[index]) + ")";
    return false;
  }
  return true;
}

}  // namespace

bool ParseArchive(const uint8_t* base, size_t size, ParsedArchive& out, std::string& error) {
  if (size > 0xFFFFFFFFu) {
    error = "archive larger than 4 GiB";
    return false;
  }
  if (size < kHeaderSize || std::memcmp(base, "FA2", 4) != 0) {
    error = "not an FA2 archive (no \"FA2\" header)";
    return false;
  }
  if (!CheckArchiveHeader(base, uint32_t(size), &out.header)) {
    error = HeaderMisfit(out.header, size);
    return false;
  }
  out.entries.assign(out.header.entryCount, ArchiveEntry{});
  Bytes working(DirectoryWorkingSize(out.header, uint32_t(size)));
  if (!DecodeDirectory(base, uint32_t(size), out.header, reinterpret_cast<uint8_t*>(out.entries.data()),
                       working.data())) {
    error = "the compressed directory does not decode to " + std::to_string(out.header.entryCount) + " entries";
    return false;
  }
  out.offsets.clear();
  uint64_t offset = kHeaderSize;
  for (const ArchiveEntry& entry : out.entries) {
    out.offsets.push_back(offset);
    offset += RoundUp16(entry.storedSize);
  }
  // The digest table, when there is one, as the updater takes it: the first
  // entry of its name, stored plain, of the right size and header.
  out.digestIndex = -1;
  out.digests.clear();
  for (size_t i = 0; i < out.entries.size(); ++i) {
    const ArchiveEntry& e = out.entries[i];
    if (strnlen(e.name, kNameCapacity) != sizeof kDigestMemberName - 1 ||
        std::memcmp(e.name, kDigestMemberName, sizeof kDigestMemberName - 1) != 0)
      continue;
    const uint8_t* table = base + out.offsets[i];
    if (e.storageFlags != 0 || e.scrambleMarker == kScrambled ||
        !MemberReadable(e, out.offsets[i], out.header.directoryOffset) ||
        !DigestTableValid(table, e.storedSize, out.header.entryCount)) {
      error = "the digest table (member " + std::to_string(i) + ") is damaged";
      return false;
    }
    out.digestIndex = int64_t(i);
    out.digests.resize(out.entries.size());
    for (size_t k = 0; k < out.entries.size(); ++k)
      std::memcpy(out.digests[k].data(), table + kDigestTableHeader + k * kDigestSize, kDigestSize);
    break;
  }
  return true;
}

bool ReadMember(const uint8_t* base, const ParsedArchive& archive, size_t index, Bytes& out,
                std::string& error) {
  const ArchiveEntry& entry = archive.entries[index];
  if (!MemberReadable(entry, archive.offsets[index], archive.header.directoryOffset)) {
    error = "member " + std::to_string(index) + ": stored bytes or name outside their bounds";
    return false;
  }
  Bytes stored(base + archive.offsets[index], base + archive.offsets[index] + entry.storedSize);
  if (entry.scrambleMarker == kScrambled) ScrambleBuffer(stored.data(), entry.storedSize);
  if (!(entry.storageFlags & kMemberCompressed)) {
    stored.resize(entry.uncompressedSize);
    out = std::move(stored);
    return CheckDigest(archive, index, out, error);
  }
  // A stream cannot expand more than about 91 times (a 282-byte match costs
  // 25 bits): a larger stated size is damage, not a reason to allocate it.
  if (uint64_t(entry.uncompressedSize) > uint64_t(entry.storedSize) * 96 + 16) {
    error = "member " + std::to_string(index) + ": stated size " + std::to_string(entry.uncompressedSize) +
            " is more than its " + std::to_string(entry.storedSize) + " stored bytes can decode to";
    return false;
  }
  out.assign(entry.uncompressedSize, 0);
  size_t produced = 0;
  if (!DecompressStreamBounded(out.data(), out.size(), stored.data(), stored.size(), &produced)) {
    // The stream either ends early or, having produced its stated size, goes
    // on (or runs out of input) without reaching its end code.
    error = "member " + std::to_string(index) + ": compressed stream is damaged: " +
            (produced < entry.uncompressedSize
                 ? "it breaks off after " + std::to_string(produced) + " of its " +
                       std::to_string(entry.uncompressedSize) + " bytes"
                 : "it does not end after its " + std::to_string(entry.uncompressedSize) + " bytes");
    return false;
  }
  return CheckDigest(archive, index, out, error);
}

}  // namespace fa2
