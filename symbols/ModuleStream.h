#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "Bytes.h"

namespace sorvanta {

// Record kinds of module symbol streams that this reader looks at.
namespace record {
constexpr std::uint16_t kGProc32 = 0x1110;
constexpr std::uint16_t kLProc32 = 0x110F;
constexpr std::uint16_t kGProc32Id = 0x1147;
constexpr std::uint16_t kLProc32Id = 0x1146;
constexpr std::uint16_t kLProc32Dpc = 0x1155;
constexpr std::uint16_t kLProc32DpcId = 0x1156;
constexpr std::uint16_t kGManProc = 0x112A;
constexpr std::uint16_t kLManProc = 0x112B;
constexpr std::uint16_t kPub32 = 0x110E;
}  // namespace record

// A procedure record (a function) of a module's symbol stream. Offsets are
// from the start of the module's stream.
struct ProcedureRecord {
  std::uint32_t offset = 0;      // of the record itself
  std::uint32_t nameOffset = 0;  // of its name
  std::uint16_t nameLength = 0;  // in bytes, up to the name's NUL or the record's end
  std::uint16_t segment = 0;
  std::uint32_t codeOffset = 0;
  std::uint32_t codeSize = 0;
  std::uint32_t end = 0;  // of its scope: the S_END that closes it, as recorded
};

// What was read of one module's stream: its symbol records and its C13
// line subsections (the old-style lines between them are not read).
class ModuleStream {
 public:
  ModuleStream(ByteView symbols, ByteView c13) : symbols_(symbols), c13_(c13) {}

  ByteView symbols() const { return symbols_; }
  ByteView c13() const { return c13_; }

  // Which record kinds are procedures: the offset of the name inside the
  // record's body (after its length and kind), or 0 for other kinds.
  static std::uint32_t NameOffset(std::uint16_t kind);

  // Calls visit(const ProcedureRecord&) for each procedure at the top
  // level, in stream order. The records inside a procedure (locals,
  // blocks, nested procedures, inline sites) are skipped by going to its
  // scope end; an end that does not lie ahead is ignored, so the walk
  // always moves forward. A record that runs past the symbols ends the
  // walk: what follows cannot be framed.
  template <class Visit>
  void ForEachProcedure(Visit visit) const;

 private:
  static bool ReadProcedure(const std::uint8_t* record, std::uint32_t offset, std::uint16_t length,
                            std::uint16_t kind, ProcedureRecord* out);

  ByteView symbols_;
  ByteView c13_;
};

// Kinds of C13 subsections.
enum class SubsectionKind : std::uint32_t {
  kLines = 0xF2,
  kFileChecksums = 0xF4,
  kInlineeLines = 0xF6,
};

// Calls visit(SubsectionKind, ByteView data) for each C13 subsection in
// stream order, until one does not fit or visit returns false.
template <class Visit>
void ForEachSubsection(ByteView c13, Visit visit) {
  ByteReader reader(c13);
  std::uint32_t kind = 0;
  std::uint32_t length = 0;
  ByteView data;
  while (reader.ReadU32(&kind) && reader.ReadU32(&length) && reader.ReadView(length, &data)) {
    if (!visit(static_cast<SubsectionKind>(kind), data)) return;
    reader.AlignTo(4);
  }
}

// The file checksums subsection: entries that name a file by its offset in
// the string table; line blocks name their file by the entry's offset here.
class FileChecksums {
 public:
  FileChecksums() = default;
  explicit FileChecksums(ByteView data) : data_(data) {}

  // The string-table offset of the file named by the entry at
  // checksumOffset; false when no whole entry lies there.
  bool FileNameOffset(std::uint32_t checksumOffset, std::uint32_t* nameOffset) const;

 private:
  ByteView data_;
};

// The first file checksums subsection of a module's C13 bytes (empty when
// there is none).
FileChecksums FindFileChecksums(ByteView c13);

// One line subsection: the line numbers of one contribution of code (a
// function, or a piece of one), as blocks of entries per source file.
class LinesSubsection {
 public:
  struct Line {
    std::uint32_t offset;   // from the contribution's start
    std::uint32_t line;     // first line of the statement
    std::uint16_t column;   // 0 when the subsection has no columns
  };

  // False when the header does not fit.
  bool Parse(ByteView data);

  std::uint16_t segment() const { return segment_; }
  std::uint32_t offset() const { return offset_; }
  std::uint32_t codeSize() const { return codeSize_; }

  // The lines of one source file.
  class Block {
   public:
    std::uint32_t count() const { return count_; }
    Line at(std::uint32_t i) const {
      const std::uint8_t* entry = lines_ + std::size_t{i} * 8;
      const std::uint32_t flags = Read32(entry + 4);
      return {Read32(entry), flags & 0xFFFFFF, columns_ ? Read16(columns_ + std::size_t{i} * 4) : std::uint16_t{0}};
    }

   private:
    friend class LinesSubsection;
    const std::uint8_t* lines_ = nullptr;
    const std::uint8_t* columns_ = nullptr;
    std::uint32_t count_ = 0;
  };
  // Calls visit(std::uint32_t checksumOffset, const Block&) for each block
  // in order, until one is damaged or visit returns false.
  template <class Visit>
  void ForEachBlock(Visit visit) const;

 private:
  ByteView blocks_;
  std::uint32_t offset_ = 0;
  std::uint16_t segment_ = 0;
  bool hasColumns_ = false;
  std::uint32_t codeSize_ = 0;
};

// ---- Templates.

template <class Visit>
void ModuleStream::ForEachProcedure(Visit visit) const {
  const std::uint8_t* const bytes = symbols_.data;
  const std::size_t end = symbols_.size;
  std::size_t offset = sizeof(std::uint32_t);  // after the CodeView signature
  while (end >= 4 && offset <= end - 4) {
    const std::uint16_t length = Read16(bytes + offset);
    const std::uint16_t kind = Read16(bytes + offset + 2);
    if (length < 2 || length > end - offset - 2) break;
    std::size_t next = offset + 2 + length;
    ProcedureRecord procedure;
    if (ReadProcedure(bytes + offset, static_cast<std::uint32_t>(offset), length, kind, &procedure)) {
      visit(procedure);
      if (procedure.end >= next && procedure.end < end) next = procedure.end;
    }
    offset = next;
  }
}

inline bool ModuleStream::ReadProcedure(const std::uint8_t* record, std::uint32_t offset,
                                        std::uint16_t length, std::uint16_t kind,
                                        ProcedureRecord* out) {
  // Offsets inside a procedure record's body, the bytes after its length
  // and kind; managed procedures differ only in where the name starts.
  constexpr std::uint32_t kEndAt = 4;
  constexpr std::uint32_t kCodeSizeAt = 12;
  constexpr std::uint32_t kCodeOffsetAt = 28;
  constexpr std::uint32_t kSegmentAt = 32;
  const std::uint32_t nameAt = NameOffset(kind);
  const std::uint32_t bodySize = length - 2u;
  if (nameAt == 0 || bodySize < nameAt) return false;
  const std::uint8_t* body = record + 4;
  out->offset = offset;
  out->nameOffset = offset + 4 + nameAt;
  const void* nul = std::memchr(body + nameAt, 0, bodySize - nameAt);
  out->nameLength = static_cast<std::uint16_t>(
      nul ? static_cast<const std::uint8_t*>(nul) - (body + nameAt) : bodySize - nameAt);
  out->segment = Read16(body + kSegmentAt);
  out->codeOffset = Read32(body + kCodeOffsetAt);
  out->codeSize = Read32(body + kCodeSizeAt);
  out->end = Read32(body + kEndAt);
  return true;
}

inline std::uint32_t ModuleStream::NameOffset(std::uint16_t kind) {
  switch (kind) {
    case record::kGProc32:
    case record::kLProc32:
    case record::kGProc32Id:
    case record::kLProc32Id:
    case record::kLProc32Dpc:
    case record::kLProc32DpcId:
      return 35;  // after the flags byte
    case record::kGManProc:
    case record::kLManProc:
      return 37;  // a return register comes first
    default:
      return 0;
  }
}

template <class Visit>
void LinesSubsection::ForEachBlock(Visit visit) const {
  constexpr std::uint32_t kBlockHeaderBytes = 12;  // checksum offset, line count, block size
  ByteReader reader(blocks_);
  while (reader.remaining() > 0) {
    ByteReader header(reader.Rest());
    std::uint32_t checksumOffset = 0;
    std::uint32_t count = 0;
    std::uint32_t blockSize = 0;
    if (!header.ReadU32(&checksumOffset) || !header.ReadU32(&count) || !header.ReadU32(&blockSize)) return;
    const std::uint64_t entryBytes = std::uint64_t{count} * (8 + (hasColumns_ ? 4 : 0));
    if (blockSize < kBlockHeaderBytes || entryBytes > blockSize - kBlockHeaderBytes ||
        entryBytes > header.remaining()) {
      return;
    }
    Block block;
    block.count_ = count;
    block.lines_ = reader.Rest().data + kBlockHeaderBytes;
    if (hasColumns_) block.columns_ = block.lines_ + std::size_t{count} * 8;
    if (!visit(checksumOffset, block) || !reader.Skip(blockSize)) return;
  }
}

}  // namespace sorvanta
