// Update lines ("[mode,]operation,path" or "[mode,]path") and copy lines
// ("[M,][N:]path") for the checks, taken apart by the updater's own readers:
// the list reader's items (NextListItemFrom), ParseUpdateLine and
// ParseCopyLine. What is added is only what the messages show: each item as
// it was written, and the bytes of a copy line's prefixes.
#include <cstring>

#include "fa2/lib/update_checks.h"
#include "update/update.h"

namespace fa2 {

static_assert(int32_t(LineOperation::Plain) == kOperationPlain && int32_t(LineOperation::Update) == kOperationUpdate &&
              int32_t(LineOperation::Data) == kOperationData &&
              int32_t(LineOperation::Overwrite) == kOperationOverwrite &&
              int32_t(LineOperation::Check) == kOperationCheck);

namespace {

// The list reader notes every disc prefix it meets as the current disc; a
// look at a line must not change what the updater's state says.
struct KeepDiscNumber {
  const int disc = CurrentDiscNumber();
  ~KeepDiscNumber() { SetCurrentDiscNumber(disc); }
};

} // namespace

std::vector<ListItem> TakeItems(const std::string& value, size_t maxItems, bool* more) {
  const KeepDiscNumber keep;
  const char* cursor = value.c_str(); // NUL-terminated, as the updater's buffer
  std::vector<ListItem> items;
  char item[kItemCapacity];
  ListItemSource source;
  while (items.size() < maxItems && NextListItemFrom(&cursor, item, &source))
    items.push_back({item, std::string(source.written, source.writtenSize), source.discPrefix != 0, source.cut != 0});
  if (more) *more = items.size() == maxItems && NextListItem(&cursor, item);
  return items;
}

UpdateLineSyntax ParseUpdateLineSyntax(const std::string& value) {
  const KeepDiscNumber keep;
  UpdateLineSyntax line;
  line.items = TakeItems(value, 3, &line.moreItems);
  line.items.resize(3);
  UpdateLine parsed;
  ParseUpdateLine(value.c_str(), &parsed);
  line.hasMode = parsed.hasMode != 0;
  line.mode = parsed.mode;
  line.operation = LineOperation(parsed.operation);
  line.operationIndex = line.hasMode ? 1 : 0;
  line.path = parsed.path;
  line.member = line.path.substr(size_t(BaseNameOffset(parsed.path)));
  return line;
}

CopyLineSyntax ParseCopyLineSyntax(const std::string& value) {
  // The prefixes stand in the first four bytes, so a read of the value's
  // first bytes has them all and its path shows where they end.
  char head[kCopyValueCapacity];
  CopyText(head, sizeof head, value.c_str());
  CopyLine parsed;
  ParseCopyLine(head, &parsed);
  const size_t prefixes = std::strlen(head) - std::strlen(parsed.path);
  CopyLineSyntax line;
  line.hasMode = parsed.hasMode != 0;
  line.modeByte = line.hasMode ? uint8_t(value[0]) : 0;
  line.hasDisc = prefixes == (line.hasMode ? 4u : 2u);
  line.discByte = line.hasDisc ? uint8_t(value[prefixes - 2]) : 0;
  line.disc = parsed.discNumber;
  line.path = value.substr(prefixes);
  return line;
}

} // namespace fa2
