#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "Bytes.h"

namespace sorvanta {

// The PDB's string table (the "/names" stream): the source file names that
// line information refers to by offset. Texts are views into the stream's
// bytes, which the table keeps; nothing is copied or converted, so however
// many references point at a string, it costs its bytes once.
class StringTable {
 public:
  StringTable() = default;
  // A stream whose header is damaged gives an empty table: its texts
  // cannot be found, and nothing else depends on them.
  explicit StringTable(std::vector<std::uint8_t> stream);

  StringTable(StringTable&&) = default;
  StringTable& operator=(StringTable&&) = default;

  // The NUL-terminated text at offset; false when it is not inside the
  // table whole.
  bool At(std::uint32_t offset, std::string_view* text) const { return TextAt(strings_, offset, text); }
  // The text that At found at offset, length bytes long.
  std::string_view Known(std::uint32_t offset, std::uint32_t length) const {
    return std::string_view(reinterpret_cast<const char*>(strings_.data) + offset, length);
  }

 private:
  std::vector<std::uint8_t> bytes_;
  ByteView strings_;
};

}  // namespace sorvanta
