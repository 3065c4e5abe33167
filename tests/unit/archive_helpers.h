// Test archives: members built with the packer and installed as the fake
// machine's embedded resource.
#pragma once

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
