// Damaged updaters: the sample update packed as a shipped updater carries it,
// then truncated, with single bytes flipped, and with header and directory
// fields set to extremes, each variant run through the whole updater against
// the fake machine with a person clicking through the wizard.
//
// Every run must end in a clean success or with the updater's own messages, leave
// nothing outside the install, data and temporary folders (the temporary
// description deleted), and leave every file with its old content or with a
// whole member's content: the new one, or, where the damage hit a member's
// bytes in a way its stream still decodes, what the damaged member holds.
// The archive's SHA-256 digest table refuses such a member, unless the damage
// hid the table itself (its entry's name changed: the archive then reads as
// one without digests); that case is counted apart. The outcomes are printed
// as a table.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>

#include "unit/reliability_sample.h"

using namespace reliability;

namespace {

// Every text the updater shows on these paths, as formats.
const std::vector<const char*> kKnownMessages = {
    "RESOURCE READ ERROR",
    "Can't Find File in Resource !!",
    "Can't Allocate Memory !!",
    "「%s」のデータが壊れています（チェックサムが一致しません）",
    "ディスク容量が足りません。%s ドライブに %llu バイトの空き容量が必要です",
    "%s : %s キーが存在しません",
    "'%s' not found at UPDATE.FA3",
    "「%s」がインストールされていません",
    "インストール先に \"SETUP.INI\" ファイルが見つかりません",
    "SETUP.INI : %s キーが存在しません",
    "SETUP.INI : SetupBmps エラー",
    "SETUP.INI : InstallSelect オーバー",
    "SETUP.INI : %s エラー",
    "SETUP.INI : Shortcuts オーバー",
    "SETUP.INI : InstallAddFiles エラー",
    "アップデートエラー：アップデート対象のバージョンが違います",
    "No 'UpdateFileXX' and 'CopyFileXX'",
    "ファイルの書き込みに失敗しました",
    "SETUP.INI : \"%s\" のコピーに失敗しました",
    "ＣＤ－ＲＯＭドライブに「%s」ディスク %i を入れて下さい",
    "アップデートが中断されました",
};

// Whether `text` is what `format` gives for some arguments (%s: any bytes;
// %i, %llu: a decimal number).
bool Matches(const char* format, const char* text) {
  if (*format == 0) return *text == 0;
  if (format[0] == '%' && format[1] == 's') {
    for (const char* t = text;; ++t) {
      if (Matches(format + 2, t)) return true;
      if (*t == 0) return false;
    }
  }
  const size_t numberWidth = format[0] != '%' ? 0 : format[1] == 'i' ? 2 : std::strncmp(format, "%llu", 4) == 0 ? 4 : 0;
  if (numberWidth) {
    const char* t = text + (*text == '-');
    const char* digits = t;
    while (*t >= '0' && *t <= '9') ++t;
    return t > digits && Matches(format + numberWidth, t);
  }
  return *format == *text && Matches(format + 1, text + 1);
}

const char* KnownFormatOf(const std::string& text) {
  for (const char* format : kKnownMessages)
    if (Matches(format, text.c_str())) return format;
  return nullptr;
}

// What a damaged archive still holds, read apart from the updater with the
// toolkit's checked reader: the contents of the members named in `wanted`
// (upper-cased names; the first entry of a name, as lookups find it).
std::map<std::string, std::string> ReadableMembers(fa2::Bytes bytes, const std::set<std::string>& wanted) {
  std::map<std::string, std::string> members;
  // The updater never looks at the magic; the toolkit insists on it.
  if (bytes.size() >= 4) std::memcpy(bytes.data(), "FA2", 4);
  fa2::ParsedArchive archive;
  std::string error;
  if (!fa2::ParseArchive(bytes.data(), bytes.size(), archive, error)) return members;
  for (size_t i = 0; i < archive.entries.size(); ++i) {
    const ArchiveEntry& entry = archive.entries[i];
    if (!std::memchr(entry.name, 0, kNameCapacity)) continue;
    // The updater refuses a member larger than the free space before it
    // decodes anything; don't build such sizes here either.
    if (entry.uncompressedSize > (64u << 20)) continue;
    const std::string name = Upper(entry.name);
    if (!wanted.count(name) || members.count(name)) continue;
    fa2::Bytes content;
    if (fa2::ReadMember(bytes.data(), archive, i, content, error))
      members[name].assign(reinterpret_cast<const char*>(content.data()), content.size());
  }
  return members;
}

// The sample's update message as the updater shows it.
const std::string kSampleUpdateMessage = [] {
  char value[kTextCapacity], shown[kTextCapacity];
  for (const NamedFile& f : ExampleFiles("sample-update"))
    if (f.name == "UPDATE.INI") fake::ProfileRead(f.content, "SETUP", "UpdateMessage", value, sizeof value);
  ExpandLineBreaks(value, shown, sizeof shown);
  return std::string(shown);
}();

// The update message as the damaged archive's UPDATE.INI states it, as shown.
std::string UpdateMessageOf(const fa2::Bytes& archive) {
  const std::map<std::string, std::string> members = ReadableMembers(archive, {"UPDATE.INI"});
  auto ini = members.find("UPDATE.INI");
  if (ini == members.end()) return std::string();
  char value[kTextCapacity];
  fake::ProfileRead(ini->second, "SETUP", "UpdateMessage", value, sizeof value);
  char shown[kTextCapacity];
  ExpandLineBreaks(value, shown, sizeof shown);
  return shown;
}

struct Variant {
  std::string kind;   // the row of the summary
  std::string detail; // what exactly was done, for failure reports
  fa2::Bytes bytes;
};

void PutU32(fa2::Bytes& b, size_t at, uint32_t v) {
  if (at + 4 <= b.size()) std::memcpy(b.data() + at, &v, 4);
}
void PutU8(fa2::Bytes& b, size_t at, uint8_t v) {
  if (at < b.size()) b[at] = v;
}

uint32_t U32(const fa2::Bytes& b, size_t at) {
  uint32_t v = 0;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

// The damaged variants of one archive. `prefix` names the archive's form.
void AddDamage(const std::string& prefix, const fa2::Bytes& good, bool directoryEditable, std::vector<Variant>& out) {
  const uint32_t size = uint32_t(good.size());
  const uint32_t directoryOffset = U32(good, 8);
  const uint32_t count = U32(good, 12);
  auto add = [&](const std::string& kind, const std::string& detail, std::function<void(fa2::Bytes&)> edit) {
    Variant v{prefix + kind, detail, good};
    edit(v.bytes);
    out.push_back(std::move(v));
  };

  // Truncated: every length near the end, lengths across the directory and
  // a spread over the member data.
  for (uint32_t cut = 0; cut < size;) {
    add("truncated", "to " + std::to_string(cut) + " bytes", [cut](fa2::Bytes& b) { b.resize(cut); });
    cut += cut + 32 >= size ? 1 : cut + 16 >= directoryOffset ? 13 : 1 + directoryOffset / 61;
  }

  // Single bytes flipped: the header byte by byte; a compressed directory
  // byte by byte, a plain one in the bytes that are read (the start of each
  // name, the flags, the time stamp and the sizes); each member's first and
  // last bytes, and a stride over the member data.
  auto flip = [&](const std::string& kind, uint32_t at, uint8_t mask) {
    add(kind, "byte " + std::to_string(at) + " xor " + std::to_string(mask),
        [at, mask](fa2::Bytes& b) { b[at] ^= mask; });
  };
  for (uint32_t at = 0; at < 16; ++at)
    for (uint8_t mask : {0x01, 0x80, 0xFF}) flip("flipped: header", at, mask);
  for (uint32_t at = directoryOffset; at < size; ++at) {
    const uint32_t within = (at - directoryOffset) % kEntrySize;
    if (directoryEditable && within >= 12 && within < 256) continue;
    for (uint8_t mask : {0x01, 0xFF}) flip("flipped: directory", at, mask);
  }
  fa2::ParsedArchive parsed;
  std::string error;
  ASSERT_TRUE(fa2::ParseArchive(good.data(), good.size(), parsed, error)) << error;
  for (size_t i = 0; i < parsed.entries.size(); ++i) {
    const uint32_t start = uint32_t(parsed.offsets[i]), stored = parsed.entries[i].storedSize;
    for (uint32_t k = 0; k < stored && k < 16; ++k) flip("flipped: member data", start + k, 0x10);
    for (uint32_t k = stored > 16 ? stored - 4 : stored; k < stored; ++k) flip("flipped: member data", start + k, 0x10);
  }
  for (uint32_t at = 16; at < directoryOffset; at += 2003) flip("flipped: member data", at, 0x04);

  // Header fields set to extremes.
  const std::vector<std::pair<const char*, std::vector<uint32_t>>> header = {
      {"flags", {0, 1, 2, 3, 0xFFFFFFFC, 0xFFFFFFFF}},
      {"directoryOffset",
       {0, 15, 16, directoryOffset - 1, directoryOffset + 1, size - 5, size - 1, size, size + 1, 0x7FFFFFFF,
        0xFFFFFFFF}},
      {"entryCount", {0, 1, count - 1, count + 1, 100, 15339000, 0x7FFFFFFF, 0xFFFFFFFF}},
  };
  for (size_t field = 0; field < header.size(); ++field)
    for (uint32_t value : header[field].second)
      add("extreme: header field", std::string(header[field].first) + " = " + std::to_string(value),
          [field, value](fa2::Bytes& b) { PutU32(b, 4 + 4 * field, value); });

  if (!directoryEditable) return;
  // Entry fields set to extremes, in a directory stored plain.
  for (uint32_t i = 0; i < count; ++i) {
    const size_t entry = directoryOffset + size_t(i) * kEntrySize;
    const uint32_t uncompressed = U32(good, entry + 272), stored = U32(good, entry + 276);
    const std::string who = "entry " + std::to_string(i) + " ";
    for (uint8_t v : {0x00, 0x02, 0xFD, 0xFF})
      add("extreme: entry field", who + "storageFlags = " + std::to_string(v),
          [=](fa2::Bytes& b) { PutU8(b, entry + 260, v); });
    for (uint8_t v : {0x00, 0x01, 0x02, 0xFF})
      add("extreme: entry field", who + "scrambleMarker = " + std::to_string(v),
          [=](fa2::Bytes& b) { PutU8(b, entry + 262, v); });
    for (uint32_t v : {0u, 1u, uncompressed - 1, uncompressed + 1, stored, 0x40000001u, 0x7FFFFFFFu, 0xFFFFFFFFu})
      add("extreme: entry field", who + "uncompressedSize = " + std::to_string(v),
          [=](fa2::Bytes& b) { PutU32(b, entry + 272, v); });
    for (uint32_t v : {0u, 1u, stored - 1, stored + 1, stored + 16, 0x7FFFFFFFu, 0xFFFFFFF0u, 0xFFFFFFFFu})
      add("extreme: entry field", who + "storedSize = " + std::to_string(v),
          [=](fa2::Bytes& b) { PutU32(b, entry + 276, v); });
    for (uint32_t v : {0u, 0xFFFFFFFFu})
      add("extreme: entry field", who + "timeStamp = " + std::to_string(v), [=](fa2::Bytes& b) {
        PutU32(b, entry + 264, v);
        PutU32(b, entry + 268, v);
      });
    add("extreme: entry field", who + "name unterminated",
        [=](fa2::Bytes& b) { std::memset(b.data() + entry, 'A', kNameCapacity); });
    add("extreme: entry field", who + "name empty", [=](fa2::Bytes& b) { b[entry] = 0; });
    add("extreme: entry field", who + "name of the next entry", [=](fa2::Bytes& b) {
      const size_t other = directoryOffset + size_t((i + 1) % count) * kEntrySize;
      std::memcpy(b.data() + entry, b.data() + other, kNameCapacity);
    });
  }
}

struct Tally {
  std::map<std::string, int> byOutcome;                     // message sequence -> runs
  std::map<std::string, std::map<std::string, int>> byKind; // kind -> outcome -> runs
  int variants = 0, successes = 0, damagedContent = 0;
  std::vector<std::string> problems;
};

// One variant through the whole updater.
void RunVariant(const Variant& variant, const std::map<std::string, std::vector<std::string>>& pristine, Tally& tally) {
  InstallSampleGame();
  const std::map<std::string, std::string> before = Snapshot();
  // What the damaged archive holds is looked at only when a run shows or
  // writes something the undamaged one would not.
  std::string damagedMessage;
  bool damagedMessageKnown = false;
  auto damagedUpdateMessage = [&]() -> const std::string& {
    if (!damagedMessageKnown) damagedMessage = UpdateMessageOf(variant.bytes);
    damagedMessageKnown = true;
    return damagedMessage;
  };
  fake::SetResource(variant.bytes);
  fake::SetDialogScript(ClickThrough);
  const int exitCode = RunUpdater(nullptr);

  auto problem = [&](const std::string& what) {
    tally.problems.push_back(variant.kind + ", " + variant.detail + ": " + what);
  };
  std::string outcome;
  bool errorShown = false;
  for (const std::string& text : BoxTexts()) {
    if (text == kSampleUpdateMessage || text == damagedUpdateMessage()) continue; // informational
    const char* format = KnownFormatOf(text);
    if (!format) {
      problem("unexpected message: " + fa2::Cp932ToLocal(text));
      continue;
    }
    errorShown = true;
    outcome += (outcome.empty() ? "" : " / ") + fa2::Cp932ToLocal(format);
  }
  if (exitCode == 1) {
    if (errorShown) problem("success after an error message");
    outcome = "success (exit 1)";
    ++tally.successes;
  } else if (exitCode == 0) {
    if (outcome.empty()) outcome = "no message (exit 0)";
  } else {
    problem("exit code " + std::to_string(exitCode));
  }

  // What may be in the files: the new contents, or else whatever a member of
  // the damaged archive holds whole.
  bool wroteDamaged = false;
  if (!CheckFiles(before, pristine).empty()) {
    std::set<std::string> names;
    for (const auto& [path, content] : Snapshot()) names.insert(BaseName(path));
    std::map<std::string, std::vector<std::string>> replacements = pristine;
    for (const auto& [name, content] : ReadableMembers(variant.bytes, names)) replacements[name].push_back(content);
    const std::vector<std::string> problems = CheckFiles(before, replacements);
    for (const std::string& p : problems) problem(p);
    if (problems.empty()) wroteDamaged = true;
    // Whatever the damage, a file never ends up as the start of its new
    // content (a write cut short).
    for (const auto& [path, content] : Snapshot()) {
      auto known = pristine.find(BaseName(path));
      if (known == pristine.end()) continue;
      for (const std::string& whole : known->second)
        if (content.size() < whole.size() && whole.compare(0, content.size(), content) == 0)
          problem("cut short (" + std::to_string(content.size()) + " of " + std::to_string(whole.size()) +
                  " bytes): " + path);
    }
  }
  if (wroteDamaged) ++tally.damagedContent;
  if (fake::LiveBlockCount() != 0) problem(std::to_string(fake::LiveBlockCount()) + " blocks still held");
  if (fake::OpenHandleCount() != 0) problem(std::to_string(fake::OpenHandleCount()) + " handles still open");

  if (std::getenv("FA2_CAMPAIGN_VERBOSE"))
    std::printf("%s, %s: %s%s\n", variant.kind.c_str(), variant.detail.c_str(), outcome.c_str(),
                wroteDamaged ? " [damaged member written]" : "");
  ++tally.variants;
  ++tally.byOutcome[outcome];
  ++tally.byKind[variant.kind][outcome];
}

void PrintTally(const Tally& t) {
  std::printf("\nDamaged updaters: %d variants run, %d clean successes, %d wrote a damaged member's content whole\n",
              t.variants, t.successes, t.damagedContent);
  std::printf("%7s  %s\n", "runs", "outcome (messages shown, the update message left out)");
  std::vector<std::pair<int, std::string>> rows;
  for (const auto& [outcome, runs] : t.byOutcome) rows.push_back({runs, outcome});
  std::sort(rows.rbegin(), rows.rend());
  for (const auto& [runs, outcome] : rows) std::printf("%7d  %s\n", runs, outcome.c_str());
  std::printf("\n%7s  %7s  %7s  %s\n", "runs", "success", "refused", "damage");
  for (const auto& [kind, outcomes] : t.byKind) {
    int runs = 0, ok = 0;
    for (const auto& [outcome, n] : outcomes) {
      runs += n;
      if (outcome.rfind("success", 0) == 0) ok += n;
    }
    std::printf("%7d  %7d  %7d  %s\n", runs, ok, runs - ok, kind.c_str());
  }
  std::fflush(stdout);
}

TEST(ReliabilityCampaign, DamagedUpdatersEndWithKnownMessagesAndLoseNothing) {
  const auto pristine = SampleReplacements();
  const fa2::Bytes shipped = PackSampleUpdate(PackForm{});
  // The same members with the directory stored plain, so entry fields can be
  // set directly; and with members stored plain too.
  const fa2::Bytes plainDirectory = PackSampleUpdate(PackForm{true, true, false, false});
  const fa2::Bytes allPlain = PackSampleUpdate(PackForm{false, false, false, false});

  std::vector<Variant> variants;
  AddDamage("shipped form, ", shipped, false, variants);
  AddDamage("plain directory, ", plainDirectory, true, variants);
  AddDamage("plain members and directory, ", allPlain, true, variants);

  // The undamaged forms succeed and write the whole update.
  for (const fa2::Bytes* good : {&shipped, &plainDirectory, &allPlain}) {
    Tally clean;
    RunVariant(Variant{"undamaged", "", *good}, pristine, clean);
    EXPECT_EQ(1, clean.successes);
    EXPECT_TRUE(clean.problems.empty()) << clean.problems.front();
    EXPECT_EQ(pristine.at("GAME.DAT").front(), fake::Content("C:\\Game\\GAME.DAT"));
    EXPECT_EQ(pristine.at("CONFIG.DAT").front(), fake::Content("C:\\Data\\CONFIG.DAT"));
  }

  Tally tally;
  for (const Variant& v : variants) RunVariant(v, pristine, tally);
  PrintTally(tally);

  EXPECT_GE(tally.variants, 1500);
  EXPECT_GT(tally.successes, 0);
  EXPECT_LT(tally.successes, tally.variants);
  for (size_t i = 0; i < tally.problems.size() && i < 20; ++i) ADD_FAILURE() << tally.problems[i];
  EXPECT_EQ(0u, tally.problems.size());
}

} // namespace
