#include "ModuleLines.h"

#include <algorithm>

namespace sorvanta {

namespace {

// An inlinee-lines subsection: a signature (1 when each entry lists extra
// files), then per inlinee its id, file checksum entry and first line.
constexpr std::uint32_t kExtraFiles = 1;

}  // namespace

ModuleLines::ModuleLines(ByteView symbols, ByteView c13, const SectionTable& sections)
    : symbols_(symbols), c13_(c13), checksums_(FindFileChecksums(c13)) {
  std::vector<std::uint32_t> procedureRvas;
  ModuleStream(symbols, c13).ForEachProcedure([&](const ProcedureRecord& p) {
    procedures_.push_back(p.offset);
    procedureRvas.push_back(sections.Rva(p.segment, p.codeOffset).value_or(kNoRange));
  });
  ForEachSubsection(c13, [&](SubsectionKind kind, ByteView data) {
    if (kind == SubsectionKind::kLines) {
      LinesSubsection lines;
      const std::optional<std::uint32_t> rva = lines.Parse(data)
                                                   ? sections.Rva(lines.segment(), lines.offset())
                                                   : std::nullopt;
      if (rva) {
        const std::uint64_t end = std::uint64_t{*rva} + lines.codeSize();
        ranges_.push_back({*rva, end > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(end),
                           static_cast<std::uint32_t>(data.data - c13.data),
                           static_cast<std::uint32_t>(data.size)});
      }
    } else if (kind == SubsectionKind::kInlineeLines) {
      ByteReader reader(data);
      std::uint32_t signature = 0;
      if (!reader.ReadU32(&signature)) return true;
      Inlinee entry{};
      while (reader.ReadU32(&entry.id) && reader.ReadU32(&entry.file) && reader.ReadU32(&entry.line)) {
        inlinees_.push_back(entry);
        std::uint32_t extra = 0;
        if (signature == kExtraFiles && (!reader.ReadU32(&extra) || !reader.Skip(std::uint64_t{extra} * 4))) break;
      }
    }
    return true;
  });
  std::stable_sort(ranges_.begin(), ranges_.end(), [](const Range& a, const Range& b) { return a.begin < b.begin; });
  std::stable_sort(inlinees_.begin(), inlinees_.end(),
                   [](const Inlinee& a, const Inlinee& b) { return a.id < b.id; });
  inlinees_.erase(std::unique(inlinees_.begin(), inlinees_.end(),
                              [](const Inlinee& a, const Inlinee& b) { return a.id == b.id; }),
                  inlinees_.end());
  reach_.reserve(ranges_.size());
  for (const Range& r : ranges_) reach_.push_back(reach_.empty() ? r.end : std::max(reach_.back(), r.end));
  // Each procedure's subsection: the last that starts where it does.
  procedureRanges_.reserve(procedures_.size());
  for (const std::uint32_t rva : procedureRvas) {
    const auto after = std::upper_bound(ranges_.begin(), ranges_.end(), rva,
                                        [](std::uint32_t v, const Range& r) { return v < r.begin; });
    const bool found = rva != kNoRange && after != ranges_.begin() && (after - 1)->begin == rva;
    procedureRanges_.push_back(found ? static_cast<std::uint32_t>(after - 1 - ranges_.begin()) : kNoRange);
  }
  procedures_.shrink_to_fit();
  ranges_.shrink_to_fit();
  inlinees_.shrink_to_fit();
}

std::optional<std::uint32_t> ModuleLines::ProcedureOffset(std::uint32_t k) const {
  if (k >= procedures_.size()) return std::nullopt;
  return procedures_[k];
}

std::size_t ModuleLines::RangesUpTo(std::uint32_t rva, std::uint32_t k) const {
  // Most often the procedure's own subsection is the last to start at or
  // before rva, which the next one's start tells at once.
  const std::uint32_t i = k < procedureRanges_.size() ? procedureRanges_[k] : kNoRange;
  if (i != kNoRange && ranges_[i].begin <= rva && (i + 1 == ranges_.size() || ranges_[i + 1].begin > rva)) {
    return i + std::size_t{1};
  }
  return static_cast<std::size_t>(
      std::upper_bound(ranges_.begin(), ranges_.end(), rva,
                       [](std::uint32_t v, const Range& r) { return v < r.begin; }) -
      ranges_.begin());
}

std::optional<ModuleLines::Position> ModuleLines::LineAt(std::uint32_t rva, std::uint32_t k) const {
  // The last subsection that starts at or before rva and still holds it.
  auto after = ranges_.begin() + static_cast<std::ptrdiff_t>(RangesUpTo(rva, k));
  while (after != ranges_.begin()) {
    --after;
    // No subsection this early or earlier reaches the address.
    if (reach_[static_cast<std::size_t>(after - ranges_.begin())] <= rva) break;
    const Range& range = *after;
    if (rva >= range.end) continue;
    LinesSubsection lines;
    if (!lines.Parse(c13_.Part(range.at, range.size))) continue;
    const std::uint32_t offset = rva - range.begin;
    // The greatest line offset at or before the address, across the
    // subsection's blocks; of equal ones, the first block's.
    std::optional<Position> best;
    std::uint32_t bestOffset = 0;
    lines.ForEachBlock([&](std::uint32_t file, const LinesSubsection::Block& block) {
      for (std::uint32_t i = 0; i < block.count(); ++i) {
        const LinesSubsection::Line line = block.at(i);
        if (line.offset > offset) continue;
        if (!best || line.offset > bestOffset) {
          best = Position{file, line.line, line.column};
          bestOffset = line.offset;
        }
      }
      return true;
    });
    if (best) return best;
  }
  return std::nullopt;
}

std::optional<ModuleLines::Position> ModuleLines::FirstLineAt(std::uint32_t rva) const {
  auto range = std::lower_bound(ranges_.begin(), ranges_.end(), rva,
                                [](const Range& r, std::uint32_t v) { return r.begin < v; });
  if (range == ranges_.end() || range->begin != rva) return std::nullopt;
  LinesSubsection lines;
  if (!lines.Parse(c13_.Part(range->at, range->size))) return std::nullopt;
  std::optional<Position> first;
  std::uint32_t firstOffset = 0;
  lines.ForEachBlock([&](std::uint32_t file, const LinesSubsection::Block& block) {
    for (std::uint32_t i = 0; i < block.count(); ++i) {
      const LinesSubsection::Line line = block.at(i);
      if (!first || line.offset < firstOffset) {
        first = Position{file, line.line, line.column};
        firstOffset = line.offset;
      }
    }
    return true;
  });
  return first;
}

std::optional<ModuleLines::Position> ModuleLines::InlineeStart(std::uint32_t inlinee) const {
  auto found = std::lower_bound(inlinees_.begin(), inlinees_.end(), inlinee,
                                [](const Inlinee& e, std::uint32_t id) { return e.id < id; });
  if (found == inlinees_.end() || found->id != inlinee) return std::nullopt;
  return Position{found->file, found->line, 0};
}

}  // namespace sorvanta
