#pragma once

#include <cstdint>
#include <optional>

#include "IDiaSymbol.h"

namespace sorvanta {

// A public symbol that marks a function (SymTagPublicSymbol): one
// fixed-size record of its facts, which is also the symbol object handed
// out. Records live inside their image, like the functions, and name it by
// the same 15-bit handle. The name is an offset and length into the
// symbol-record stream; its demangled text is made once and kept while
// the image's cache has room. A public has no length, source file or
// object file of its own.
class PdbPublicSymbol final : public IDiaSymbol {
 public:
  PdbPublicSymbol(std::uint16_t image, std::uint32_t nameOffset, std::uint16_t nameLength,
                  std::uint16_t segment, std::optional<std::uint32_t> rva)
      : nameOffset_(nameOffset),
        nameLength_(nameLength),
        image_(image),
        hasRva_(rva.has_value()),
        rva_(rva.value_or(0)),
        segment_(segment) {}

  HRESULT findChildren(std::uint32_t symTag, const std::wstring* name, std::uint32_t compareFlags,
                       DiaRef<IDiaEnumSymbols>* result) override;
  HRESULT get_name(std::wstring* name) override;
  HRESULT get_symTag(std::uint32_t* symTag) override;
  HRESULT get_virtualAddress(std::uint64_t* virtualAddress) override;
  HRESULT get_length(std::uint64_t* length) override;
  HRESULT get_sourceFileName(std::wstring* fileName) override;
  HRESULT get_objectFileName(std::wstring* fileName) override;

  std::uint32_t nameOffset() const { return nameOffset_; }  // in the symbol-record stream
  std::uint16_t nameLength() const { return nameLength_; }
  std::optional<std::uint32_t> rva() const {
    return hasRva_ ? std::optional<std::uint32_t>(rva_) : std::nullopt;
  }
  std::uint16_t segment() const { return segment_; }

  // The demangled name as kept by the image's cache.
  enum class Demangled : std::uint8_t {
    kUnknown,  // not made yet
    kRaw,      // shown as stored: no name to demangle, or too long
    kCached,   // at demangledAt() in the cache
    kMade,     // demangles, but the cache had no room: made on each use
  };
  Demangled demangled() const { return demangled_; }
  std::uint32_t demangledAt() const { return demangledAt_; }
  std::uint16_t demangledLength() const { return demangledLength_; }
  void setDemangled(Demangled state, std::uint32_t at = 0, std::uint16_t length = 0) {
    demangled_ = state;
    demangledAt_ = at;
    demangledLength_ = length;
  }

 private:
  std::uint32_t nameOffset_;
  std::uint16_t nameLength_;
  std::uint16_t image_ : 15;
  std::uint16_t hasRva_ : 1;
  std::uint32_t rva_;
  std::uint16_t segment_;
  std::uint16_t demangledLength_ = 0;
  std::uint32_t demangledAt_ = 0;
  Demangled demangled_ = Demangled::kUnknown;
};

}  // namespace sorvanta
