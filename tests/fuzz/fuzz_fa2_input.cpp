// What fa2 does with an ARCHIVE argument or a stub, whatever the bytes: the
// input is a whole file, a raw archive or a PE image (an updater or a stub).
//
//   list     locate the archive (the resource "UPDATE" 102 of an executable),
//            parse the directory, format every line
//   verify   decode every member (also what plan and stamp check first,
//            read here from a file as they read it)
//   extract  write every member into a temporary folder
//   stamp    the input as a stub: write a small archive into it
//
// Checks: no sanitizer report, no exception; every refusal says why; the
// archive located lies inside the input; verify passes exactly when every
// member reads; what extract writes is what the member decodes to; a stamped
// image reads back with its headers whole and carries exactly the archive
// written.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "fa2/lib/pe_image.h"
#include "fa2/lib/toolkit.h"
#include "fuzz/fuzz_support.h"

namespace fs = std::filesystem;
using fa2::Bytes;

namespace {

fs::path g_folder;

// The lines list prints; making them must be safe for any entry.
std::string List(const fa2::ParsedArchive& archive) {
  std::string lines;
  for (const ArchiveEntry& e : archive.entries)
    lines += fa2::Cp932ToLocal(std::string(e.name, strnlen(e.name, kNameCapacity))) + "\t" +
             std::to_string(e.uncompressedSize) + "\t" + fa2::FormatUtc(e.timeStamp) + "\n";
  return lines;
}

void Verify(const uint8_t* base, size_t size, const fa2::ParsedArchive& archive) {
  std::string error;
  bool every = true;
  for (size_t i = 0; i < archive.entries.size() && every; ++i) {
    Bytes data;
    every = fa2::ReadMember(base, archive, i, data, error);
    FUZZ_CHECK(every || !error.empty(), "a member refused without a reason");
  }
  error.clear();
  FUZZ_CHECK(fa2::CheckWholeArchive(base, size, error) == every, "verify disagrees with the members");
  FUZZ_CHECK(every || !error.empty(), "verify refused without a reason");
}

void Extract(const uint8_t* base, const fa2::ParsedArchive& archive) {
  std::error_code ec;
  fs::remove_all(g_folder, ec);
  std::set<std::string> written;
  std::string error;
  FUZZ_CHECK(fa2::MakeFolder(g_folder.string(), error), error);
  if (!fa2::ExtractMembers(base, archive, g_folder.string(), {}, written, error)) {
    FUZZ_CHECK(!error.empty(), "extract refused without a reason");
    return;
  }
  // The first member of each name is the one written; the digest table is
  // checked, never written.
  std::set<std::string> seen;
  for (size_t i = 0; i < archive.entries.size(); ++i) {
    if (fa2::IsDigestTable(archive, i) || fa2::IsDeltaName(fa2::EntryName(archive.entries[i]))) continue;
    const std::string name = fa2::Cp932ToLocal(std::string(archive.entries[i].name,
                                                           strnlen(archive.entries[i].name, kNameCapacity)));
    if (!seen.insert(fa2::UpperAscii(name)).second) continue;
    Bytes expected, found;
    FUZZ_CHECK(fa2::ReadMember(base, archive, i, expected, error), "a written member does not read");
    FUZZ_CHECK(fa2::ReadWholeFile((g_folder / name).string(), found, error), error);
    FUZZ_CHECK(found == expected, "member " + name + " written with other bytes");
  }
}

// plan and stamp read their input from a file first.
void ReadFromFile(const Bytes& input) {
  const fs::path file = g_folder.string() + ".input";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(input.data()), std::streamsize(input.size()));
  }
  Bytes loaded;
  const uint8_t* base = nullptr;
  size_t size = 0;
  std::string error;
  if (fa2::LoadArchiveFile(file.string(), loaded, &base, &size, error)) {
    FUZZ_CHECK(base >= loaded.data() && base + size <= loaded.data() + loaded.size(), "archive outside the file");
    error.clear();
    if (!fa2::CheckWholeArchive(base, size, error)) FUZZ_CHECK(!error.empty(), "refused without a reason");
  } else {
    FUZZ_CHECK(error.find(file.string()) != std::string::npos, "an error without the file's name: " + error);
  }
  std::error_code ec;
  fs::remove(file, ec);
}

void Stamp(const Bytes& stub) {
  static const Bytes archive = [] {
    fa2::PackMember m;
    m.name = "UPDATE.INI";
    m.data.assign(40, 'x');
    m.compress = true;
    return fa2::BuildArchive({m}, fa2::PackOptions{});
  }();
  Bytes out;
  std::string error;
  std::vector<fa2::PeResource> resources;
  if (!fa2::ReadPeResources(stub, resources, error)) FUZZ_CHECK(!error.empty(), "resources refused without a reason");
  error.clear();
  if (!fa2::StampUpdateResource(stub, archive, out, error)) {
    FUZZ_CHECK(!error.empty(), "stamp refused without a reason");
    return;
  }
  FUZZ_CHECK(fa2::CheckExecutable(out, error), "a stamped image does not parse: " + error);
  FUZZ_CHECK(fa2::ReadPeResources(out, resources, error), "a stamped image's resources do not read: " + error);
  size_t offset = 0, size = 0;
  FUZZ_CHECK(fa2::FindUpdateResourceInPe(out, &offset, &size, error), "the stamped archive is not found: " + error);
  FUZZ_CHECK(Bytes(out.begin() + ptrdiff_t(offset), out.begin() + ptrdiff_t(offset + size)) == archive,
             "the stamped archive reads back different");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_folder = fs::temp_directory_path() / ("fuzz_fa2_input." + std::to_string(getpid()));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Bytes input(data, data + size);
  const uint8_t* base = nullptr;
  size_t archiveSize = 0;
  std::string error;
  fa2::ParsedArchive archive;
  if (!fa2::LocateArchive(input, &base, &archiveSize, error)) {
    FUZZ_CHECK(!error.empty(), "an executable refused without a reason");
  } else {
    FUZZ_CHECK(base >= input.data() && base + archiveSize <= input.data() + input.size(), "archive outside the input");
    if (fa2::ParseArchive(base, archiveSize, archive, error)) {
      FUZZ_CHECK(List(archive).size() >= archive.entries.size(), "a line missing");
      Verify(base, archiveSize, archive);
      Extract(base, archive);
    } else {
      FUZZ_CHECK(!error.empty(), "an archive refused without a reason");
    }
  }
  ReadFromFile(input);
  if (size >= 2 && data[0] == 'M' && data[1] == 'Z') Stamp(input);
  std::error_code ec;
  fs::remove_all(g_folder, ec);
  return 0;
}
