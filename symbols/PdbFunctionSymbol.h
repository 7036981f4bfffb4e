#pragma once

#include <cstdint>
#include <optional>

#include "IDiaSymbol.h"
#include "ModuleFileTable.h"

namespace sorvanta {

class PdbImage;

// A function of a loaded PDB file: one fixed-size record of its facts,
// which is also the symbol object handed to the window. The records live
// inside their PdbImage, one per function, and references to them share
// the image's ownership: a symbol stays readable as long as any reference
// to it is held.
//
// 32 bytes: the name as an offset and length into the module's names that
// the image kept of the bytes it read, the RVA, the code length, the module, the source file,
// and the image as a 15-bit handle (see PdbImage::FromHandle), which keeps
// a million functions and the window's references to all of them within
// 48 bytes each.
class PdbFunctionSymbol final : public IDiaSymbol {
 public:
  static constexpr std::uint32_t kNoFile = ModuleFileTable::kNoFile;

  PdbFunctionSymbol(std::uint16_t image, std::uint32_t module, std::uint32_t nameOffset,
                    std::uint16_t nameLength, std::optional<std::uint32_t> rva, std::uint32_t length)
      : nameOffset_(nameOffset),
        nameLength_(nameLength),
        image_(image),
        hasRva_(rva.has_value()),
        rva_(rva.value_or(0)),
        length_(length),
        module_(module) {}

  // What the window asks; each answer comes from the image's narrow API.
  HRESULT findChildren(std::uint32_t symTag, const std::wstring* name, std::uint32_t compareFlags,
                       DiaRef<IDiaEnumSymbols>* result) override;
  HRESULT get_name(std::wstring* name) override;
  HRESULT get_symTag(std::uint32_t* symTag) override;
  HRESULT get_virtualAddress(std::uint64_t* virtualAddress) override;
  HRESULT get_length(std::uint64_t* length) override;
  HRESULT get_sourceFileName(std::wstring* fileName) override;
  HRESULT get_objectFileName(std::wstring* fileName) override;

  // The facts, for the image.
  std::uint32_t nameOffset() const { return nameOffset_; }  // in its module's names
  std::uint16_t nameLength() const { return nameLength_; }
  std::optional<std::uint32_t> rva() const {
    return hasRva_ ? std::optional<std::uint32_t>(rva_) : std::nullopt;
  }
  std::uint32_t length() const { return length_; }
  std::uint32_t module() const { return module_; }
  // An index into the module's file table, or kNoFile.
  std::uint32_t file() const { return file_; }
  void setFile(std::uint32_t file) { file_ = file; }

 private:
  std::uint32_t nameOffset_;
  std::uint16_t nameLength_;
  std::uint16_t image_ : 15;
  std::uint16_t hasRva_ : 1;
  std::uint32_t rva_;
  std::uint32_t length_;
  std::uint32_t module_;
  std::uint32_t file_ = kNoFile;
};

}  // namespace sorvanta
