#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "Bytes.h"
#include "HResult.h"

namespace sorvanta {

// The PDB info stream (stream 1): the file's version, the signature, age
// and GUID that tie it to the image it describes, and the map from stream
// names ("/names", ...) to stream numbers.
class InfoStream {
 public:
  using Guid = std::array<std::uint8_t, 16>;

  // E_PDB_CORRUPT when the header is short or names no known version: an
  // MSF file without such a stream is some other kind of file.
  static HRESULT Parse(std::vector<std::uint8_t> bytes, InfoStream* out);

  std::uint32_t version() const { return version_; }
  std::uint32_t signature() const { return signature_; }
  std::uint32_t age() const { return age_; }
  const Guid& guid() const { return guid_; }

  // The stream that the name map gives for name; none when the map lacks
  // it or is damaged before it is found.
  std::optional<std::uint32_t> NamedStream(std::string_view name) const;

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint32_t version_ = 0;
  std::uint32_t signature_ = 0;
  std::uint32_t age_ = 0;
  Guid guid_{};
};

}  // namespace sorvanta
