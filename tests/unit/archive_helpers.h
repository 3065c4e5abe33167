// Test archives: members built with the packer and installed as the fake
// machine's embedded resource.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "fa2/lib/toolkit.h"
#include "fake/fake_platform.h"

namespace testing_archive {

inline fa2::PackMember Member(const std::string& name, const std::string& content, bool compress = false,
                              bool scramble = false, FileTime time = {0x10000000, 0x01D00000}) {
  fa2::PackMember m;
  m.name = name;
  m.data.assign(content.begin(), content.end());
  m.time = time;
  m.compress = compress;
  m.scramble = scramble;
  return m;
}

// Without the digest table unless asked: most tests are about the layout
// of exactly the members they give.
inline fa2::Bytes Build(const std::vector<fa2::PackMember>& members, bool compressDirectory = true,
                        bool scrambleDirectory = true, bool digests = false) {
  fa2::PackOptions options;
  options.compressDirectory = compressDirectory;
  options.scrambleDirectory = scrambleDirectory;
  options.digests = digests;
  return fa2::BuildArchive(members, options);
}

// An edit of a plain directory of three entries, the digest table last:
// the entries, and `at`, where the table's bytes start.
using DirectoryEdit = void (*)(fa2::Bytes& archive, ArchiveEntry* entries, size_t at);
inline void EditDirectory(fa2::Bytes& archive, DirectoryEdit edit) {
  if (!edit) return;
  ArchiveEntry entries[3];
  uint8_t* directory = archive.data() + archive.size() - sizeof entries;
  std::memcpy(entries, directory, sizeof entries);
  edit(archive, entries, kHeaderSize + RoundUp16(entries[0].storedSize) + RoundUp16(entries[1].storedSize));
  std::memcpy(directory, entries, sizeof entries);
}

// Installs `bytes` as the resource and opens it into `image`; false if either fails.
inline bool Mount(const fa2::Bytes& bytes, ArchiveImage& image) {
  fake::SetResource(bytes);
  image = ArchiveImage{};
  image.base = LoadArchiveResource(nullptr, &image.size);
  if (!image.base) return false;
  uint8_t* directory = OpenArchive(image);
  AttachDirectory(image, directory);
  return directory != nullptr;
}

} // namespace testing_archive
