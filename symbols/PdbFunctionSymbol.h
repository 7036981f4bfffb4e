#pragma once

#include <cstdint>

#include "IDiaSymbol.h"

namespace sorvanta {

class PdbImage;

// A function of a loaded PDB file. The objects live inside their PdbImage,
// one per function, and references to them share the image's ownership:
// a symbol stays readable as long as any reference to it is held.
class PdbFunctionSymbol final : public IDiaSymbol {
 public:
  PdbFunctionSymbol(PdbImage* image, const char* name, std::uint16_t nameLength,
                    std::uint16_t segment, std::uint32_t codeOffset, std::uint32_t codeSize,
                    std::uint32_t module)
      : image_(image),
        name_(name),
        codeOffset_(codeOffset),
        codeSize_(codeSize),
        module_(module),
        segment_(segment),
        nameLength_(nameLength) {}

  HRESULT findChildren(std::uint32_t symTag, const std::wstring* name, std::uint32_t compareFlags,
                       DiaRef<IDiaEnumSymbols>* result) override;
  HRESULT get_name(std::wstring* name) override;
  HRESULT get_symTag(std::uint32_t* symTag) override;
  HRESULT get_virtualAddress(std::uint64_t* virtualAddress) override;
  HRESULT get_length(std::uint64_t* length) override;
  HRESULT get_sourceFileName(std::wstring* fileName) override;
  HRESULT get_objectFileName(std::wstring* fileName) override;

  const char* name() const { return name_; }
  std::uint16_t nameLength() const { return nameLength_; }
  std::uint16_t segment() const { return segment_; }
  std::uint32_t codeOffset() const { return codeOffset_; }
  std::uint32_t codeSize() const { return codeSize_; }
  std::uint32_t module() const { return module_; }

 private:
  PdbImage* image_;
  const char* name_;  // UTF-8, not terminated; in the file's bytes or the image's arena
  std::uint32_t codeOffset_;
  std::uint32_t codeSize_;
  std::uint32_t module_;
  std::uint16_t segment_;
  std::uint16_t nameLength_;
};

}  // namespace sorvanta
