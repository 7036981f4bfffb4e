#include "ModuleFileTable.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "ModuleStream.h"

namespace sorvanta {

namespace {

using Key = std::uint64_t;  // segment:offset, ordered as the pair
Key KeyOf(std::uint16_t segment, std::uint32_t offset) {
  return static_cast<Key>(segment) << 32 | offset;
}

// A line subsection's start and the file that speaks for it.
struct Start {
  Key key;
  std::uint32_t file;
};

// A line, or a contribution's start, for functions that no subsection
// starts at.
struct Line {
  Key key;
  std::uint32_t end;  // one past the last byte of its contribution
  std::uint32_t file;
};

// Files by their checksum entry, each distinct name once in the table.
class Files {
 public:
  Files(ByteView c13, const StringTable& strings)
      : checksums_(FindFileChecksums(c13)), strings_(strings) {}

  std::uint32_t For(std::uint32_t checksumOffset) {
    // Blocks in a row mostly name the same file.
    if (checksumOffset == lastChecksum_) return lastFile_;
    lastChecksum_ = checksumOffset;
    lastFile_ = Find(checksumOffset);
    return lastFile_;
  }

  std::vector<ModuleFileTable::Name> Take() { return std::move(names_); }

 private:
  std::uint32_t Find(std::uint32_t checksumOffset) {
    const auto known = byChecksum_.find(checksumOffset);
    if (known != byChecksum_.end()) return known->second;
    std::uint32_t index = ModuleFileTable::kNoFile;
    std::uint32_t nameOffset = 0;
    std::string_view name;
    if (checksums_.FileNameOffset(checksumOffset, &nameOffset) && strings_.At(nameOffset, &name)) {
      const auto added = byName_.emplace(nameOffset, static_cast<std::uint32_t>(names_.size()));
      if (added.second) names_.push_back({nameOffset, static_cast<std::uint32_t>(name.size())});
      index = added.first->second;
    }
    byChecksum_.emplace(checksumOffset, index);
    return index;
  }

  FileChecksums checksums_;
  const StringTable& strings_;
  std::unordered_map<std::uint32_t, std::uint32_t> byChecksum_;
  std::unordered_map<std::uint32_t, std::uint32_t> byName_;
  std::vector<ModuleFileTable::Name> names_;
  std::uint32_t lastChecksum_ = UINT32_MAX;  // past any subsection: no entry lies there
  std::uint32_t lastFile_ = ModuleFileTable::kNoFile;
};

template <class Visit>
void ForEachLinesSubsection(ByteView c13, Visit visit) {
  ForEachSubsection(c13, [&](SubsectionKind kind, ByteView data) {
    LinesSubsection lines;
    if (kind == SubsectionKind::kLines && lines.Parse(data)) visit(lines);
    return true;
  });
}

std::vector<Start> SubsectionStarts(ByteView c13, Files& files) {
  std::vector<Start> starts;
  ForEachLinesSubsection(c13, [&](const LinesSubsection& lines) {
    // The first block names the start unless a later one has a line there
    // first; a later block with a line at the start is an included file
    // (a macro, an .inc).
    std::uint32_t file = ModuleFileTable::kNoFile;
    bool first = true;
    lines.ForEachBlock([&](std::uint32_t checksumOffset, const LinesSubsection::Block& block) {
      const std::uint32_t blockFile = files.For(checksumOffset);
      if (first) file = blockFile;
      first = false;
      for (std::uint32_t i = 0; i < block.count(); ++i) {
        if (block.at(i).offset == 0) {
          file = blockFile;
          return false;
        }
      }
      return true;
    });
    // Recorded even without blocks, so that folded functions still pair
    // with their own subsections.
    starts.push_back({KeyOf(lines.segment(), lines.offset()), file});
  });
  return starts;
}

std::vector<Line> AllLines(ByteView c13, Files& files) {
  std::vector<Line> all;
  ForEachLinesSubsection(c13, [&](const LinesSubsection& lines) {
    const std::uint64_t base = lines.offset();
    const std::uint64_t end = base + lines.codeSize();
    const std::uint32_t endOffset = end > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(end);
    bool first = true;
    lines.ForEachBlock([&](std::uint32_t checksumOffset, const LinesSubsection::Block& block) {
      const std::uint32_t file = files.For(checksumOffset);
      // The contribution's start speaks for its first block's file, so a
      // function whose first line is not at offset 0 still gets one. It
      // comes before the lines so that a real line at the same offset wins.
      if (first) all.push_back({KeyOf(lines.segment(), lines.offset()), endOffset, file});
      first = false;
      for (std::uint32_t i = 0; i < block.count(); ++i) {
        // A line past the contribution counts for nothing, nor one past 32
        // bits, which cut to a segment offset would land near the
        // segment's start.
        const std::uint64_t at = base + block.at(i).offset;
        if (at > UINT32_MAX || (at >= end && !(at == base && lines.codeSize() == 0))) continue;
        all.push_back({KeyOf(lines.segment(), static_cast<std::uint32_t>(at)), endOffset, file});
      }
      return true;
    });
  });
  std::stable_sort(all.begin(), all.end(), [](const Line& a, const Line& b) { return a.key < b.key; });
  return all;
}

// The file of the last line at or before key (the later of equals), when
// key still lies in that line's contribution.
std::uint32_t FileAt(const std::vector<Line>& lines, Key key) {
  const auto after = std::upper_bound(lines.begin(), lines.end(), key,
                                      [](Key k, const Line& l) { return k < l.key; });
  if (after == lines.begin()) return ModuleFileTable::kNoFile;
  const Line& line = *(after - 1);
  if (line.key >> 32 != key >> 32) return ModuleFileTable::kNoFile;
  const auto offset = static_cast<std::uint32_t>(key);
  if (offset >= line.end && key != line.key) return ModuleFileTable::kNoFile;
  return line.file;
}

}  // namespace

ModuleFileTable ModuleFileTable::Build(ByteView c13, const StringTable& strings,
                                       const std::vector<CodeStart>& functions,
                                       std::vector<std::uint32_t>* functionFiles) {
  Files files(c13, strings);
  std::vector<Start> starts = SubsectionStarts(c13, files);
  auto byKey = [](const Start& a, const Start& b) { return a.key < b.key; };
  // Compilers write the subsections in address order; sorting is for the rest.
  if (!std::is_sorted(starts.begin(), starts.end(), byKey)) {
    std::stable_sort(starts.begin(), starts.end(), byKey);
  }

  std::vector<std::uint32_t> assigned;
  assigned.reserve(functions.size());
  std::vector<Line> lines;  // read only when some function needs them
  bool linesRead = false;
  // How many functions starting at a key came before, for keys that
  // several subsections start at.
  std::unordered_map<Key, std::size_t> earlier;
  std::size_t hint = 0;  // functions usually come in their subsections' order
  for (const CodeStart& function : functions) {
    const Key key = KeyOf(function.segment, function.offset);
    std::size_t first = hint;
    if (!(first < starts.size() && starts[first].key == key &&
          (first == 0 || starts[first - 1].key != key))) {
      first = std::lower_bound(starts.begin(), starts.end(), Start{key, 0}, byKey) - starts.begin();
    }
    std::size_t last = first;
    if (first < starts.size() && starts[first].key == key) {
      last = first + 1 < starts.size() && starts[first + 1].key == key
                 ? std::upper_bound(starts.begin() + first, starts.end(), Start{key, 0}, byKey) - starts.begin()
                 : first + 1;
    }
    std::uint32_t file;
    if (last == first) {
      if (!linesRead) {
        lines = AllLines(c13, files);
        linesRead = true;
      }
      file = FileAt(lines, key);
    } else if (last - first == 1) {
      file = starts[first].file;
    } else {
      const std::size_t ordinal = earlier[key]++;
      file = starts[first + std::min(ordinal, last - first - 1)].file;
    }
    assigned.push_back(file);
    hint = last;
  }

  ModuleFileTable table;
  table.names_ = files.Take();
  *functionFiles = std::move(assigned);
  return table;
}

}  // namespace sorvanta
