#include "PdbFunctionSymbol.h"

#include <cstring>

#include "PdbEnumSymbols.h"
#include "PdbImage.h"
#include "SymTag.h"
#include "Utf8.h"
#include "llvm/DebugInfo/CodeView/CodeView.h"
#include "llvm/Support/Endian.h"

namespace sorvanta {

namespace {

namespace cv = llvm::codeview;
using llvm::support::endian::read16le;
using llvm::support::endian::read32le;

// Offsets inside a procedure record's body.
constexpr std::uint32_t kCodeSizeOffset = 12;
constexpr std::uint32_t kCodeOffsetOffset = 28;
constexpr std::uint32_t kSegmentOffset = 32;
constexpr std::uint32_t kNameOffset = 35;         // after the flags byte
constexpr std::uint32_t kManagedNameOffset = 37;  // a return register comes first

}  // namespace

std::uint32_t PdbFunctionSymbol::NameOffset(std::uint16_t kind) {
  switch (kind) {
    case cv::S_GPROC32:
    case cv::S_LPROC32:
    case cv::S_GPROC32_ID:
    case cv::S_LPROC32_ID:
    case cv::S_LPROC32_DPC:
    case cv::S_LPROC32_DPC_ID:
      return kNameOffset;
    case cv::S_GMANPROC:
    case cv::S_LMANPROC:
      return kManagedNameOffset;
    default:
      return 0;
  }
}

// The image accepted the record only if it is framed inside the module's
// bytes and its body reaches past the name's start, so every field read
// below lies inside the record.
const std::uint8_t* PdbFunctionSymbol::Body() const {
  return image_->ModuleSymbols(module_) + record_ + 4;
}

const char* PdbFunctionSymbol::name() const {
  const std::uint8_t* body = Body();
  return reinterpret_cast<const char*>(body + NameOffset(read16le(body - 2)));
}

std::uint16_t PdbFunctionSymbol::nameLength() const {
  const std::uint8_t* body = Body();
  const std::uint32_t bodySize = read16le(body - 4) - 2u;
  const std::uint32_t nameOffset = NameOffset(read16le(body - 2));
  return static_cast<std::uint16_t>(
      strnlen(reinterpret_cast<const char*>(body + nameOffset), bodySize - nameOffset));
}

std::uint16_t PdbFunctionSymbol::segment() const { return read16le(Body() + kSegmentOffset); }
std::uint32_t PdbFunctionSymbol::codeOffset() const { return read32le(Body() + kCodeOffsetOffset); }
std::uint32_t PdbFunctionSymbol::codeSize() const { return read32le(Body() + kCodeSizeOffset); }

HRESULT PdbFunctionSymbol::findChildren(std::uint32_t, const std::wstring*, std::uint32_t,
                                        DiaRef<IDiaEnumSymbols>* result) {
  // Locals, blocks and inline sites are not modelled: a function has no
  // children to offer.
  if (!result) return E_POINTER;
  *result = std::make_shared<PdbEnumSymbols>();
  return S_FALSE;
}

HRESULT PdbFunctionSymbol::get_name(std::wstring* name) {
  if (!name) return E_POINTER;
  *name = Utf8ToWide(this->name(), nameLength());
  return S_OK;
}

HRESULT PdbFunctionSymbol::get_symTag(std::uint32_t* symTag) {
  if (!symTag) return E_POINTER;
  *symTag = SymTagFunction;
  return S_OK;
}

HRESULT PdbFunctionSymbol::get_virtualAddress(std::uint64_t* virtualAddress) {
  if (!virtualAddress) return E_POINTER;
  const std::optional<std::uint32_t> rva = image_->Rva(*this);
  if (!rva) return E_FAIL;  // discarded code has no address
  *virtualAddress = image_->loadAddress() + *rva;
  return S_OK;
}

HRESULT PdbFunctionSymbol::get_length(std::uint64_t* length) {
  if (!length) return E_POINTER;
  *length = codeSize();
  return S_OK;
}

HRESULT PdbFunctionSymbol::get_sourceFileName(std::wstring* fileName) {
  if (!fileName) return E_POINTER;
  const std::wstring* file = image_->SourceFile(*this);
  if (!file) return S_FALSE;
  *fileName = *file;
  return S_OK;
}

HRESULT PdbFunctionSymbol::get_objectFileName(std::wstring* fileName) {
  if (!fileName) return E_POINTER;
  const std::string* object = image_->ObjectFile(*this);
  if (!object) return S_FALSE;
  *fileName = Utf8ToWide(*object);
  return S_OK;
}

}  // namespace sorvanta
