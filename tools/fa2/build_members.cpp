// fa2 build's members packed, each full or, against an old version of the
// game, as a delta when that pays.
#include <cstring>
#include <map>

#include "codec/delta_encoder.h"
#include "fa2/commands.h"
#include "update/update.h"

namespace {

// A member's old file, when it can go as a delta against it.
struct DeltaBase {
  std::string path;     // the old file; empty: the member stays full
  std::string why;      // else why not, for the report ("" says nothing)
  DeltaHeader header{}; // its size and digest
};

std::string Shown(const std::string& cp932) { return fa2::Cp932ToLocal(cp932); }

// False only when an old file cannot be read.
bool FindDeltaBase(const fa2::OldVersion& old, const fa2::UpdateCheck& check, const fa2::PlannedMember& m,
                   std::map<std::string, fa2::Digest>& digests, DeltaBase& base, std::string& error) {
  base = DeltaBase{};
  if (m.writes.empty()) return true; // UPDATE.INI and the texts
  if (!m.scramble) {
    base.why = "read whole by the wizard, as AgreementText or AgreementTitle";
    return true;
  }
  const fa2::FolderFile* first = nullptr;
  for (const fa2::MemberWrite& w : m.writes) {
    if (KindOf(int32_t(w.operation)).keepsData) {
      base.why = w.key + " is a \"d\" line, which keeps an existing file and writes only a missing one";
      return true;
    }
    const fa2::FolderFile* file = fa2::OldFileOf(old, check.dataFolder, w);
    if (!file) {
      base.why = "new: the old version has no " + Shown(w.path) + " (" + w.key + ")";
      return true;
    }
    if (!digests.count(file->localPath) && !fa2::FileSha256(file->localPath, digests[file->localPath], error))
      return false;
    if (first && (file->size != first->size || digests[file->localPath] != digests[first->localPath])) {
      base.why = m.writes.front().key + " and " + w.key + " replace different files";
      return true;
    }
    if (!first) first = file;
  }
  if (first->size > fa2::kMaxMemberSize) {
    base.why = "its old file is larger than 4 GiB";
    return true;
  }
  base.path = first->localPath;
  base.header.baseSize = uint32_t(first->size);
  std::memcpy(base.header.baseDigest, digests[first->localPath].data(), kDigestSize);
  return true;
}

} // namespace

std::string Percent(uint64_t part, uint64_t whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", whole ? 100.0 * double(part) / double(whole) : 100.0);
  return text;
}


// Packs the members; with an old version, each member that replaces an old
// file is packed full first and its delta after it, and whichever does not
// stay is taken out again. The delta is encoded into a file beside the
// output, removed either way.
bool PackMembers(const DeltaOptions& o, const fa2::UpdateFolder& folder, const fa2::UpdateCheck& check,
                 const std::vector<fa2::PackMember>& members, fa2::ArchiveWriter& writer, PackProgress& at,
                 const std::function<void()>& show, DeltaReport& report, std::vector<std::string>& bases,
                 std::string& error) {
  const bool deltas = !o.from.empty() || !o.dataFrom.empty();
  fa2::OldVersion old;
  if (deltas && !fa2::ScanOldVersion(o.from, o.dataFrom, old, error)) return false;
  std::map<std::string, fa2::Digest> digests;
  fa2::FileOutput deltaFile;
  if (deltas && !deltaFile.Create(o.scratch, error)) return false;
  for (size_t i = 0; i < members.size(); ++i) {
    const fa2::PackMember& m = members[i];
    at.writerStart = writer.Stats().bytesIn;
    at.delta.clear();
    if (!writer.Add(m, error)) return false;
    at.done = i + 1;
    at.doneBytes += folder.files[size_t(check.members[i].file)].size;
    at.writerStart = writer.Stats().bytesIn;
    if (!deltas) continue;
    DeltaBase base;
    if (!FindDeltaBase(old, check, check.members[i], digests, base, error)) return false;
    const std::string name = Shown(m.name);
    if (base.path.empty()) {
      if (!base.why.empty()) report.lines.push_back(name + ": full (" + base.why + ")");
      continue;
    }
    fa2::Digest result;
    if (!writer.LastDigest(result)) {
      error = m.path + ": SHA-256 cannot be computed";
      return false;
    }
    base.header.resultSize = writer.Last().uncompressedSize;
    std::memcpy(base.header.resultDigest, result.data(), kDigestSize);
    const uint32_t fullStored = writer.Last().storedSize;
    at.delta = name;
    show();
    bool written = true;
    codec::DeltaStats stats;
    if (!deltaFile.Truncate(0)) {
      error = deltaFile.Error();
      return false;
    }
    const int encoded = codec::EncodeDelta(
        base.path, m.path, base.header, uint64_t(base.header.resultSize) + kDeltaHeaderSize,
        [&](const uint8_t* p, size_t n) { return written = written && deltaFile.Append(p, n); }, &stats, error);
    if (!written) error = deltaFile.Error();
    if (encoded == 0 || !written) return false;
    if (encoded == 2) {
      report.lines.push_back(name + ": full (its delta against " + base.path + " is larger than the file)");
      continue;
    }
    char deltaName[kNameCapacity];
    if (!DeltaMemberName(m.name.c_str(), deltaName)) {
      report.lines.push_back(name + ": full (the name is too long for a delta member's)");
      continue;
    }
    fa2::PackMember delta = m;
    delta.name = deltaName;
    delta.path.clear();
    const fa2::WrittenSource source(deltaFile);
    if (!writer.Add(delta, source, error)) return false;
    const uint32_t deltaStored = writer.Last().storedSize;
    const std::string sizes = std::to_string(deltaStored) + " bytes stored instead of " + std::to_string(fullStored) +
                              " (" + Percent(deltaStored, fullStored) + ")";
    // The margin: a delta must save at least a fifth of the member.
    if (uint64_t(deltaStored) * 5 > uint64_t(fullStored) * 4) {
      if (!writer.RemoveLast(error)) return false;
      report.lines.push_back(name + ": full (its delta would take " + sizes + ", more than 80%)");
      continue;
    }
    // Without the full member the delta takes its place: both out, the delta in again.
    if (!o.keepFull && !(writer.RemoveLast(error) && writer.RemoveLast(error) && writer.Add(delta, source, error)))
      return false;
    const bool same = std::memcmp(base.header.baseDigest, base.header.resultDigest, kDigestSize) == 0;
    report.lines.push_back(name + ": delta against " + base.path + (same ? " (unchanged)" : "") + ", " + sizes +
                           (o.keepFull ? ", full member kept" : ""));
    ++report.deltas;
    report.fullStored += fullStored;
    report.deltaStored += deltaStored;
    bases.push_back(base.path);
  }
  return true;
}

// Each delta applied to its base as the updater will: the result must be
// the new file, byte for byte.
bool CheckDeltas(const fa2::ByteSource& packed, const std::vector<std::string>& bases, std::string& error) {
  fa2::ParsedArchive parsed;
  std::vector<fa2::DeltaMember> deltas;
  if (!fa2::ParseArchive(packed, parsed, error) || !fa2::FindDeltaMembers(packed, parsed, deltas, error)) return false;
  if (deltas.size() != bases.size()) {
    error = "it has " + std::to_string(deltas.size()) + " delta members, not " + std::to_string(bases.size());
    return false;
  }
  for (size_t i = 0; i < deltas.size(); ++i) {
    fa2::FileSource base;
    if (!base.Open(bases[i], error)) return false;
    if (!fa2::ApplyDeltaMember(packed, parsed, deltas[i], &base, {}, error)) {
      error = "the delta of " + Shown(deltas[i].target) + " against " + bases[i] + ": " + error;
      return false;
    }
  }
  return true;
}
