#pragma once

#include <cstdint>

#include "IDiaSymbol.h"

namespace sorvanta {

class PdbImage;

// A function of a loaded PDB file. The objects live inside their PdbImage,
// one per function, and references to them share the image's ownership:
// a symbol stays readable as long as any reference to it is held.
// A function of a loaded PDB file. The objects live inside their PdbImage,
// one per function, and references to them share the image's ownership:
// a symbol stays readable as long as any reference to it is held.
//
// A function is only its procedure record's place: the module and the
// record's offset in that module's symbol bytes, which the image keeps.
// Name, address and length are read from the record when asked for, so a
// million functions cost 24 bytes each.
class PdbFunctionSymbol final : public IDiaSymbol {
 public:
  PdbFunctionSymbol(PdbImage* image, std::uint32_t module, std::uint32_t record)
      : image_(image), module_(module), record_(record) {}

  HRESULT findChildren(std::uint32_t symTag, const std::wstring* name, std::uint32_t compareFlags,
                       DiaRef<IDiaEnumSymbols>* result) override;
  HRESULT get_name(std::wstring* name) override;
  HRESULT get_symTag(std::uint32_t* symTag) override;
  HRESULT get_virtualAddress(std::uint64_t* virtualAddress) override;
  HRESULT get_length(std::uint64_t* length) override;
  HRESULT get_sourceFileName(std::wstring* fileName) override;
  HRESULT get_objectFileName(std::wstring* fileName) override;

  // UTF-8, not terminated, inside the image's copy of the module's symbols.
  const char* name() const;
  std::uint16_t nameLength() const;
  std::uint16_t segment() const;
  std::uint32_t codeOffset() const;
  std::uint32_t codeSize() const;
  std::uint32_t module() const { return module_; }
  // Offset of the procedure record in its module's symbol stream.
  std::uint32_t record() const { return record_; }

  // Which record kinds are functions: the offset of the name inside the
  // record's body (after its length and kind), or 0 for other kinds.
  static std::uint32_t NameOffset(std::uint16_t kind);

 private:
  // The record's body: the bytes after its length and kind.
  const std::uint8_t* Body() const;

  PdbImage* image_;
  std::uint32_t module_;
  std::uint32_t record_;
};

}  // namespace sorvanta
