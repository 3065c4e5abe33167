// Profile (INI) files, read from their bytes through the seam's file
// operations. The system's own profile read converts a file with the
// system's code page, which is 932 only on Japanese Windows; this reader
// gives, on any system, what that read gives on a code-page-932 system for
// one section and key with the default "".
//
// The format, as the system reads it:
//
// - Text is Shift-JIS. A lead byte (0x81-0x9F, 0xE0-0xFC) and the byte after
//   it are one character whatever that byte is, unless it is a NUL or there
//   is none: a second byte is never a ']', '=', blank, line end or letter of
//   its own. A pair whose second byte cannot follow a lead byte (below 0x40,
//   0x7F, above 0xFC) and a lead byte alone are characters the code page
//   cannot map; they read as "・" (0x81 0x45). Every other byte stands alone.
// - Lines end at every CR and every LF. Blanks are tab, VT, FF, ^Z (0x1A)
//   and space. A line loses its blanks at both ends; an empty line is nothing.
// - A line that starts with '[' and holds a ']' opens a section named by the
//   text between the '[' and the line's last ']', without blanks at either
//   end; the rest of the line is ignored. Lines before the first section
//   belong to a section named "".
// - Every other line is a key line: the key name is the text before its
//   first '=' without blanks at the end, the value the text after it without
//   blanks at either end. A line without '=' names a key that has no value.
//   There is no comment syntax: "; note=x" is a key named "; note", a name
//   that nobody asks for.
// - A NUL byte ends a name or a value; the rest of its line is not part of
//   it (though an '=' there still ends the key name).
// - Names match without regard to the case of ASCII letters; double-byte
//   characters match exactly. The names asked for lose their blanks at both
//   ends first. Only the first section of the name is searched, and the
//   first line of the key there decides: a key without a value, or with an
//   empty one, reads as missing.
// - A value of two or more characters that starts and ends with the same
//   quote ('"' or '\'') loses those two quotes.
// - The value is stored cut to the whole characters that fit in capacity - 1
//   bytes and terminated; the buffer's other bytes up to the capacity are
//   zero. The result is the number of bytes stored, or capacity - 1 when the
//   value did not fit (also when the cut left one byte free because the next
//   character has two). A missing file, section, key or value gives 0.
//
// Where the system's own result differs: it converts the file through
// UTF-16, so a double-byte code that code page 932 leaves unassigned comes
// back as "・" and an NEC or IBM duplicate of a character as the code the
// conversion prefers; this reader keeps the file's bytes. And in two places
// this reader follows Windows where Wine's read (the reference elsewhere)
// departs from it: a quoted value that fits is never cut (Wine's read drops
// its last character when only the closing quote did not fit), and a UTF-8
// byte-order mark is text of the first line (Wine's read takes it as a mark).
//
// The tools see the same lines: WalkProfileText takes a text apart line by
// line with the reads' own scanning and hands each section line and key
// line over, its name where the text has it and its value as a read of
// that line gives it; ProfileNameIs is the reads' comparison of names.
//
// Limits: the file is read in pieces of kPieceSize bytes and never held
// whole, so any size of file and length of line is read; reading stops at
// the answer. Of a value only the bytes that can be stored are kept (at
// most `capacity` of them). A file that cannot be opened, or whose reading
// fails before the answer is known, reads as missing.
#include <cstring>

#include "settings/settings.h"

namespace {

constexpr uint32_t kPieceSize = 512;
constexpr uint16_t kUnmapped = 0x8145;        // "・"
constexpr uint32_t kCountLimit = 0xFFFF0000u; // a value's bytes are counted up to it

// A character: a single byte, or a lead byte and its second byte as
// (lead << 8) | second.
using Char = uint16_t;
constexpr int32_t kEnd = -1;

bool IsLead(uint8_t b) { return Cp932IsLeadByte(b) != 0; }
bool IsSecond(uint8_t b) { return Cp932IsTrailByte(b) != 0; }
bool IsBlankChar(Char c) { return c == '\t' || c == 0x0B || c == 0x0C || c == 0x1A || c == ' '; }
bool IsLineEnd(Char c) { return c == '\r' || c == '\n'; }
Char Folded(Char c) { return c >= 'a' && c <= 'z' ? Char(c - 'a' + 'A') : c; }
uint32_t SizeOf(Char c) { return c > 0xFF ? 2 : 1; }

// The character that starts with `first`, given the byte after it (kEnd
// when there is none). *used: how many bytes it takes, 1 or 2.
Char Decode(uint8_t first, int32_t next, uint32_t* used) {
  *used = 1;
  if (!IsLead(first)) return first;
  if (next <= 0) return kUnmapped; // a NUL or nothing follows: alone
  *used = 2;
  return IsSecond(uint8_t(next)) ? Char(first << 8 | next) : kUnmapped;
}

// A name asked for (NUL-terminated), without its blanks at both ends.
struct Name {
  const uint8_t* text;
  uint32_t size;
};

Name Trimmed(const char* name) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(name);
  uint32_t used;
  while (*p != 0 && IsBlankChar(Decode(p[0], p[1], &used))) p += used;
  uint32_t size = 0;
  for (uint32_t i = 0; p[i] != 0;) {
    const Char c = Decode(p[i], p[i + 1], &used);
    i += used;
    if (!IsBlankChar(c)) size = i;
  }
  return {p, size};
}

// Compares a name of the file, given a character at a time, with a name
// asked for. Blanks count only once a character other than a blank follows
// them; a NUL ends the file's name.
struct NameMatch {
  static constexpr uint32_t kDiffers = 0xFFFFFFFFu;
  Name want;
  uint32_t at = 0;   // bytes of `want` matched so far, or kDiffers
  uint32_t kept = 0; // the same, up to the last character that counts
  bool ended = false;

  explicit NameMatch(Name name) : want(name) {}

  void Feed(Char c) {
    if (ended) return;
    if (c != 0 && at != kDiffers) {
      uint32_t used = 0;
      const bool same = at < want.size && Folded(Decode(want.text[at], want.text[at + 1], &used)) == Folded(c);
      at = same ? at + used : kDiffers;
    }
    if (!IsBlankChar(c)) kept = at;
    ended = c == 0;
  }
  bool Matches() const { return kept == want.size; }
};

// A value as it is read: its first bytes go straight into the caller's
// buffer (whole characters, at most the capacity: one byte more than the
// text can have, for an opening quote), the rest is only counted.
struct Value {
  uint8_t* out;
  uint32_t capacity;
  uint32_t stored = 0;
  bool full = false; // a character did not fit; none after it is stored
  bool ended = false;
  Char first = 0;
  uint32_t bytes = 0, keptBytes = 0; // counted up to kCountLimit
  Char last = 0, keptLast = 0;       // kept: up to the last character that counts

  void Reset() {
    stored = bytes = keptBytes = 0;
    full = ended = false;
  }
  void Add(Char c) {
    if (ended) return;
    if (c != 0) {
      const uint32_t size = SizeOf(c);
      if (!full && stored + size <= capacity) {
        if (size == 2) out[stored++] = uint8_t(c >> 8);
        out[stored++] = uint8_t(c);
      } else {
        full = true;
      }
      if (bytes == 0) first = c;
      if (bytes < kCountLimit) bytes += size;
      last = c;
      if (IsBlankChar(c)) return;
    }
    keptBytes = bytes;
    keptLast = last;
    ended = c == 0;
  }

  // Unquotes, cuts and terminates the value in place; the count stored.
  // (Bytes stored after the last character that counts are blanks beyond
  // any cut.)
  uint32_t Finish() const {
    const bool quoted = (first == '"' || first == '\'') && keptBytes >= 2 && keptLast == first;
    const uint32_t skip = quoted ? 1 : 0;
    const uint32_t size = keptBytes - 2 * skip;
    const uint32_t limit = capacity - 1;
    uint32_t length = 0, count = limit;
    if (size <= limit) {
      length = count = size;
    } else {
      while (length < limit) {
        const uint32_t next = IsLead(out[skip + length]) ? 2 : 1;
        if (length + next > limit || skip + length + next > stored) break;
        length += next;
      }
    }
    if (skip) std::memmove(out, out + 1, length);
    std::memset(out + length, 0, capacity - length);
    return count;
  }
};

// The file's bytes, a piece at a time; or bytes in memory, all at once.
struct Source {
  FileHandle file = kInvalidFile;
  uint8_t piece[kPieceSize];
  const uint8_t* data = piece;
  uint32_t at = 0, size = 0;
  bool end = false, failed = false;
  uint32_t begin = 0, offset = 0; // in the whole text: the last character read, and past it

  int32_t Peek() {
    if (at == size) {
      if (end) return kEnd;
      uint32_t done = 0;
      if (!ReadFromFile(file, piece, kPieceSize, &done)) failed = true;
      at = 0;
      size = failed ? 0 : done;
      if (size == 0) {
        end = true;
        return kEnd;
      }
    }
    return data[at];
  }
  // The next character, or kEnd.
  int32_t Next() {
    const int32_t first = Peek();
    if (first == kEnd) return kEnd;
    ++at;
    uint32_t used;
    const Char c = Decode(uint8_t(first), IsLead(uint8_t(first)) ? Peek() : kEnd, &used);
    if (used == 2) ++at;
    begin = offset;
    offset += used;
    return c;
  }
};

// One line as the reads take it apart. Positions are offsets in the text.
struct Line {
  uint32_t start = 0;                  // of its first character
  bool header = false;                 // a section line
  bool sectionMatches = false;         // a section line naming the section asked for
  bool equals = false;                 // a key line with '='
  bool keyMatches = false;             // a key line naming the key asked for
  uint32_t nameStart = 0, nameEnd = 0; // the section's or key's name, without blanks at both ends
};

// Reads the next line that is not empty, with its end: false at the end of
// the text or when reading fails. A line of the section being read
// (`inSection`) feeds its key name to the match with `key`, and its value
// into `value` when the key matches or `everyValue` is set.
bool ScanLine(Source& source, bool inSection, Name section, Name key, bool everyValue, Value& value, Line& line) {
  int32_t c = source.Next();
  while (c != kEnd && (IsBlankChar(Char(c)) || IsLineEnd(Char(c)))) c = source.Next();
  if (c == kEnd) return false;

  line = Line{};
  line.start = source.begin;
  const bool bracket = c == '[';
  NameMatch sectionName(section), keyName(key);
  bool closed = false, sectionStarted = false;
  uint32_t sectionStart = 0, sectionEnd = 0, keyEnd = line.start;
  enum { kKeyName, kValueStart, kValue, kIgnored } part = inSection ? kKeyName : kIgnored;
  for (bool first = true; c != kEnd && !IsLineEnd(Char(c)); c = source.Next(), first = false) {
    if (bracket && !first) {
      if (c == ']') {
        closed = true;
        line.sectionMatches = sectionName.Matches();
        line.nameStart = sectionStart;
        line.nameEnd = sectionEnd;
      }
      if (!sectionStarted && !IsBlankChar(Char(c))) {
        sectionStarted = true;
        sectionStart = sectionEnd = source.begin;
      }
      if (sectionStarted) {
        sectionName.Feed(Char(c));
        if (!sectionName.ended && !IsBlankChar(Char(c))) sectionEnd = source.offset;
      }
    }
    switch (part) {
      case kKeyName:
        if (c != '=') {
          keyName.Feed(Char(c));
          if (!keyName.ended && !IsBlankChar(Char(c))) keyEnd = source.offset;
          break;
        }
        line.equals = true;
        line.keyMatches = keyName.Matches();
        part = line.keyMatches || everyValue ? kValueStart : kIgnored;
        value.Reset();
        break;
      case kValueStart:
        if (IsBlankChar(Char(c))) break;
        part = kValue;
        [[fallthrough]];
      case kValue: value.Add(Char(c)); break;
      case kIgnored: break;
    }
  }
  if (source.failed) return false;
  line.header = bracket && closed;
  if (!line.header) {
    line.nameStart = line.start;
    line.nameEnd = keyEnd;
    if (!line.equals) line.keyMatches = keyName.Matches();
  }
  return true;
}

// Reads the file line by line up to the answer: the count stored, 0 when
// the key has no value (the buffer is then left to be cleared).
uint32_t Search(Source& source, Name section, Name key, Value& value) {
  bool inSection = section.size == 0; // the lines before the first section
  Line line;
  while (ScanLine(source, inSection, section, key, false, value, line)) {
    if (line.header) {
      if (inSection) return 0; // the first section of the name ends without the key
      inSection = line.sectionMatches;
      continue;
    }
    if (inSection && line.keyMatches) return line.equals ? value.Finish() : 0;
  }
  return 0;
}

} // namespace

uint32_t ReadProfileString(const char* section, const char* key, char* buffer, uint32_t capacity, const char* file) {
  if (capacity == 0) return 0;
  std::memset(buffer, 0, capacity);
  if (section == nullptr || key == nullptr || file == nullptr) return 0;
  Source source;
  source.file = OpenFileForRead(file);
  if (source.file == kInvalidFile) return 0;
  Value value{reinterpret_cast<uint8_t*>(buffer), capacity};
  const uint32_t count = Search(source, Trimmed(section), Trimmed(key), value);
  CloseFile(source.file);
  if (count == 0) std::memset(buffer, 0, capacity);
  return count;
}

uint32_t ReadProfileText(const char* section, const char* key, char* buffer, uint32_t capacity, const uint8_t* text,
                         uint32_t size) {
  if (capacity == 0) return 0;
  std::memset(buffer, 0, capacity);
  if (section == nullptr || key == nullptr || text == nullptr) return 0;
  Source source;
  source.data = text;
  source.size = size;
  source.end = true;
  Value value{reinterpret_cast<uint8_t*>(buffer), capacity};
  const uint32_t count = Search(source, Trimmed(section), Trimmed(key), value);
  if (count == 0) std::memset(buffer, 0, capacity);
  return count;
}

void WalkProfileText(const uint8_t* text, uint32_t size, char* buffer, uint32_t capacity, ProfileVisit visit,
                     void* context) {
  if (text == nullptr || buffer == nullptr || capacity == 0) return;
  Source source;
  source.data = text;
  source.size = size;
  source.end = true;
  Value value{reinterpret_cast<uint8_t*>(buffer), capacity};
  const Name none{text, 0};
  Line line;
  while (ScanLine(source, true, none, none, true, value, line)) {
    ProfileLine seen{line.start,
                     line.header ? 1 : 0,
                     text + line.nameStart,
                     line.nameEnd - line.nameStart,
                     line.equals ? 1 : 0,
                     buffer,
                     0};
    if (!line.header && line.equals) {
      seen.valueCount = value.Finish();
    } else {
      std::memset(buffer, 0, capacity);
    }
    if (!visit(context, seen)) return;
  }
}

int ProfileNameIs(const uint8_t* name, uint32_t size, const char* wanted) {
  NameMatch match(Trimmed(wanted));
  for (uint32_t i = 0; i < size;) {
    uint32_t used;
    const Char c = Decode(name[i], i + 1 < size ? name[i + 1] : kEnd, &used);
    i += used;
    match.Feed(c);
  }
  return match.Matches();
}
