// The updater's profile reader against the system's: each case's file is
// read by GetPrivateProfileStringA (code page 932) and by ReadProfileString,
// and their counts and buffers must be equal byte for byte. Both buffers are
// zero up to the capacity, as the callers leave them, and guarded after it.
// Then the few places where the reader follows Windows rather than Wine's
// read, each pinned on both sides.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settings.h"

using namespace std::string_view_literals;

namespace {

struct Read {
  const char* section;
  const char* key;
  uint32_t capacity;
};
struct Case {
  std::string_view text; // a null view: no file at all
  std::vector<Read> reads;
};

const std::string kLong(2000, 'v');
std::string Repeat(std::string_view s, int n) {
  std::string r;
  while (n-- > 0) r += s;
  return r;
}
const std::string kLongJapanese = Repeat("表", 1000);
const std::string kLongFile = "[Pad]\r\nPad=" + std::string(700, 'p') + "\r\n[S]\r\nK=" + Repeat("あ", 300) + "\r\n";
const std::string kLongFiles[] = {"[S]\r\nK=" + kLong + "\r\nQ=\"" + kLong + "\"\r\n",
                                  "[S]\r\nK=" + kLongJapanese + "\r\n"};

const Case kCases[] = {
    // An installer's SETUP.INI, with Japanese sections, keys and values.
    {"[SETUP]\r\nCompanyName=株式会社テスト\r\nGameTitle = \"  表示テスト  \"\r\n"
     "GameDir=ソフト\\表示\r\nUninstExe='uninst.exe'\r\n[設定]\r\n名前=値です\r\n"sv,
     {{"SETUP", "CompanyName", 260},
      {"setup", "gametitle", 260},
      {"SETUP", "GameDir", 260},
      {"Setup", "UninstExe", 260},
      {"設定", "名前", 260},
      {"SETUP", "Missing", 260},
      {"Absent", "GameDir", 260},
      {"SETUP", "名前", 260}}},
    // Second bytes that look like ']', '[', '\', letters; '=' after a lead byte.
    {"[ア\x83]]\r\nK=表\\表\r\n[ア\x83]\r\nL=1\r\n\x83"
     "A=kana\r\nM\x83=v\r\n"
     "[x\x83[]\r\nK=\x83"
     "a\x83"
     "Z\r\n"sv,
     {{"ア\x83]", "K", 260},
      {"ア", "K", 260},
      {"ア\x83]", "L", 260},
      {"ア\x83]", "[ア\x83]", 260},
      {"ア\x83]",
       "\x83"
       "A",
       260},
      {"ア\x83]",
       "\x83"
       "a",
       260},
      {"ア\x83]", "M\x83", 260},
      {"ア\x83]", "M", 260},
      {"x\x83[", "K", 260}}},
    // A lead byte takes the line end, the NUL or the end of the file after it.
    {"[S]\r\nK=abc\x81\nL=1\r\nM=d\x81\r\nN=e\x81\0f\r\nO=\x83=\r\nP=g\x81"sv,
     {{"S", "K", 260}, {"S", "L", 260}, {"S", "M", 260}, {"S", "N", 260}, {"S", "O", 260}, {"S", "P", 260}}},
    // Letter case: ASCII letters only.
    {"[setup]\r\ngameexe=game.exe\r\n\x82\x60=full\r\n\x83\x9f=greek\r\n\x84\x40=cyrillic\r\n"sv,
     {{"SETUP", "GameExe", 260},
      {"Setup", "GAMEEXE", 260},
      {"SETU", "GameExe", 260},
      {"SETUP", "GameEx", 260},
      {"SETUP", "\x82\x81", 260},
      {"SETUP", "\x83\xbf", 260},
      {"SETUP", "\x84\x70", 260},
      {"SETUP", "\x82\x60", 260}}},
    // Blanks, and bytes that are not blanks.
    {"  [ \tSETUP\x0b ]  \r\n \t Key \x0b=\x0c two  words \x1a\t \r\nK2=\x1c"
     "a\x1f\r\n"
     "K3=\x81\x40全角\x81\x40\r\nK4=\x80\xa0\xb1\xdf\xfd\xfe\xff\r\n\x1a"
     "K5\x1a=\x1a"
     "5\r\n"sv,
     {{"SETUP", "Key", 260},
      {" SETUP\t", "\x0bKey\x0c", 260},
      {"SETUP", "K2", 260},
      {"SETUP", "K3", 260},
      {"SETUP", "K4", 260},
      {"SETUP", "K5", 260}}},
    // One pair of enclosing quotes.
    {"[S]\nA=\"quoted\"\nB='single'\nC=\"  padded  \"\nD=\"mixed'\nE=\"\nF=\"\"\nG=\"a\"b\"\n"
     "H=''x''\nI=x\"y\"\nJ= \"a\" \nK='\nL=\"表\"\n"sv,
     {{"S", "A", 260},
      {"S", "B", 260},
      {"S", "C", 260},
      {"S", "D", 260},
      {"S", "E", 260},
      {"S", "F", 260},
      {"S", "G", 260},
      {"S", "H", 260},
      {"S", "I", 260},
      {"S", "J", 260},
      {"S", "K", 260},
      {"S", "L", 260}}},
    // Comments.
    {";K=before\r\n[S]\r\n;K=commented\r\n  ; K=also\r\n;[T]\r\nK=real\r\n; note\r\n"sv,
     {{"S", "K", 260}, {"S", "; note", 260}, {"T", "K", 260}}},
    // Repeated sections and keys: the first of each decides.
    {"[S]\r\nK=first\r\nk=second\r\nBare\r\nBare=2\r\n[T]\r\nX=t\r\n[s]\r\nK=later\r\nY=y\r\n"sv,
     {{"S", "K", 260}, {"S", "Bare", 260}, {"S", "Y", 260}, {"T", "X", 260}}},
    // Lines without '=', and '[' lines that are no section.
    {"[S]\r\nNoEquals\r\n[T\r\nK=1\r\n[U=x\r\nEmpty=\r\nBlank=   \r\nE==b\r\nF=a=b = c\r\n"sv,
     {{"S", "NoEquals", 260},
      {"T", "K", 260},
      {"S", "K", 260},
      {"S", "[T", 260},
      {"S", "[U", 260},
      {"S", "Empty", 260},
      {"S", "Blank", 260},
      {"S", "E", 260},
      {"S", "F", 260}}},
    // The section line: its last ']', text after it, an empty name, lines
    // before the first section.
    {"K=0\r\n[T]x\r\nK=1\r\n[a]b]\r\nK=2\r\n[]\r\nK=3\r\n"sv,
     {{"T", "K", 260}, {"a]b", "K", 260}, {"a", "K", 260}, {"", "K", 260}}},
    // Line ends: LF, CR, CR LF, runs of them, none at the end.
    {"[S]\nA=1\rB=2\r\n\r\n\n\rC=3\n\rD=4"sv, {{"S", "A", 260}, {"S", "B", 260}, {"S", "C", 260}, {"S", "D", 260}}},
    // NUL bytes end names and values.
    {"[S\0x]\r\nA=a\0b\r\nB\0X=v\r\nC=\0\0c\r\nD=d \0\r\nE=\"e\0\"\r\n"sv,
     {{"S", "A", 260}, {"S", "B", 260}, {"S", "C", 260}, {"S", "D", 260}, {"S", "E", 260}}},
    // The cut: single and double bytes around the capacity, with and without quotes.
    {"[S]\r\nA=abcdef\r\nB=\"abcdef\"\r\nC=表表表\r\nD=a表b\r\nE=\"表表\"\r\nF=ab表\"\r\n"sv,
     {{"S", "A", 0}, {"S", "A", 1}, {"S", "A", 2}, {"S", "A", 4}, {"S", "A", 6}, {"S", "A", 7}, {"S", "B", 1},
      {"S", "B", 2}, {"S", "B", 4}, {"S", "B", 6}, {"S", "B", 8}, {"S", "C", 2}, {"S", "C", 3}, {"S", "C", 4},
      {"S", "C", 5}, {"S", "C", 6}, {"S", "C", 7}, {"S", "D", 2}, {"S", "D", 3}, {"S", "D", 4}, {"S", "D", 5},
      {"S", "E", 2}, {"S", "E", 4}, {"S", "E", 5}, {"S", "F", 4}, {"S", "F", 5}}},
    {kLongFiles[0], {{"S", "K", 260}, {"S", "K", 1024}, {"S", "Q", 1024}, {"S", "Q", 259}}},
    {kLongFiles[1], {{"S", "K", 20}, {"S", "K", 260}, {"S", "K", 1024}, {"S", "K", 1023}}},
    {kLongFile, {{"S", "K", 1024}, {"Pad", "Pad", 1024}}},
    // No file, an empty file, a file without sections.
    {std::string_view(), {{"S", "K", 260}}},
    {""sv, {{"S", "K", 260}}},
    {"K=v\r\n"sv, {{"S", "K", 260}}},
};

// Where Wine's read and the reader part, and why the reader is right.
struct Parting {
  std::string_view text;
  Read read;
  std::string_view wine, reader; // the texts stored
  uint32_t wineCount, readerCount;
};
const Parting kPartings[] = {
    // Quotes go and a value that fits is not cut (Wine drops its last
    // character when the closing quote alone did not fit).
    {"[S]\r\nK=\"abcdef\"\r\n"sv, {"S", "K", 7}, "abcde"sv, "abcdef"sv, 5, 6},
    {"[S]\r\nK='x'\r\n"sv, {"S", "K", 2}, ""sv, "x"sv, 0, 1},
    // Windows reads a UTF-8 byte-order mark as text of the first line.
    {"\xef\xbb\xbf[S]\r\nK=1\r\n"sv, {"S", "K", 260}, "1"sv, ""sv, 1, 0},
    // The system's round trip through UTF-16 changes an unassigned code and
    // an NEC duplicate; the reader keeps the file's bytes.
    {"[S]\r\nK=\x85\x40\x87\x90\r\n"sv, {"S", "K", 260}, "\x81\x45\x81\xe0"sv, "\x85\x40\x87\x90"sv, 4, 4},
};

constexpr uint32_t kGuard = 8;

struct Result {
  uint32_t count;
  std::string buffer; // capacity + guard bytes
};

Result ReadBySystem(const Read& r, const std::string& path) {
  std::string buffer(r.capacity + kGuard, '\0');
  std::memset(&buffer[r.capacity], 0xEE, kGuard);
  const uint32_t count = GetPrivateProfileStringA(r.section, r.key, "", &buffer[0], r.capacity, path.c_str());
  return {count, buffer};
}

Result ReadByReader(const Read& r, const std::string& path) {
  std::string buffer(r.capacity + kGuard, '\0');
  std::memset(&buffer[r.capacity], 0xEE, kGuard);
  return {ReadProfileString(r.section, r.key, &buffer[0], r.capacity, path.c_str()), buffer};
}

std::string Shown(const Result& r) {
  std::string s = std::to_string(r.count) + " ";
  char hex[4];
  for (unsigned char c : r.buffer) std::snprintf(hex, sizeof hex, "%02x", c), s += hex;
  return s;
}

std::string WriteCase(const std::string& scratch, int index, std::string_view text) {
  const std::string path = scratch + "\\profile" + std::to_string(index) + ".ini";
  DeleteFileA(path.c_str());
  if (text.data() != nullptr) {
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  return path;
}

} // namespace

// Adds its checks and failures to the platform tests' counts. The system's
// read is the reference only where the system's code page is 932.
void CheckProfileEquivalence(const std::string& scratch, int* checks, int* failures) {
  if (GetACP() != 932) {
    std::printf("SKIP profile equivalence: the system's code page is %u, not 932\n", GetACP());
    return;
  }
  int index = 0;
  for (const Case& c : kCases) {
    const std::string path = WriteCase(scratch, index++, c.text);
    for (const Read& r : c.reads) {
      const Result system = ReadBySystem(r, path), reader = ReadByReader(r, path);
      ++*checks;
      if (system.count == reader.count && system.buffer == reader.buffer) continue;
      ++*failures;
      std::printf("FAIL profile case %d [%s] %s (%u): system %s, reader %s\n", index - 1, r.section, r.key, r.capacity,
                  Shown(system).c_str(), Shown(reader).c_str());
    }
  }
  for (const Parting& p : kPartings) {
    const std::string path = WriteCase(scratch, index++, p.text);
    const Result system = ReadBySystem(p.read, path), reader = ReadByReader(p.read, path);
    const auto is = [&](const Result& r, std::string_view text, uint32_t count) {
      std::string expected(text);
      expected.resize(p.read.capacity, '\0');
      return r.count == count && r.buffer.compare(0, p.read.capacity, expected) == 0;
    };
    ++*checks;
    if (is(system, p.wine, p.wineCount) && is(reader, p.reader, p.readerCount)) continue;
    ++*failures;
    std::printf("FAIL profile parting %d [%s] %s (%u): system %s, reader %s\n", index - 1, p.read.section, p.read.key,
                p.read.capacity, Shown(system).c_str(), Shown(reader).c_str());
  }
}
