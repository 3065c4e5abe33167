// PE headers, address mapping, checksum and file-offset bookkeeping for the
// resource writer. Field offsets are listed in pe_image.h.
#include "fa2/lib/pe_image.h"

#include <algorithm>

namespace fa2::pe {

namespace {

bool PowerOfTwo(uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

} // namespace

// A section name for a message: bytes outside printable ASCII shown as '?'.
std::string PrintableName(const std::string& name) {
  std::string out;
  for (char c : name) out.push_back(c >= 0x20 && c < 0x7F ? c : '?');
  return out.empty() ? "(unnamed)" : out;
}

uint64_t Image::RawEnd() const {
  uint64_t end = 0;
  for (const Section& s : sections)
    if (s.rawSize) end = std::max(end, uint64_t(s.rawOffset) + s.rawSize);
  return end;
}

uint64_t Image::FirstRaw() const {
  uint64_t first = UINT64_MAX;
  for (const Section& s : sections)
    if (s.rawSize) first = std::min<uint64_t>(first, s.rawOffset);
  return first;
}

uint64_t Image::NextVirtualAddress() const {
  uint64_t end = sizeOfHeaders;
  for (const Section& s : sections) end = std::max(end, uint64_t(s.virtualAddress) + s.Span());
  return AlignUp(end, sectionAlignment);
}

std::string CutShort(const std::string& what, uint64_t end, uint64_t size) {
  return "cut short: " + what + " ends at byte " + std::to_string(end) + " but the file has " + std::to_string(size) +
         " bytes";
}

bool ParseImage(const Bytes& file, Image& out, std::string& error, uint64_t fileSize) {
  const uint64_t size = fileSize == ~uint64_t(0) ? file.size() : fileSize;
  const uint64_t have = std::min<uint64_t>(size, file.size()); // headers are read from these
  if (have < 2 || file[0] != 'M' || file[1] != 'Z') {
    error = "not a Windows executable";
    return false;
  }
  if (have < 64) {
    error = "not a Windows executable, or " + CutShort("the MZ header", 64, size);
    return false;
  }
  const uint64_t pe = U32(file, 0x3C);
  if (pe + 24 > have) {
    // A pointer past the end is as likely damage as a file cut short.
    error = "not a Windows executable, or " + CutShort("the PE header", pe + 24, size);
    return false;
  }
  if (U32(file, size_t(pe)) != 0x00004550u) {
    error = "not a Windows executable (no PE signature at byte " + std::to_string(pe) + ")";
    return false;
  }
  out = Image{};
  out.fileHeader = size_t(pe) + 4;
  const uint32_t sectionCount = U16(file, out.fileHeader + 2);
  const uint32_t optionalSize = U16(file, out.fileHeader + 16);
  out.optional = out.fileHeader + 20;
  out.sectionTable = out.optional + optionalSize;
  if (out.sectionTable > have) {
    error = CutShort("the optional header", out.sectionTable, size);
    return false;
  }
  if (optionalSize < 2) {
    error = "damaged executable: no optional header";
    return false;
  }
  const uint32_t magic = U16(file, out.optional);
  if (magic != 0x10B && magic != 0x20B) {
    error = "unsupported executable (optional header magic " + std::to_string(magic) + ")";
    return false;
  }
  out.is64 = magic == 0x20B;
  const size_t countField = out.optional + (out.is64 ? 108 : 92);
  out.directories = countField + 4;
  if (out.directories > out.sectionTable) {
    error = "damaged executable: the optional header is too short for its data directories";
    return false;
  }
  out.directoryCount = U32(file, countField);
  if (out.directoryCount > 16 || out.directories + 8 * uint64_t(out.directoryCount) > out.sectionTable) {
    error = "damaged executable: data directories do not fit the optional header";
    return false;
  }
  const uint64_t tableEnd = out.sectionTable + kSectionHeaderSize * uint64_t(sectionCount);
  if (tableEnd > have) {
    error = CutShort("the section table", tableEnd, size);
    return false;
  }
  out.sectionAlignment = U32(file, out.optional + 32);
  out.fileAlignment = U32(file, out.optional + 36);
  out.sizeOfHeaders = U32(file, out.optional + 60);
  if (!PowerOfTwo(out.fileAlignment) || !PowerOfTwo(out.sectionAlignment)) {
    error = "damaged executable: file or section alignment is not a power of two";
    return false;
  }
  for (uint32_t i = 0; i < sectionCount; ++i) {
    const size_t h = out.sectionTable + kSectionHeaderSize * i;
    Section s;
    s.header = h;
    s.name.assign(reinterpret_cast<const char*>(&file[h]), 8);
    s.name.resize(s.name.find('\0') == std::string::npos ? 8 : s.name.find('\0'));
    s.virtualSize = U32(file, h + 8);
    s.virtualAddress = U32(file, h + 12);
    s.rawSize = U32(file, h + 16);
    s.rawOffset = U32(file, h + 20);
    s.characteristics = U32(file, h + 36);
    if (s.rawSize && uint64_t(s.rawOffset) + s.rawSize > size) {
      error = CutShort("section " + PrintableName(s.name), uint64_t(s.rawOffset) + s.rawSize, size);
      return false;
    }
    out.sections.push_back(s);
  }
  error.clear();
  return true;
}

bool ReadAtRva(const Bytes& file, const Image& image, uint32_t rva, uint32_t size, Bytes& out) {
  for (const Section& s : image.sections) {
    const uint64_t span = std::max(s.virtualSize, s.rawSize);
    if (rva < s.virtualAddress || uint64_t(rva) + size > uint64_t(s.virtualAddress) + span) continue;
    const uint64_t from = rva - s.virtualAddress;
    out.assign(size, 0);
    if (from < s.rawSize) {
      const uint64_t n = std::min<uint64_t>(size, s.rawSize - from);
      std::copy_n(file.begin() + ptrdiff_t(s.rawOffset + from), size_t(n), out.begin());
    }
    return true;
  }
  return false;
}

bool RvaToFileOffset(const Image& image, uint32_t rva, uint32_t size, uint64_t* offset) {
  for (const Section& s : image.sections) {
    if (rva >= s.virtualAddress && uint64_t(rva) + size <= uint64_t(s.virtualAddress) + s.rawSize) {
      *offset = uint64_t(s.rawOffset) + (rva - s.virtualAddress);
      return true;
    }
  }
  return false;
}

void CheckSum::Add(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i, ++at_) {
    if (at_ >= field_ && at_ < field_ + 4) continue;
    sum_ += (at_ & 1) ? uint64_t(data[i]) << 8 : data[i];
    if (at_ & 1) sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
  }
}

uint32_t CheckSum::Finish() const {
  uint64_t sum = (sum_ & 0xFFFF) + (sum_ >> 16);
  sum = (sum & 0xFFFF) + (sum >> 16);
  return uint32_t(sum + at_);
}

uint32_t ComputeCheckSum(const Bytes& file, size_t checkSumField) {
  CheckSum sum(checkSumField);
  sum.Add(file.data(), file.size());
  return sum.Finish();
}

bool ReadImageHeaders(const ByteSource& source, Bytes& head) {
  constexpr uint64_t kMost = uint64_t(16) << 20;
  uint64_t want = std::min<uint64_t>(source.Size(), 4096);
  for (int round = 0; round < 2; ++round) {
    head.resize(size_t(want));
    if (!source.Read(0, head.data(), head.size())) return false;
    if (head.size() < 64 || uint64_t(U32(head, 0x3C)) + 24 > head.size()) {
      const uint64_t pe = head.size() >= 64 ? U32(head, 0x3C) : 0;
      want = std::min<uint64_t>({source.Size(), pe + 24 + 0x10000 * 40 + 0x10000, kMost});
      continue;
    }
    const uint64_t pe = U32(head, 0x3C);
    const uint64_t tableEnd = pe + 24 + U16(head, size_t(pe) + 20) + 40 * uint64_t(U16(head, size_t(pe) + 6));
    if (tableEnd <= head.size()) return true;
    want = std::min<uint64_t>({source.Size(), tableEnd, kMost});
  }
  return true;
}

void ShiftFileOffsets(Bytes& file, const Image& image, uint64_t from, int64_t delta) {
  auto shift = [&](size_t field) {
    uint32_t value = U32(file, field);
    if (value != 0 && value >= from) Put32(file, field, uint32_t(int64_t(value) + delta));
  };
  for (const Section& s : image.sections)
    if (s.rawSize) shift(s.header + 20);
  shift(image.fileHeader + 8); // COFF symbol table
  if (image.directoryCount > kDirectoryDebug) {
    const uint32_t rva = U32(file, image.DirectoryField(kDirectoryDebug));
    const uint32_t size = U32(file, image.DirectoryField(kDirectoryDebug) + 4);
    uint64_t at;
    // Entries of 28 bytes; the data's file offset is at +24.
    if (rva && size && RvaToFileOffset(image, rva, size, &at))
      for (uint64_t e = at; e + 28 <= at + size; e += 28) shift(size_t(e + 24));
  }
}

} // namespace fa2::pe
