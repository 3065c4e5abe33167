// The update folder as `fa2 build` reads it: UPDATE.INI's profile syntax,
// the list and line syntax the updater applies, and the checks, each tripped
// on purpose, with the sample update staying quiet. Literals are code page
// 932 here (the tests are compiled with that execution character set).
#include <gtest/gtest.h>

#include <filesystem>

#include "fa2/lib/update_checks.h"

using namespace fa2;

namespace {

std::vector<std::string> Texts(const std::vector<ListItem>& items) {
  std::vector<std::string> out;
  for (const ListItem& i : items) out.push_back(i.text);
  return out;
}

using Strings = std::vector<std::string>;

} // namespace

// ---- Profile syntax ------------------------------------------------------------------

TEST(UpdateIni, FirstSectionAndFirstKeyWinNamesIgnoreCaseValuesAreTrimmedAndUnquoted) {
  const IniFile ini = ParseIni(
      "Orphan=before any section\r\n"
      "[Setup]\r\n"
      "  companyname =  \"Quoted Soft\"  \r\n"
      "; CompanyName=comment\n"
      "CompanyName=second line loses\n"
      "Bare\n"
      "Single='mixed\"\n"
      "Pair='one pair only''\n"
      "Double=\"\"x\"\"\n"
      "[SETUP]\n"
      "GameDir=from the second section\n");
  EXPECT_EQ("Quoted Soft", ReadIniValue(ini, "SETUP", "CompanyName", 260));
  EXPECT_EQ("", ReadIniValue(ini, "SETUP", "GameDir", 260)); // only the first [SETUP] is searched
  EXPECT_EQ("", ReadIniValue(ini, "SETUP", "Orphan", 260));
  const IniEntry* bare = FindIniEntry(ini, "setup", "BARE");
  ASSERT_NE(nullptr, bare);
  EXPECT_FALSE(bare->hasEquals);
  EXPECT_EQ(6, bare->line);
  EXPECT_EQ("'mixed\"", ReadIniValue(ini, "SETUP", "Single", 260));     // quotes must match at both ends
  EXPECT_EQ("one pair only'", ReadIniValue(ini, "SETUP", "Pair", 260)); // and only one pair goes
  EXPECT_EQ("\"x\"", ReadIniValue(ini, "SETUP", "Double", 260));
  EXPECT_EQ("Quo", ReadIniValue(ini, "SETUP", "CompanyName", 4)); // cut to capacity - 1
  EXPECT_EQ(3, FindIniEntry(ini, "SETUP", "CompanyName")->line);
}

TEST(UpdateIni, ATrailByteIsNeitherABracketNorALetter) {
  // 0x81 0x5D is one character whose second byte has the code of ']'.
  const IniFile ini = ParseIni("[A\x81\x5D]\nKey=1\n[B\x81\x5D\nKey=2\n");
  ASSERT_EQ(1u, ini.sections.size());
  EXPECT_EQ("A\x81\x5D", ini.sections[0].name);
  // "[B.." has no closing bracket: an ordinary line (a key without '=') of section A.
  ASSERT_EQ(3u, ini.sections[0].entries.size());
  EXPECT_EQ("[B\x81\x5D", ini.sections[0].entries[1].key);
  EXPECT_EQ("1", ReadIniValue(ini, "A\x81\x5D", "key", 260)); // the first Key wins
  EXPECT_FALSE(SameIniName("\x82\x61", "\x82\x41"));          // second bytes 'a'/'A' of two different characters
  EXPECT_TRUE(SameIniName("updatefile00", "UpdateFile00"));
}

TEST(UpdateIni, ShiftJisAndUtf8AreToldApart) {
  EXPECT_TRUE(IsValidCp932("サンプルゲーム"));
  EXPECT_FALSE(LooksLikeUtf8("サンプルゲーム"));
  EXPECT_TRUE(LooksLikeUtf8("\xE3\x82\xB5\xE3\x83\xB3")); // サン in UTF-8
  EXPECT_FALSE(LooksLikeUtf8("plain ASCII"));
  EXPECT_FALSE(IsValidCp932("\x82"));     // a lead byte alone
  EXPECT_FALSE(IsValidCp932("\x82\x20")); // a trail byte below 0x40
  EXPECT_TRUE(IsValidCp932("\xB1\xB2"));  // half-width katakana
  EXPECT_EQ(
      "X\x95\x5C"
      "A",
      UpperCp932("x\x95\x5C"
                 "a"));
}

// ---- List and line syntax --------------------------------------------------------------

TEST(UpdateLines, ItemsAreTakenAsTheUpdatersListReaderTakesThem) {
  bool more = false;
  EXPECT_EQ((Strings{"a", "b ", "c"}), Texts(TakeItems("a, b ,c", 5, &more)));
  EXPECT_FALSE(more);
  EXPECT_EQ((Strings{"x", "y", "z"}), Texts(TakeItems("1:x,y,2:z", 5, &more)));
  EXPECT_EQ((Strings{"abc"}), Texts(TakeItems("x:abc", 5, &more)));
  EXPECT_EQ((Strings{"12:abc"}), Texts(TakeItems("12:abc", 5, &more)));
  EXPECT_EQ((Strings{":b"}), Texts(TakeItems("a::b", 5, &more)));
  EXPECT_EQ((Strings{""}), Texts(TakeItems("2:", 5, &more)));
  EXPECT_EQ((Strings{}), Texts(TakeItems(",a", 5, &more)));
  EXPECT_EQ((Strings{"a"}), Texts(TakeItems("a,,b", 5, &more)));
  EXPECT_EQ((Strings{"a"}), Texts(TakeItems("a,", 5, &more)));
  EXPECT_EQ((Strings{"a", "b"}), Texts(TakeItems("a,b,c", 2, &more)));
  EXPECT_TRUE(more);
  const std::vector<ListItem> prefixed = TakeItems("u,C:\\x.dat", 3, &more);
  EXPECT_TRUE(prefixed[1].discPrefix);
  EXPECT_EQ("C:\\x.dat", prefixed[1].written);
  const std::vector<ListItem> longItem = TakeItems(std::string(300, 'x') + ",y", 3, &more);
  EXPECT_TRUE(longItem[0].cut);
  EXPECT_EQ(259u, longItem[0].text.size());
  EXPECT_EQ("y", longItem[1].text);
}

TEST(UpdateLines, ModeOperationPathAndMemberOfAnUpdateLine) {
  UpdateLineSyntax s = ParseUpdateLineSyntax("1,u,data\\a.dat");
  EXPECT_TRUE(s.hasMode);
  EXPECT_EQ(1, s.mode);
  EXPECT_EQ(LineOperation::Update, s.operation);
  EXPECT_EQ("data\\a.dat", s.path);
  EXPECT_EQ("a.dat", s.member);

  s = ParseUpdateLineSyntax("12,u,x.dat"); // two digits: no mode, a plain entry for "12"
  EXPECT_FALSE(s.hasMode);
  EXPECT_EQ(LineOperation::Plain, s.operation);
  EXPECT_EQ("12", s.path);

  EXPECT_EQ(LineOperation::Update, ParseUpdateLineSyntax("U,x.dat").operation);
  EXPECT_EQ(LineOperation::Check, ParseUpdateLineSyntax("3,E,x.dat").operation);
  EXPECT_EQ("\\x.dat", ParseUpdateLineSyntax("u,C:\\x.dat").path);
  s = ParseUpdateLineSyntax("game.dat");
  EXPECT_EQ(LineOperation::Plain, s.operation);
  EXPECT_EQ("game.dat", s.member);
  // 表 (0x95 0x5C): its second byte is no folder separator.
  EXPECT_EQ(
      "\x95\x5C"
      "x.dat",
      ParseUpdateLineSyntax("d,dir\\\x95\x5C"
                            "x.dat")
          .member);
}

TEST(UpdateLines, CopyLinesAreReadByBytePosition) {
  CopyLineSyntax s = ParseCopyLineSyntax("2:movie\\op.mpg");
  EXPECT_FALSE(s.hasMode);
  EXPECT_EQ(2, s.disc);
  EXPECT_EQ("movie\\op.mpg", s.path);
  s = ParseCopyLineSyntax("1,2:movie");
  EXPECT_TRUE(s.hasMode);
  EXPECT_EQ('1', s.modeByte);
  EXPECT_EQ(2, s.disc);
  EXPECT_EQ("movie", s.path);
  s = ParseCopyLineSyntax("movie,op");
  EXPECT_FALSE(s.hasDisc);
  EXPECT_EQ("movie,op", s.path);
}

// ---- Checks ------------------------------------------------------------------------------

namespace {

const char kSetup[] =
    "[SETUP]\n"
    "CompanyName=SampleSoft\n"
    "GameTitle=サンプルゲーム\n"
    "GameClass=SampleGameWindow\n"
    "GameDir=SampleGame\n";

UpdateFolder Folder(const std::vector<std::pair<std::string, uint64_t>>& files) {
  UpdateFolder f;
  f.files.push_back({"UPDATE.INI", "/nonexistent/UPDATE.INI", 100});
  for (const auto& [relative, size] : files) f.files.push_back({relative, "/nonexistent/" + relative, size});
  return f;
}

// The findings as "E12 text" / "W3 text" lines.
Strings Findings(const UpdateCheck& check) {
  Strings out;
  for (const Finding& f : check.findings) out.push_back((f.error ? "E" : "W") + std::to_string(f.line) + " " + f.text);
  return out;
}

// Whether a finding of that kind and line contains `part`.
::testing::AssertionResult Has(const UpdateCheck& check, char kind, int line, const std::string& part) {
  for (const Finding& f : check.findings)
    if (f.error == (kind == 'E') && f.line == line && f.text.find(part) != std::string::npos)
      return ::testing::AssertionSuccess();
  ::testing::AssertionResult r = ::testing::AssertionFailure();
  r << "no " << kind << line << " containing \"" << part << "\" among:";
  for (const std::string& s : Findings(check)) r << "\n  " << s;
  return r;
}

UpdateCheck Check(const std::string& update, const UpdateFolder& folder = Folder({{"GAME.DAT", 10}})) {
  return CheckUpdate(std::string(kSetup) + update, folder);
}

} // namespace

TEST(UpdateChecks, AWellFormedUpdateIsQuietAndPlansItsMembers) {
  const UpdateFolder folder = Folder({{"GAME.DAT", 10}, {"data\\MAP.DAT", 20}, {"AGREE.TXT", 30}, {"MOVIE.MPG", 40}});
  const UpdateCheck check = CheckUpdate(std::string(kSetup) +
                                            "AgreementText=AGREE.TXT\n"
                                            "[UPDATE]\n"
                                            "RequiredDiskSpace=1000\n"
                                            "UpdateFile00=u,GAME.DAT\n"
                                            "UpdateFile01=1,d,data\\map.dat\n"
                                            "UpdateFile02=2,o,GAME.DAT\n"
                                            "UpdateFile03=o,agree.txt\n"
                                            "UpdateFile04=u,MOVIE.MPG\n"
                                            "CopyFile00=1:movie\n"
                                            "CopyFile01=1,extra\n",
                                        folder);
  EXPECT_TRUE(check.findings.empty()) << ::testing::PrintToString(Findings(check));
  ASSERT_EQ(5u, check.members.size());
  EXPECT_EQ("UPDATE.INI", check.members[0].name);
  EXPECT_FALSE(check.members[0].scramble);
  EXPECT_EQ("AGREE.TXT", check.members[1].name);
  EXPECT_FALSE(check.members[1].scramble); // read in memory, also when an update line ships it
  EXPECT_EQ("GAME.DAT", check.members[2].name);
  EXPECT_TRUE(check.members[2].scramble);
  EXPECT_EQ("map.dat", check.members[3].name); // named as the line writes it
  EXPECT_EQ(2, check.members[3].file);
  EXPECT_EQ("MOVIE.MPG", check.members[4].name);
}

TEST(UpdateChecks, RequiredSetupKeysAndTheEncoding) {
  UpdateCheck c = CheckUpdate("[SETUP]\nCompanyName=x\nGameTitle=\nGameDir=d\n[UPDATE]\nUpdateFile00=u,GAME.DAT\n",
                              Folder({{"GAME.DAT", 1}}));
  EXPECT_TRUE(Has(c, 'E', 3, "GameTitle is empty"));
  EXPECT_TRUE(Has(c, 'E', 1, "GameClass is missing"));
  EXPECT_TRUE(c.HasErrors());

  c = CheckUpdate("[UPDATE]\nUpdateFile00=u,GAME.DAT\n", Folder({{"GAME.DAT", 1}}));
  EXPECT_TRUE(Has(c, 'E', 0, "no [SETUP] section"));

  c = CheckUpdate("\xEF\xBB\xBF" + std::string(kSetup) + "[UPDATE]\nUpdateFile00=u,GAME.DAT\n",
                  Folder({{"GAME.DAT", 1}}));
  EXPECT_TRUE(Has(c, 'E', 1, "byte order mark"));

  c = Check("[UPDATE]\nUpdateFile00=u,\xE3\x82\xB2.DAT\n"); // ゲ in UTF-8
  EXPECT_TRUE(Has(c, 'E', 7, "looks like UTF-8"));

  EXPECT_TRUE(Has(CheckUpdate(kSetup, UpdateFolder{}), 'E', 0, "no UPDATE.INI"));
}

TEST(UpdateChecks, KeysTheUpdaterNeverReads) {
  const UpdateCheck c = Check(
      "[UPDATE]\n"
      "UpdateFile00=u,GAME.DAT\n" // 7
      "UpdateFile02=u,GAME.DAT\n" // 8: after the missing 01
      "UpdateFile16=u,GAME.DAT\n" // 9
      "UpdateFile3=u,GAME.DAT\n"  // 10
      "CopyFile00=\n"             // 11: empty, ends the list
      "CopyFile01=1:movie\n"      // 12
      "UpdateFiles=x\n");         // 13
  EXPECT_TRUE(Has(c, 'E', 8, "UpdateFile02 is never read: the list ends at UpdateFile01, which is missing"));
  EXPECT_TRUE(Has(c, 'E', 9, "only UpdateFile00 to UpdateFile15"));
  EXPECT_TRUE(Has(c, 'E', 10, "two-digit names"));
  EXPECT_TRUE(Has(c, 'E', 12, "CopyFile01 is never read: the list ends at CopyFile00, which is empty"));
  EXPECT_TRUE(Has(c, 'E', 13, "UpdateFiles is never read"));
  EXPECT_FALSE(Has(c, 'E', 7, ""));
  EXPECT_FALSE(Has(c, 'E', 11, ""));
}

TEST(UpdateChecks, LinesThatDoOtherThanTheyLookLike) {
  const UpdateCheck c = Check(
      "[UPDATE]\n"
      "UpdateFile00=12,u,GAME.DAT\n"   // 7
      "UpdateFile01=x,u,GAME.DAT\n"    // 8
      "UpdateFile02=u ,GAME.DAT\n"     // 9
      "UpdateFile03=u,data/GAME.DAT\n" // 10
      "UpdateFile04=u,MISSING.DAT\n"   // 11
      "UpdateFile05=u,sub\\NONE.DAT\n" // 12
      "UpdateFile06=u\n"               // 13
      "UpdateFile07=u,data\\\n"        // 14
      "UpdateFile08=,u,GAME.DAT\n"     // 15
      "CopyFile00=12,movie\n"          // 16
      "CopyFile01=1,\n");              // 17
  EXPECT_TRUE(Has(c, 'E', 7, "\"12\", which is not a mode"));
  EXPECT_TRUE(Has(c, 'E', 8, "\"x\" in UpdateFile01 is not an operation"));
  EXPECT_TRUE(Has(c, 'E', 9, "ends with a blank"));
  EXPECT_TRUE(Has(c, 'E', 10, "with '/'"));
  EXPECT_TRUE(Has(c, 'E', 11, "\"MISSING.DAT\", but the folder has no such file"));
  EXPECT_TRUE(Has(c, 'E', 12, "neither \"sub\\NONE.DAT\" nor \"NONE.DAT\""));
  EXPECT_TRUE(Has(c, 'E', 13, "names no file"));
  EXPECT_TRUE(Has(c, 'E', 14, "names no file"));
  EXPECT_TRUE(Has(c, 'E', 15, "starts with a comma"));
  EXPECT_TRUE(Has(c, 'E', 16, "\"12\", which is not a mode"));
  EXPECT_TRUE(Has(c, 'E', 17, "names nothing to copy"));
}

TEST(UpdateChecks, OneMemberNameFromTwoFoldersIsAnErrorOnlyWhenTheFilesDiffer) {
  UpdateCheck c = Check("[UPDATE]\nUpdateFile00=u,a\\X.DAT\nUpdateFile01=u,b\\x.dat\n",
                        Folder({{"a\\X.DAT", 1}, {"b\\X.DAT", 1}}));
  EXPECT_TRUE(Has(c, 'E', 8, "already takes it from \"a\\X.DAT\""));
  // Both lines take the one file at the top of the folder: the same member, packed once.
  c = Check("[UPDATE]\nUpdateFile00=u,a\\X.DAT\nUpdateFile01=u,b\\x.dat\n", Folder({{"X.DAT", 1}}));
  EXPECT_FALSE(c.HasErrors()) << ::testing::PrintToString(Findings(c));
  EXPECT_EQ(2u, c.members.size());
  // An agreement text and an update line that mean different files.
  c = CheckUpdate(std::string(kSetup) + "AgreementText=X.DAT\n[UPDATE]\nUpdateFile00=u,b\\X.DAT\n",
                  Folder({{"X.DAT", 1}, {"b\\X.DAT", 1}}));
  EXPECT_TRUE(Has(c, 'E', 8, "members are found by file name alone"));
}

TEST(UpdateChecks, NothingToDoAndTextsThatCannotBeFound) {
  UpdateCheck c = Check("[UPDATE]\nUpdateFile00=e,GAME.EXE\n");
  EXPECT_TRUE(Has(c, 'E', 6, "No 'UpdateFileXX' and 'CopyFileXX'"));
  c = Check("");
  EXPECT_TRUE(Has(c, 'E', 0, "no [UPDATE] section"));
  c = CheckUpdate(std::string(kSetup) +
                      "AgreementText=docs\\A.TXT\nAgreementTitle=NONE.TXT\n"
                      "[UPDATE]\nUpdateFile00=u,GAME.DAT\n",
                  Folder({{"GAME.DAT", 1}, {"docs\\A.TXT", 1}}));
  EXPECT_TRUE(Has(c, 'E', 6, "must be a bare file name"));
  EXPECT_TRUE(Has(c, 'E', 7, "which the folder does not have"));
  c = CheckUpdate(std::string("[SETUP]\nCompanyName=") + std::string(300, 'c') + "\n", Folder({}));
  EXPECT_TRUE(Has(c, 'E', 2, "longer than the 259 bytes"));
}

TEST(UpdateChecks, WarningsForLegalLinesThatAreOftenMistakes) {
  const UpdateCheck c = CheckUpdate(std::string(kSetup) +
                                        "DataFolder=save\\slot\n"         // 6
                                        "AgreementText=EMPTY.TXT\n"       // 7
                                        "GameTitel=typo\n"                // 8
                                        "[UPDATE]\n"                      // 9
                                        "RequiredDiskSpace=3000000000\n"  // 10
                                        "UpdateFile00=U,GAME.DAT\n"       // 11
                                        "UpdateFile01=u,C:GAME.DAT\n"     // 12
                                        "UpdateFile02=2,e,GAME.EXE\n"     // 13
                                        "UpdateFile03=GAME.DAT\n"         // 14
                                        "UpdateFile04=u,GAME.DAT,extra\n" // 15
                                        "CopyFile00=movie\n"              // 16
                                        "CopyFile01=x,movie\n"            // 17
                                        "RequiredDiskSpace=1\n"           // 18
                                        "[UPDATE]\n"                      // 19
                                        "OverwriteOnly=1\n",
                                    Folder({{"GAME.DAT", 10}, {"EMPTY.TXT", 0}, {"SPARE.DAT", 5}}));
  EXPECT_FALSE(c.HasErrors()) << ::testing::PrintToString(Findings(c));
  EXPECT_TRUE(Has(c, 'W', 6, "more than one level"));
  EXPECT_TRUE(Has(c, 'W', 7, "empty"));
  EXPECT_TRUE(Has(c, 'W', 8, "unknown key GameTitel"));
  EXPECT_TRUE(Has(c, 'W', 10, "above 2 GiB"));
  EXPECT_TRUE(Has(c, 'W', 11, "upper case"));
  EXPECT_TRUE(Has(c, 'W', 12, "becomes \"GAME.DAT\""));
  EXPECT_TRUE(Has(c, 'W', 13, "\"e\" check"));
  EXPECT_TRUE(Has(c, 'W', 13, "its mode is ignored"));
  EXPECT_TRUE(Has(c, 'W', 14, "no operation letter"));
  EXPECT_TRUE(Has(c, 'W', 15, "more items after its path"));
  EXPECT_TRUE(Has(c, 'W', 16, "no drive is known"));
  EXPECT_TRUE(Has(c, 'W', 17, "mode \"x\", which is not a digit"));
  EXPECT_TRUE(Has(c, 'W', 18, "appears again"));
  EXPECT_TRUE(Has(c, 'W', 19, "second [UPDATE] section is never read"));
  EXPECT_TRUE(Has(c, 'W', 0, "\"SPARE.DAT\" is named by no line"));
  // The "e" check's file is not packed.
  for (const PlannedMember& m : c.members) EXPECT_NE("GAME.EXE", m.name);
}

// What the updater refuses outright is an error of the line that says it.
TEST(UpdateChecks, LinesThatLeaveTheirFolderOrNameNoDiscAreErrors) {
  const struct {
    const char* line;
    const char* error;
  } cases[] = {
      {"UpdateFile00=u,..\\..\\GAME.DAT", "writes outside its folder"},
      {"UpdateFile00=u,\\GAME.DAT", "writes outside its folder"},
      {"UpdateFile00=d,\\\\server\\share\\GAME.DAT", "writes outside its folder"},
      {"UpdateFile00=u,C:\\GAME.DAT", "writes outside its folder"},
      {"CopyFile00=1:..\\movie", "copies from or to outside its folder"},
      {"CopyFile00=x:movie", "disc \"x\", which is not a digit"},
  };
  for (const auto& t : cases) {
    const UpdateCheck c = CheckUpdate(std::string(kSetup) + "[UPDATE]\n" + t.line + "\n", Folder({{"GAME.DAT", 1}}));
    EXPECT_TRUE(Has(c, 'E', 7, t.error)) << t.line << ::testing::PrintToString(Findings(c));
  }
  const UpdateCheck c = CheckUpdate(std::string(kSetup) + "DataFolder=..\\Save\n[UPDATE]\nUpdateFile00=GAME.DAT\n",
                                    Folder({{"GAME.DAT", 1}}));
  EXPECT_TRUE(Has(c, 'E', 6, "leads outside the game's folders")) << ::testing::PrintToString(Findings(c));
}

TEST(UpdateChecks, TheSpaceFigureAsTheUpdaterReadsIt) {
  auto space = [](const std::string& value) {
    return Check("[UPDATE]\nRequiredDiskSpace=" + value + "\nUpdateFile00=u,GAME.DAT\n", Folder({{"GAME.DAT", 5000}}));
  };
  EXPECT_TRUE(Has(space("abc"), 'W', 7, "not a number"));
  EXPECT_TRUE(Has(space("-5"), 'W', 7, "negative"));
  EXPECT_TRUE(Has(space("42MB"), 'W', 7, "only the leading number, 42"));
  EXPECT_TRUE(Has(space("100"), 'W', 7, "less than the 5000 bytes"));
  EXPECT_TRUE(space("2147483647").findings.empty());
  EXPECT_TRUE(space("0").findings.empty());
}

TEST(UpdateChecks, TheSampleUpdateIsQuiet) {
  const std::filesystem::path sample = std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "examples" /
                                       "sample-update";
  UpdateFolder folder;
  std::string error;
  ASSERT_TRUE(ScanUpdateFolder(sample.string(), folder, error)) << error;
  const int self = FindFolderFile(folder, "update.ini");
  ASSERT_GE(self, 0);
  std::FILE* f = std::fopen(folder.files[size_t(self)].localPath.c_str(), "rb");
  ASSERT_NE(nullptr, f);
  std::string ini;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) ini.append(buffer, n);
  std::fclose(f);
  const UpdateCheck check = CheckUpdate(ini, folder);
  EXPECT_TRUE(check.findings.empty()) << ::testing::PrintToString(Findings(check));
  EXPECT_EQ(4u, check.members.size());
}
