// fa2's readers against an updater cut short or damaged. The updater is made
// as `fa2 build` makes one: the sample update packed (members and directory
// compressed and scrambled) and stamped into a stub image as resource
// "UPDATE" 102. It is cut at every byte of its PE headers, section table,
// resource directory, archive header and archive directory and at a stride
// elsewhere, and separately has each byte of those parts inverted; the raw
// archive gets the same. Each variant goes through what list, verify and
// extract do. A cut must end in an error that says something; a changed byte
// may read or not, but never crash (run under the asan preset for that).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <tuple>

#include "fa2/lib/pe_image.h"
#include "fa2/lib/toolkit.h"
#include "unit/pe_test_image.h"
#include "unit/reliability_sample.h"

using fa2::Bytes;
namespace fs = std::filesystem;

namespace {

struct Updater {
  Bytes exe, archive;
  uint64_t archiveAt = 0, resourceDirectory = 0, headersEnd = 0;
};

// Code, data and relocations without resources: the stamp adds the section.
const Updater& SampleUpdater() {
  static const Updater updater = [] {
    pe_test::ImageLayout layout;
    layout.sections = {{".text", 0x1000, Bytes(0x300, 0xC3)},
                       {".data", 0x2000, Bytes(0x80, 0x11), 0x2000},
                       {".reloc", 0x4000, Bytes(0x20, 0x22)}};
    Updater u;
    u.archive = reliability::PackSampleUpdate({});
    std::string error;
    EXPECT_TRUE(fa2::StampUpdateResource(pe_test::MakeImage(layout), u.archive, u.exe, error)) << error;
    size_t offset = 0, size = 0;
    EXPECT_TRUE(fa2::FindUpdateResourceInPe(u.exe, &offset, &size, error)) << error;
    fa2::pe::Image image;
    EXPECT_TRUE(fa2::pe::ParseImage(u.exe, image, error)) << error;
    u.archiveAt = offset;
    u.resourceDirectory = image.sections.back().rawOffset;
    u.headersEnd = image.sectionTable + fa2::pe::kSectionHeaderSize * image.sections.size();
    return u;
  }();
  return updater;
}

enum class Command { kList, kVerify, kExtract };

// What the command does with the bytes of its ARCHIVE argument: the message
// it would print, empty when it succeeds.
std::string RunCommand(Command command, const Bytes& file, const fs::path& folder) {
  const uint8_t* base = nullptr;
  size_t size = 0;
  fa2::ParsedArchive archive;
  std::string error;
  if (!fa2::LocateArchive(file, &base, &size, error) || !fa2::ParseArchive(base, size, archive, error))
    return error.empty() ? "(no message)" : error;
  if (command == Command::kVerify && !fa2::CheckWholeArchive(base, size, error)) return error;
  std::set<std::string> written;
  if (command == Command::kExtract && (!fa2::MakeFolder(folder.string(), error) ||
                                       !fa2::ExtractMembers(base, archive, folder.string(), {}, written, error)))
    return error;
  return {};
}

// A message's kind, for the counts: up to its first number or parenthesis.
std::string Kind(const std::string& message) {
  if (message.empty()) return "reads";
  size_t end = 0;
  while (end < message.size() && message[end] != '(' &&
         !(end > 0 && message[end - 1] == ' ' && std::isdigit(static_cast<unsigned char>(message[end]))))
    ++end;
  return message.substr(0, end);
}

using Parts = std::vector<std::pair<uint64_t, uint64_t>>;

bool Inside(const Parts& parts, uint64_t at) {
  return std::any_of(parts.begin(), parts.end(), [&](auto& p) { return at >= p.first && at < p.second; });
}

// One damaged copy: `file` cut at `at`, or with the byte at `at` inverted.
struct Variant {
  std::string campaign;
  const Bytes* file;
  uint64_t at;
  bool cut;
  Bytes Make() const {
    if (cut) return Bytes(file->begin(), file->begin() + ptrdiff_t(at));
    Bytes changed = *file;
    changed[at] ^= 0xFF;
    return changed;
  }
};

// Cuts at every offset of the parts and at every `kStride`-th elsewhere;
// byte inversions within the parts.
std::vector<Variant> Variants() {
  const Updater& u = SampleUpdater();
  ArchiveHeader header;
  std::memcpy(&header, u.archive.data(), sizeof header);
  const uint64_t a = u.archiveAt;
  // The headers and section table, the resource directory (everything before
  // the archive's bytes), the archive header and directory.
  const Parts exeParts = {
      {0, u.headersEnd}, {u.resourceDirectory, a + kHeaderSize}, {a + header.directoryOffset, a + u.archive.size()}};
  const Parts rawParts = {{0, kHeaderSize}, {header.directoryOffset, u.archive.size()}};
  constexpr uint64_t kStride = 97;
  std::vector<Variant> out;
  for (const auto& [name, file, parts] :
       {std::tuple("updater", &u.exe, exeParts), std::tuple("archive", &u.archive, rawParts)}) {
    for (uint64_t at = 0; at < file->size(); ++at) {
      const bool dense = Inside(parts, at);
      if (dense || at % kStride == 0) out.push_back({std::string(name) + " cut", file, at, true});
      if (dense) out.push_back({std::string(name) + " byte inverted", file, at, false});
    }
  }
  return out;
}

TEST(Fa2Truncation, EveryCutEndsInAnErrorAndNothingCrashes) {
  const fs::path folder = fs::temp_directory_path() / ("fa2-truncation-" + std::to_string(::getpid()));
  for (Command c : {Command::kList, Command::kVerify, Command::kExtract})
    ASSERT_EQ("", RunCommand(c, SampleUpdater().exe, folder)) << "the whole updater must read";
  ASSERT_EQ(4u, std::distance(fs::directory_iterator(folder), fs::directory_iterator()));

  std::map<std::string, std::map<std::string, size_t>> outcomes; // campaign, kind: count
  size_t variants = 0, runs = 0;
  for (const Variant& v : Variants()) {
    ++variants;
    const Bytes bytes = v.Make();
    for (Command c : {Command::kList, Command::kVerify, Command::kExtract}) {
      fs::remove_all(folder);
      const std::string message = RunCommand(c, bytes, folder);
      ++runs;
      ++outcomes[v.campaign][Kind(message)];
      if (v.cut) {
        ASSERT_FALSE(message.empty()) << v.campaign << " at " << v.at << " was read as whole";
      }
    }
  }
  fs::remove_all(folder);

  std::string summary = std::to_string(variants) + " variants, " + std::to_string(runs) + " runs, 0 crashes";
  for (const auto& [campaign, kinds] : outcomes) {
    summary += "\n  " + campaign + ":";
    for (const auto& [kind, count] : kinds) summary += " [" + kind + "] " + std::to_string(count) + ";";
  }
  std::printf("fa2 truncation campaign: %s\n", summary.c_str());
  RecordProperty("variants", int(variants));
  RecordProperty("runs", int(runs));
  EXPECT_GT(outcomes["updater cut"].size(), 3u) << "the cuts should meet several different checks";
}

// The messages name the part that ends past the file, as fa2 prints them.
TEST(Fa2Truncation, MessagesSayWhereTheFileEnds) {
  const Bytes& exe = SampleUpdater().exe;
  const uint64_t tableAt = 0x40 + 4 + 20 + 224;
  const struct {
    uint64_t cut;
    std::string expected;
  } cases[] = {
      {1, "not an FA2 archive"}, // "M" alone is no executable, so it is read as an archive
      {40, "not a Windows executable, or cut short: the MZ header ends at byte 64 but the file has 40 bytes"},
      {0x50, "not a Windows executable, or cut short: the PE header ends at byte 88 but the file has 80 bytes"},
      {tableAt + 10, "cut short: the section table ends at byte " + std::to_string(tableAt + 160) +
                         " but the file has " + std::to_string(tableAt + 10) + " bytes"},
      {exe.size() - 1, "cut short: section .rsrc ends at byte " + std::to_string(exe.size()) + " but the file has " +
                           std::to_string(exe.size() - 1) + " bytes"},
  };
  for (const auto& c : cases) {
    const std::string message = RunCommand(Command::kList, Bytes(exe.begin(), exe.begin() + ptrdiff_t(c.cut)), {});
    EXPECT_NE(std::string::npos, message.find(c.expected)) << "cut at " << c.cut << ": " << message;
  }
}

} // namespace
