// Lines whose member goes as a delta: applied onto the installed base,
// the full member when the file is another one and the archive has it,
// and otherwise a refusal before any file is written.
#include "unit/engine_fixture.h"

using namespace engine_testing;

namespace {

const char kBase[] = "the installed game, version 1.00, with its data";
const char kResult[] = "the installed game, version 1.01, with more data";
const char kFull[] = "the full member"; // told apart from the delta's result

fa2::Digest Sha(const std::string& bytes) {
  fa2::Digest d{};
  fa2::Sha256Context* context = fa2::BeginSha256();
  fa2::UpdateSha256(context, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  fa2::FinishSha256(context, d);
  return d;
}

void Number(std::string& out, uint64_t v) {
  for (; v >= 0x80; v >>= 7) out += char(uint8_t(v) | 0x80);
  out += char(v);
}

// A delta that copies the common start of base and result and adds the rest.
std::string MakeDelta(const std::string& base, const std::string& result) {
  DeltaHeader header{uint32_t(base.size()), uint32_t(result.size()), {}, {}};
  const fa2::Digest b = Sha(base), r = Sha(result);
  std::memcpy(header.baseDigest, b.data(), kDigestSize);
  std::memcpy(header.resultDigest, r.data(), kDigestSize);
  uint8_t bytes[kDeltaHeaderSize];
  PutDeltaHeader(header, bytes);
  std::string delta(reinterpret_cast<char*>(bytes), sizeof bytes);
  size_t same = 0;
  while (same < base.size() && same < result.size() && base[same] == result[same]) ++same;
  if (same) Number(delta, same << 1 | 1), Number(delta, 0);
  if (same < result.size()) Number(delta, (result.size() - same) << 1), delta += result.substr(same);
  return delta;
}

class EngineDelta : public EngineTest {
protected:
  void UseDelta(bool withFull) {
    std::vector<fa2::PackMember> members = {
        Member("\\delta\\GAME.DAT", MakeDelta(kBase, kResult), true, true, kMemberTime),
        Member("CONFIG.DAT", "new config", false, false, kMemberTime)};
    if (withFull) members.push_back(Member("GAME.DAT", kFull, true, true, kMemberTime));
    fa2::PackOptions options;
    options.digests = true;
    CloseArchive(image);
    ASSERT_TRUE(Mount(fa2::BuildArchive(members, options), image));
  }
};

const std::string kNotBase =
    "「C:\\Game\\GAME.DAT」は、このアップデートの対象となるバージョンのファイルではないため、"
    "アップデートできません（ファイルが無いか、変更されているか、別のバージョンのものです）";

TEST_F(EngineDelta, BaseDecidesBetweenDeltaFullMemberAndRefusal) {
  struct Case {
    const char* installed; // nullptr: no file
    bool withFull;
    const char* written; // nullptr: refused, nothing changed
    bool link = false;   // GAME.DAT is a link to a file elsewhere holding `installed`
  } cases[] = {
      {kBase, false, kResult},
      {kBase, false, nullptr, true},
      {kBase, true, kResult},
      {"the installed game, version 1.00, changed", false, nullptr},
      {"the installed game, version 1.00, changed", true, kFull},
      {nullptr, false, nullptr},
      {nullptr, true, kFull},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.installed ? c.installed : "(none)");
    fake::Reset();
    SetUp();
    UseDelta(c.withFull);
    // CONFIG.DAT comes first: a refusal must come before it is written.
    Ini({"UpdateFile00=CONFIG.DAT", "UpdateFile01=GAME.DAT"});
    fake::AddFile("C:\\Game\\CONFIG.DAT", "old config");
    const std::string installedAt = c.link ? "C:\\Elsewhere\\GAME.DAT" : "C:\\Game\\GAME.DAT";
    if (c.installed) fake::AddFile(installedAt, c.installed);
    if (c.link) fake::AddLink("C:\\Game\\GAME.DAT", "C:\\Elsewhere\\GAME.DAT", false);
    const std::vector<std::string> before = fake::AllFiles();
    const intptr_t result = Run();
    if (c.written) {
      ExpectCompleted();
      EXPECT_EQ(c.written, fake::Content("C:\\Game\\GAME.DAT"));
      EXPECT_EQ("new config", fake::Content("C:\\Game\\CONFIG.DAT"));
    } else {
      ExpectRefusedWith(result, kNotBase);
      EXPECT_EQ(before, fake::AllFiles());
      EXPECT_EQ("old config", fake::Content("C:\\Game\\CONFIG.DAT"));
      if (c.installed) {
        EXPECT_EQ(c.installed, fake::Content(installedAt));
      }
    }
  }
}

// The base checked by the plan is read again while the delta is applied: a
// file changed in between makes another result, which is never swapped in.
TEST_F(EngineDelta, ResultThatIsNotTheDeltasIsNotWritten) {
  UseDelta(false);
  fake::AddFile("C:\\Game\\GAME.DAT", "THE installed game, version 1.00, changed under us");
  LineMember member;
  UpdateEntry entry{};
  std::strcpy(entry.relativePath, "GAME.DAT"); // its member is the whole path
  FindLineMember(image, entry, &member);
  ASSERT_TRUE(member.hasDelta);
  EXPECT_FALSE(member.hasFull);
  uint32_t error = 0;
  MemberProblem problem = MemberProblem::None;
  EXPECT_EQ(0,
            WriteDeltaFile(image, member.delta, "C:\\Game\\GAME.DAT", "C:\\Game\\NEW.DAT", nullptr, &error, &problem));
  EXPECT_EQ(MemberProblem::NotBase, problem);
}

} // namespace
