// List values: comma-separated items, each with an optional disc prefix.
//
// Scanning is byte by byte: none of the bytes that matter here (NUL, tab, LF,
// CR, space, comma, colon) can be the second byte of a double-byte character.
#include "settings/settings.h"

int NextListItem(const char** cursor, char item[kItemCapacity]) { return NextListItemFrom(cursor, item, nullptr); }

int NextListItemFrom(const char** cursor, char item[kItemCapacity], ListItemSource* source) {
  const char* p = *cursor;
  while (IsBlank(*p)) ++p;
  if (IsTerminator(*p)) {
    *cursor = p;
    return 0;
  }

  const char* written = p;
  const int prefixed = p[1] == ':';
  if (prefixed) {
    SetCurrentDiscNumber(p[0] >= '0' && p[0] <= '9' ? p[0] - '0' : 0);
    p += 2; // blanks after the colon belong to the item
  }

  // An item that does not fit its slot is cut rather than refused: the slot
  // keeps the whole characters that fit in kItemCapacity - 1 bytes (never half
  // of a double-byte character, so the item stays walkable by characters),
  // and the rest of the item up to its terminator is skipped.
  uint32_t length = 0;
  bool full = false;
  while (!IsTerminator(*p)) {
    if (!full) {
      uint32_t width = IsLeadByte(uint8_t(*p)) && !IsTerminator(p[1]) ? 2 : 1;
      if (length + width <= kItemCapacity - 1) {
        for (uint32_t i = 0; i < width; ++i) item[length++] = *p++;
        continue;
      }
      full = true;
    }
    ++p;
  }
  item[length] = 0;
  if (source) *source = {written, uint32_t(p - written), prefixed, full ? 1 : 0};

  // Step over the terminator, but never past the end of the value.
  *cursor = *p ? p + 1 : p;
  return 1;
}

int TakeListItems(const char* value, char (*slots)[kItemCapacity], int32_t* discs, int slotCount) {
  const char* cursor = value;
  int count = 0;
  while (count < slotCount) {
    if (!NextListItem(&cursor, slots[count])) {
      slots[count][0] = 0;
      break;
    }
    if (discs) discs[count] = CurrentDiscNumber();
    ++count;
  }
  return count;
}
