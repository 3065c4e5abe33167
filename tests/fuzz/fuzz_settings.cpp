// The updater's profile read and the syntax of list values, whatever the
// text.
//
// Input: one byte choosing the read capacity, then text. The text is read as
// a profile file for a few sections and keys, and taken as a list value, a
// number and a shortcut record.
//
// Checks: no sanitizer report; a profile value is terminated within its
// capacity and holds no line end, and a smaller capacity gives a prefix of
// the same value, cut to whole characters, with the count of a cut; list
// items agree with a plain model of the grammar (blanks dropped before an
// item, a disc prefix of one byte and a colon, items ended by NUL, LF, CR or
// a comma, the list ended by an empty item), fit their 260-byte slot, and
// the cursor only moves forward and never past the end; the leading-integer
// conversions agree with a wide reference and saturate; the shortcut
// record's fields fit their slots.
#include <algorithm>
#include <limits>
#include <memory>

#include "fuzz/fuzz_support.h"
#include "settings/settings.h"

using namespace fuzz_support;

namespace {

constexpr size_t kMaxText = 4096;
const uint32_t kCapacities[] = {1, 2, 3, 20, 260, 1024};

struct Query {
  const char* section;
  const char* key;
};
const Query kQueries[] = {{"SETUP", "GameTitle"},
                          {"UPDATE", "UpdateFile00"},
                          {"update", "copyfile00"},
                          {" SETUP ", " InstallFiles0 "},
                          {"S", "K"},
                          {"", "K"}};

void CheckProfileRead(const std::string& text, uint32_t capacity) {
  for (const Query& q : kQueries) {
    // Exact-size buffers, so a write past the capacity is seen.
    std::unique_ptr<char[]> whole(new char[kTextCapacity]);
    const uint32_t n = fake::ProfileRead(text, q.section, q.key, whole.get(), kTextCapacity);
    FUZZ_CHECK(n < kTextCapacity, q.key);
    FUZZ_CHECK(whole[n] == 0, q.key);
    // A value cut before a double-byte character leaves one byte free.
    const std::string value(whole.get());
    FUZZ_CHECK(n == value.size() || (n == kTextCapacity - 1 && value.size() == n - 1), q.key);
    FUZZ_CHECK(value.find_first_of("\r\n") == std::string::npos, q.key);

    std::unique_ptr<char[]> cut(new char[capacity]);
    const uint32_t m = fake::ProfileRead(text, q.section, q.key, cut.get(), capacity);
    FUZZ_CHECK(m < capacity && cut[m] == 0, q.key);
    const std::string part(cut.get());
    FUZZ_CHECK(value.compare(0, part.size(), part) == 0, q.key);
    if (n == value.size() && n < capacity)
      FUZZ_CHECK(m == n && part == value, q.key);
    else
      FUZZ_CHECK(m == capacity - 1 && part.size() + 1 >= m, q.key);
  }
}

// The list grammar, written plainly over a string.
struct ModelItem {
  std::string text;
  int disc;
};
std::vector<ModelItem> ModelList(const char* value, int startDisc) {
  std::vector<ModelItem> items;
  const auto terminator = [](char c) { return c == 0 || c == '\n' || c == '\r' || c == ','; };
  int disc = startDisc;
  size_t pos = 0;
  const size_t length = std::strlen(value);
  for (;;) {
    while (value[pos] == ' ' || value[pos] == '\t') ++pos;
    if (terminator(value[pos])) break;
    if (value[pos + 1] == ':') {
      disc = value[pos] >= '0' && value[pos] <= '9' ? value[pos] - '0' : 0;
      pos += 2;
    }
    size_t end = pos;
    while (!terminator(value[end])) ++end;
    items.push_back({std::string(value + pos, end - pos), disc});
    if (end >= length) break;
    pos = end + 1;
  }
  return items;
}

void CheckList(const char* value) {
  const std::vector<ModelItem> model = ModelList(value, 7);
  SetCurrentDiscNumber(7);
  const char* cursor = value;
  const char* const end = value + std::strlen(value);
  size_t index = 0;
  std::unique_ptr<char[]> item(new char[kItemCapacity]);
  for (;;) {
    const char* before = cursor;
    const int got = NextListItem(&cursor, item.get());
    FUZZ_CHECK(cursor >= before && cursor <= end, "cursor");
    if (!got) break;
    FUZZ_CHECK(cursor > before, "an item was taken without moving on");
    FUZZ_CHECK(index < model.size(), "more items than the grammar gives");
    const size_t length = std::strlen(item.get());
    FUZZ_CHECK(length < kItemCapacity, "item overflows its slot");
    const std::string& expected = model[index].text;
    if (expected.size() < kItemCapacity) {
      FUZZ_CHECK(expected == item.get(), "item " + std::to_string(index));
    } else {
      // Cut to the whole characters that fit.
      FUZZ_CHECK(expected.compare(0, length, item.get()) == 0 && length >= kItemCapacity - 2, "long item");
    }
    FUZZ_CHECK(CurrentDiscNumber() == model[index].disc, "disc of item " + std::to_string(index));
    FUZZ_CHECK(CurrentDiscNumber() >= 0 && CurrentDiscNumber() <= 9, "disc number");
    ++index;
  }
  FUZZ_CHECK(index == model.size(), "fewer items than the grammar gives");
  // At the end the list stays ended.
  const char* stay = cursor;
  FUZZ_CHECK(NextListItem(&cursor, item.get()) == 0 && cursor == stay, "end is not sticky");

  // The slot-filling reader agrees with the item reader.
  constexpr int kSlots = 20;
  std::unique_ptr<char[][kItemCapacity]> slots(new char[kSlots + 1][kItemCapacity]);
  int32_t discs[kSlots];
  SetCurrentDiscNumber(0);
  const int taken = TakeListItems(value, slots.get(), discs, kSlots);
  FUZZ_CHECK(taken == int(std::min<size_t>(model.size(), kSlots)), "slot count");
  for (int i = 0; i < taken; ++i) {
    FUZZ_CHECK(std::strlen(slots[i]) < kItemCapacity, "slot");
    if (model[i].text.size() < kItemCapacity) FUZZ_CHECK(model[i].text == slots[i], "slot text");
  }
  if (taken < kSlots) FUZZ_CHECK(slots[taken][0] == 0, "the slot after the list is made empty");

  std::unique_ptr<char[][kItemCapacity]> fields(new char[4][kItemCapacity]);
  const int record = TakeShortcutFields(value, fields.get());
  for (int f = 0; f < 4; ++f) FUZZ_CHECK(std::strlen(fields[f]) < kItemCapacity, "field");
  FUZZ_CHECK(record == (model.size() >= 2 ? 1 : 0), "a record needs its first two fields");
}

// The leading-integer conversion, computed wide.
__int128 WideLeadingInteger(const char* p) {
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  __int128 magnitude = 0;
  const __int128 cap = (__int128)1 << 70;
  for (; *p >= '0' && *p <= '9'; ++p)
    if (magnitude < cap) magnitude = magnitude * 10 + (*p - '0');
  return negative ? -magnitude : magnitude;
}

template <typename T>
T Saturate(__int128 v) {
  if (v > (__int128)std::numeric_limits<T>::max()) return std::numeric_limits<T>::max();
  if (v < (__int128)std::numeric_limits<T>::min()) return std::numeric_limits<T>::min();
  return T(v);
}

void CheckIntegers(const char* value) {
  const __int128 wide = WideLeadingInteger(value);
  FUZZ_CHECK(LeadingInteger(value) == Saturate<int32_t>(wide), value);
  FUZZ_CHECK(LeadingInteger64(value) == Saturate<int64_t>(wide), value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > kMaxText) return 0;
  const uint32_t capacity = kCapacities[data[0] % (sizeof kCapacities / sizeof kCapacities[0])];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  CheckProfileRead(text, capacity);

  // The text up to its first NUL as a value, in an exact-size block.
  const size_t length = std::strlen(text.c_str());
  std::unique_ptr<char[]> value(new char[length + 1]);
  std::memcpy(value.get(), text.c_str(), length + 1);
  CheckList(value.get());
  CheckIntegers(value.get());

  // Each line on its own, as profile values come (values never hold LF).
  size_t start = 0;
  while (start < length) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos || end > length) end = length;
    const std::string line = text.substr(start, end - start);
    std::unique_ptr<char[]> one(new char[line.size() + 1]);
    std::memcpy(one.get(), line.c_str(), line.size() + 1);
    CheckList(one.get());
    CheckIntegers(one.get());
    start = end + 1;
  }
  return 0;
}
