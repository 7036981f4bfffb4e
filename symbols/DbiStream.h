#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "Bytes.h"
#include "HResult.h"

namespace sorvanta {

// One module (object file, or member of a library) as the DBI stream
// describes it: where its symbols and line information are, and its names.
struct ModuleDescriptor {
  static constexpr std::uint16_t kNoStream = 0xFFFF;

  std::uint16_t stream = kNoStream;
  std::uint32_t symbolBytes = 0;  // symbol records, from the stream's start
  std::uint32_t c11Bytes = 0;     // old-style lines, after the symbols
  std::uint32_t c13Bytes = 0;     // line subsections, after those
  std::string_view name;          // the object file, or the library member
  std::string_view objectName;    // the library, for a member
};

// The DBI stream (stream 3): its header, the module descriptors, and the
// stream numbers of the publics, the symbol records and, through the
// optional debug header, the section headers. The descriptors' names are
// views into the stream's bytes, which the object keeps.
class DbiStream {
 public:
  // E_PDB_CORRUPT when the header is short, has the wrong signature or an
  // old version, or its substreams do not add up to the stream. A damaged
  // module descriptor ends the list; the modules before it still count.
  static HRESULT Parse(std::vector<std::uint8_t> bytes, DbiStream* out);

  DbiStream() = default;
  DbiStream(DbiStream&&) = default;
  DbiStream& operator=(DbiStream&&) = default;
  DbiStream(const DbiStream&) = delete;  // the descriptors point into the bytes
  DbiStream& operator=(const DbiStream&) = delete;

  const std::vector<ModuleDescriptor>& modules() const { return modules_; }
  // Streams the header names; none for the "no stream" marker.
  std::optional<std::uint32_t> publicsStream() const { return Stream(publicsStream_); }
  std::optional<std::uint32_t> symbolRecordStream() const { return Stream(symbolRecordStream_); }
  std::optional<std::uint32_t> sectionHeaderStream() const { return Stream(sectionHeaderStream_); }
  std::uint16_t machine() const { return machine_; }

 private:
  static std::optional<std::uint32_t> Stream(std::uint16_t index) {
    return index == ModuleDescriptor::kNoStream ? std::nullopt : std::optional<std::uint32_t>(index);
  }

  std::vector<std::uint8_t> bytes_;
  std::vector<ModuleDescriptor> modules_;
  std::uint16_t publicsStream_ = ModuleDescriptor::kNoStream;
  std::uint16_t symbolRecordStream_ = ModuleDescriptor::kNoStream;
  std::uint16_t sectionHeaderStream_ = ModuleDescriptor::kNoStream;
  std::uint16_t machine_ = 0;
};

}  // namespace sorvanta
