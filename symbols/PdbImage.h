#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ChunkedVector.h"
#include "FunctionAddressIndex.h"
#include "FunctionNameIndex.h"
#include "HResult.h"
#include "IDiaSymbol.h"
#include "LoadOptions.h"
#include "ModuleLineTable.h"
#include "PdbFunctionSymbol.h"
#include "PdbGlobalScope.h"
#include "PdbPublicSymbol.h"
#include "PublicSymbolTable.h"
#include "llvm/Support/Allocator.h"

namespace llvm {
class BinaryByteStream;
class MemoryBuffer;
namespace pdb {
class PDBFile;
class PDBStringTable;
}  // namespace pdb
}  // namespace llvm

namespace sorvanta {

// Everything read from one PDB file: its bytes (read once, at load; the
// file on disk is never looked at again), its modules and sections, one
// symbol object per function, and the indexes that answer queries. The
// image is immutable after loading except for the load address and the
// line tables, which are built the first time a module's source file is
// asked for. Symbols handed out share ownership of the image.
class PdbImage : public std::enable_shared_from_this<PdbImage> {
  struct Token {};

 public:
  // Loads path. E_PDB_NOT_FOUND, E_INVALIDARG (not a regular file),
  // E_PDB_FORMAT (not a PDB, or damaged), E_OUTOFMEMORY, E_FAIL.
  // options.publics also reads the public symbols that mark functions.
  static HRESULT Load(const std::wstring& path, std::shared_ptr<PdbImage>* image,
                      LoadOptions options = {});

  explicit PdbImage(Token);  // use Load
  ~PdbImage();
  PdbImage(const PdbImage&) = delete;
  PdbImage& operator=(const PdbImage&) = delete;

  std::size_t functionCount() const { return functions_.size(); }
  const PdbFunctionSymbol& function(std::uint32_t index) const { return functions_[index]; }

  // References that share the ownership of image.
  static SymbolRef FunctionRef(const std::shared_ptr<PdbImage>& image, std::uint32_t index);
  static SymbolRef GlobalScopeRef(const std::shared_ptr<PdbImage>& image);

  // Functions whose name equals name: folded case when caseInsensitive,
  // else exactly. In enumeration order.
  std::vector<std::uint32_t> FindByName(const std::wstring& name, bool caseInsensitive) const;
  // The function whose code holds va (load address + RVA).
  std::optional<std::uint32_t> FindByVirtualAddress(std::uint64_t va) const;

  // Public symbols (empty unless loaded with options.publics), in the
  // table's order.
  const PublicSymbolTable& publics() const { return publics_; }
  std::size_t publicCount() const { return publicSymbols_.size(); }
  static SymbolRef PublicRef(const std::shared_ptr<PdbImage>& image, std::uint32_t index);
  // The public at or below va, inside its section.
  std::optional<std::uint32_t> FindPublicAtOrBelow(std::uint64_t va) const;

  // Fails (E_INVALIDARG) when some function's address would pass 64 bits.
  HRESULT SetLoadAddress(std::uint64_t loadAddress);
  std::uint64_t loadAddress() const { return loadAddress_; }

  // Per-function properties that need the image's tables.
  std::optional<std::uint32_t> Rva(const PdbFunctionSymbol& f) const;
  const std::wstring* SourceFile(const PdbFunctionSymbol& f);
  const std::string* ObjectFile(const PdbFunctionSymbol& f) const;

  const std::wstring& fileStem() const { return fileStem_; }

  // Shared ownership of this image, for objects inside it (the global
  // scope) that hand out references of their own.
  std::shared_ptr<PdbImage> self() { return shared_from_this(); }

  // Approximate heap bytes held beyond the file's own bytes.
  std::size_t IndexMemoryBytes() const;

 private:
  struct Module {
    std::string name;  // the module name (object file, or library member)
    std::uint32_t stream = UINT32_MAX;
    std::uint32_t symbolBytes = 0;
    std::uint32_t c11Bytes = 0;
    std::uint32_t c13Bytes = 0;
    bool isLinker = false;
  };

  HRESULT Parse(std::unique_ptr<llvm::MemoryBuffer> bytes, LoadOptions options);
  void ReadPublics();
  HRESULT ReadModulesAndSections();
  void ScanModule(std::uint32_t moduleIndex, std::vector<std::uint32_t>* hashes);
  void BuildIndexes(const std::vector<std::uint32_t>& hashes);
  const ModuleLineTable* LinesFor(std::uint32_t module);
  const llvm::pdb::PDBStringTable* Strings();
  std::optional<std::uint32_t> FindNamesStream() const;

  std::wstring fileStem_;
  std::unique_ptr<llvm::BumpPtrAllocator> allocator_;  // LLVM's reader and our name arena
  std::unique_ptr<llvm::pdb::PDBFile> file_;
  const std::uint8_t* bytes_ = nullptr;
  std::size_t size_ = 0;
  std::uint32_t blockSize_ = 0;

  std::vector<Module> modules_;
  std::vector<std::uint32_t> sectionAddresses_;  // RVA of section i + 1

  PdbGlobalScope globalScope_;
  ChunkedVector<PdbFunctionSymbol> functions_;
  FunctionNameIndex nameIndex_;
  FunctionAddressIndex addressIndex_;
  std::uint64_t loadAddress_ = 0;
  PublicSymbolTable publics_;
  std::vector<PdbPublicSymbol> publicSymbols_;  // one per entry of publics_; never grows after load

  // Built on demand.
  std::vector<std::unique_ptr<ModuleLineTable>> lineTables_;
  bool stringsLoaded_ = false;
  std::vector<std::uint8_t> namesBytes_;
  std::unique_ptr<llvm::BinaryByteStream> namesStream_;
  std::unique_ptr<llvm::pdb::PDBStringTable> strings_;
};

}  // namespace sorvanta
