// Lays out an FA2 archive (layout described in src/archive/layout.cpp).
#include <cstring>

#include "codec/encoder.h"
#include "fa2/lib/toolkit.h"

namespace fa2 {

namespace {

void PutU32(Bytes& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i));
}

}  // namespace

Bytes BuildArchive(const std::vector<PackMember>& members, const PackOptions& options, PackStats* stats) {
  PackStats local;
  Bytes out(kHeaderSize, 0);
  std::vector<ArchiveEntry> entries;
  // The digest table (see kDigestMemberName): one slot per member and one,
  // zero, for itself; dropped if the library cannot hash.
  Bytes table(size_t(DigestTableSize(uint32_t(members.size() + 1))), 0);
  bool digests = options.digests;
  for (const PackMember& member : members) {
    Digest digest{};
    digests = digests && Sha256(member.data.data(), member.data.size(), digest);
    std::memcpy(table.data() + kDigestTableHeader + entries.size() * kDigestSize, digest.data(), kDigestSize);
    if (options.progress) options.progress(entries.size(), local.bytesIn);
    ArchiveEntry entry;
    std::memset(&entry, 0, sizeof entry);
    std::memcpy(entry.name, member.name.data(), std::min<size_t>(member.name.size(), kNameCapacity - 1));
    entry.timeStamp = member.time;
    entry.uncompressedSize = uint32_t(member.data.size());
    Bytes stored = member.data;
    if (member.compress) {
      Bytes packed = CompressStream(member.data.data(), member.data.size(), options.level);
      if (packed.size() < member.data.size()) {
        stored = std::move(packed);
        entry.storageFlags = kMemberCompressed;
      } else {
        ++local.storedPlain;
      }
    }
    if (member.scramble) {
      ScrambleBuffer(stored.data(), uint32_t(stored.size()));
      entry.scrambleMarker = kScrambled;
    }
    entry.storedSize = uint32_t(stored.size());
    local.bytesIn += member.data.size();
    local.bytesStored += stored.size();
    out.insert(out.end(), stored.begin(), stored.end());
    out.resize(out.size() + (RoundUp16(entry.storedSize) - entry.storedSize), 0);
    entries.push_back(entry);
  }
  if (options.progress) options.progress(entries.size(), local.bytesIn);
  if (digests) {
    std::memcpy(table.data(), "FA2SHA2", 8);
    PutU32(table, 8, uint32_t(entries.size() + 1));
    ArchiveEntry entry;
    std::memset(&entry, 0, sizeof entry);
    std::memcpy(entry.name, kDigestMemberName, sizeof kDigestMemberName);
    for (const PackMember& member : members)  // the newest member's time: builds stay reproducible
      if (FileTimeValue(member.time) > FileTimeValue(entry.timeStamp)) entry.timeStamp = member.time;
    entry.uncompressedSize = entry.storedSize = uint32_t(table.size());
    out.insert(out.end(), table.begin(), table.end());
    out.resize(out.size() + (RoundUp16(entry.storedSize) - entry.storedSize), 0);
    entries.push_back(entry);
  }
  const uint32_t directoryOffset = uint32_t(out.size());
  Bytes directory(entries.size() * kEntrySize);
  if (!entries.empty()) std::memcpy(directory.data(), entries.data(), directory.size());
  uint32_t flags = 0;
  if (options.compressDirectory) {
    directory = CompressStream(directory.data(), directory.size(), options.level);
    flags |= kDirectoryCompressed;
  }
  if (options.scrambleDirectory) {
    ScrambleBuffer(directory.data(), uint32_t(directory.size()));
    flags |= kDirectoryScrambled;
  }
  out.insert(out.end(), directory.begin(), directory.end());
  std::memcpy(out.data(), "FA2", 4);
  PutU32(out, 4, flags);
  PutU32(out, 8, directoryOffset);
  PutU32(out, 12, uint32_t(entries.size()));
  if (stats) *stats = local;
  return out;
}

}  // namespace fa2
