#include "ModuleLineTable.h"

#include <algorithm>
#include <unordered_map>

#include "Utf8.h"
#include "llvm/DebugInfo/CodeView/DebugChecksumsSubsection.h"
#include "llvm/DebugInfo/CodeView/DebugLinesSubsection.h"
#include "llvm/DebugInfo/CodeView/DebugSubsectionRecord.h"
#include "llvm/DebugInfo/PDB/Native/PDBStringTable.h"
#include "llvm/Support/BinaryByteStream.h"
#include "llvm/Support/BinaryStreamReader.h"

namespace sorvanta {

namespace cv = llvm::codeview;

ModuleLineTable ModuleLineTable::Build(const std::vector<std::uint8_t>& c13,
                                       const llvm::pdb::PDBStringTable* strings) {
  ModuleLineTable table;
  llvm::BinaryByteStream stream(llvm::ArrayRef<std::uint8_t>(c13.data(), c13.size()),
                                llvm::support::little);
  llvm::BinaryStreamReader reader(stream);
  cv::DebugSubsectionArray subsections;
  if (llvm::Error error = reader.readArray(subsections, reader.bytesRemaining())) {
    llvm::consumeError(std::move(error));
    return table;
  }

  // Checksums first: line blocks name their file by its checksum entry.
  cv::DebugChecksumsSubsectionRef checksums;
  bool haveChecksums = false;
  bool hadError = false;
  for (auto it = subsections.begin(&hadError), end = subsections.end(); it != end; ++it) {
    if (it->kind() != cv::DebugSubsectionKind::FileChecksums) continue;
    if (llvm::Error error = checksums.initialize(it->getRecordData())) {
      llvm::consumeError(std::move(error));
    } else {
      haveChecksums = true;
    }
    break;
  }

  std::unordered_map<std::uint32_t, std::uint32_t> fileByChecksum;
  auto fileFor = [&](std::uint32_t checksumOffset) -> std::uint32_t {
    auto found = fileByChecksum.find(checksumOffset);
    if (found != fileByChecksum.end()) return found->second;
    std::uint32_t index = kNoFile;
    if (haveChecksums && strings) {
      auto entry = checksums.getArray().at(checksumOffset);
      if (entry != checksums.getArray().end()) {
        llvm::Expected<llvm::StringRef> name = strings->getStringForID(entry->FileNameOffset);
        if (name) {
          index = static_cast<std::uint32_t>(table.files_.size());
          table.files_.push_back(Utf8ToWide(name->data(), name->size()));
        } else {
          llvm::consumeError(name.takeError());
        }
      }
    }
    fileByChecksum.emplace(checksumOffset, index);
    return index;
  };

  hadError = false;
  for (auto it = subsections.begin(&hadError), end = subsections.end(); it != end; ++it) {
    if (it->kind() != cv::DebugSubsectionKind::Lines) continue;
    cv::DebugLinesSubsectionRef lines;
    if (llvm::Error error = lines.initialize(llvm::BinaryStreamReader(it->getRecordData()))) {
      llvm::consumeError(std::move(error));
      continue;
    }
    const cv::LineFragmentHeader* header = lines.header();
    if (!header) continue;
    const std::uint16_t segment = header->RelocSegment;
    const std::uint32_t base = header->RelocOffset;
    const std::uint64_t end64 = static_cast<std::uint64_t>(base) + header->CodeSize;
    const std::uint32_t endOffset = end64 > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(end64);

    bool first = true;
    bool startCovered = false;
    std::uint32_t startFile = kNoFile;
    for (const cv::LineColumnEntry& block : lines) {
      const std::uint32_t file = fileFor(block.NameIndex);
      // The contribution's start speaks for its first block's file, so a
      // function whose first line entry is not at offset 0 still gets one.
      // It is stored before the line entries so that a real line entry at
      // the same offset wins the lookup.
      if (first) {
        table.entries_.push_back({segment, base, endOffset, file});
        startFile = file;
        first = false;
      }
      for (const cv::LineNumberEntry& line : block.LineNumbers) {
        // The first block with an entry at the start names the start's file;
        // a later block there is an included file (a macro, an .inc).
        if (line.Offset == 0 && !startCovered) {
          startFile = file;
          startCovered = true;
        }
        const std::uint64_t at = static_cast<std::uint64_t>(base) + line.Offset;
        if (at >= end64 && !(at == base && header->CodeSize == 0)) continue;
        table.entries_.push_back({segment, static_cast<std::uint32_t>(at), endOffset, file});
      }
    }
    // Recorded even without blocks, so that folded functions still pair
    // with their own subsections.
    table.starts_.push_back({segment, base, startFile});
  }

  auto bySegmentOffset = [](const auto& a, const auto& b) {
    return a.segment != b.segment ? a.segment < b.segment : a.offset < b.offset;
  };
  std::stable_sort(table.entries_.begin(), table.entries_.end(), bySegmentOffset);
  std::stable_sort(table.starts_.begin(), table.starts_.end(), bySegmentOffset);
  table.entries_.shrink_to_fit();
  table.starts_.shrink_to_fit();
  return table;
}

std::pair<std::vector<ModuleLineTable::Start>::const_iterator,
          std::vector<ModuleLineTable::Start>::const_iterator>
ModuleLineTable::StartsAt(std::uint16_t segment, std::uint32_t offset) const {
  const Start key{segment, offset, kNoFile};
  return std::equal_range(starts_.begin(), starts_.end(), key, [](const Start& a, const Start& b) {
    return a.segment != b.segment ? a.segment < b.segment : a.offset < b.offset;
  });
}

std::size_t ModuleLineTable::SubsectionsAt(std::uint16_t segment, std::uint32_t offset) const {
  const auto range = StartsAt(segment, offset);
  return static_cast<std::size_t>(range.second - range.first);
}

std::uint32_t ModuleLineTable::FunctionFileIndex(std::uint16_t segment, std::uint32_t offset,
                                                 std::size_t ordinal) const {
  const auto range = StartsAt(segment, offset);
  const std::size_t count = static_cast<std::size_t>(range.second - range.first);
  if (count == 0) return FileIndexAt(segment, offset);
  return (range.first + static_cast<std::ptrdiff_t>(std::min(ordinal, count - 1)))->file;
}

const std::wstring* ModuleLineTable::FunctionFile(std::uint16_t segment, std::uint32_t offset,
                                                  std::size_t ordinal) const {
  const std::uint32_t index = FunctionFileIndex(segment, offset, ordinal);
  return index == kNoFile ? nullptr : &files_[index];
}

const std::wstring* ModuleLineTable::FileAt(std::uint16_t segment, std::uint32_t offset) const {
  const std::uint32_t index = FileIndexAt(segment, offset);
  return index == kNoFile ? nullptr : &files_[index];
}

std::uint32_t ModuleLineTable::FileIndexAt(std::uint16_t segment, std::uint32_t offset) const {
  // The last entry at or before segment:offset.
  auto it = std::upper_bound(entries_.begin(), entries_.end(), std::make_pair(segment, offset),
                             [](const std::pair<std::uint16_t, std::uint32_t>& key, const Entry& e) {
                               return key.first != e.segment ? key.first < e.segment
                                                             : key.second < e.offset;
                             });
  if (it == entries_.begin()) return kNoFile;
  const Entry& e = *(it - 1);
  if (e.segment != segment) return kNoFile;
  if (offset >= e.end && offset != e.offset) return kNoFile;
  return e.file;
}

}  // namespace sorvanta
