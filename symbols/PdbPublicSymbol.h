#pragma once

#include <cstdint>

#include "IDiaSymbol.h"

namespace sorvanta {

class PdbImage;

// A public symbol that marks a function (SymTagPublicSymbol). Lives inside
// its PdbImage, like the function symbols, and references to it share the
// image's ownership. Its name is demangled when read; a public has no
// length, source file or object file of its own.
class PdbPublicSymbol final : public IDiaSymbol {
 public:
  PdbPublicSymbol(PdbImage* image, std::uint32_t index) : image_(image), index_(index) {}

  HRESULT findChildren(std::uint32_t symTag, const std::wstring* name, std::uint32_t compareFlags,
                       DiaRef<IDiaEnumSymbols>* result) override;
  HRESULT get_name(std::wstring* name) override;
  HRESULT get_symTag(std::uint32_t* symTag) override;
  HRESULT get_virtualAddress(std::uint64_t* virtualAddress) override;
  HRESULT get_length(std::uint64_t* length) override;
  HRESULT get_sourceFileName(std::wstring* fileName) override;
  HRESULT get_objectFileName(std::wstring* fileName) override;

  std::uint32_t index() const { return index_; }

 private:
  PdbImage* image_;
  std::uint32_t index_;  // into the image's public symbol table
};

}  // namespace sorvanta
