#include "ModuleStream.h"

namespace sorvanta {

bool FileChecksums::FileNameOffset(std::uint32_t checksumOffset, std::uint32_t* nameOffset) const {
  // An entry: the name's offset, the checksum's size and kind, the checksum.
  constexpr std::size_t kEntryHeaderBytes = 6;
  if (checksumOffset > data_.size || data_.size - checksumOffset < kEntryHeaderBytes) return false;
  const std::uint8_t* entry = data_.data + checksumOffset;
  if (data_.size - checksumOffset - kEntryHeaderBytes < entry[4]) return false;
  *nameOffset = Read32(entry);
  return true;
}

FileChecksums FindFileChecksums(ByteView c13) {
  FileChecksums found;
  ForEachSubsection(c13, [&](SubsectionKind kind, ByteView data) {
    if (kind != SubsectionKind::kFileChecksums) return true;
    found = FileChecksums(data);
    return false;
  });
  return found;
}

bool LinesSubsection::Parse(ByteView data) {
  // The header: where the contribution starts, flags, and its size.
  constexpr std::uint16_t kHasColumns = 0x1;
  ByteReader reader(data);
  std::uint16_t flags = 0;
  if (!reader.ReadU32(&offset_) || !reader.ReadU16(&segment_) || !reader.ReadU16(&flags) ||
      !reader.ReadU32(&codeSize_)) {
    return false;
  }
  hasColumns_ = (flags & kHasColumns) != 0;
  blocks_ = reader.Rest();
  return true;
}

}  // namespace sorvanta
