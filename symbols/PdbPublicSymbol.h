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
    kClaimed,  // being cached by one thread: made on each use till then
  };
  // The state is read and set atomically, and the place and length of a
  // cached name are set before its state, so that threads can show names
  // at once while one of them caches a name (see PublicTable::Name).
  Demangled demangled() const { return static_cast<Demangled>(__atomic_load_n(&demangled_, __ATOMIC_ACQUIRE)); }
  std::uint32_t demangledAt() const { return demangledAt_; }
  std::uint16_t demangledLength() const { return demangledLength_; }
  void setDemangled(Demangled state) {
    __atomic_store_n(&demangled_, static_cast<std::uint8_t>(state), __ATOMIC_RELEASE);
  }
  // Whether this thread is the one to cache the name (from kUnknown).
  bool ClaimForCache() {
    auto expected = static_cast<std::uint8_t>(Demangled::kUnknown);
    return __atomic_compare_exchange_n(&demangled_, &expected, static_cast<std::uint8_t>(Demangled::kClaimed), false,
                                       __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
  }
  void setCached(std::uint32_t at, std::uint16_t length) {
    demangledAt_ = at;
    demangledLength_ = length;
    setDemangled(Demangled::kCached);
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
  std::uint8_t demangled_ = static_cast<std::uint8_t>(Demangled::kUnknown);
};

}  // namespace sorvanta
