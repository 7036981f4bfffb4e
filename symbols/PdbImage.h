#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FunctionAddressIndex.h"
#include "FunctionNameIndex.h"
#include "HResult.h"
#include "IDiaSymbol.h"
#include "LoadOptions.h"
#include "ModuleLineTable.h"
#include "PageBuffer.h"
#include "PdbFunctionSymbol.h"
#include "PdbGlobalScope.h"
#include "PdbPublicSymbol.h"
#include "PublicSymbolTable.h"

namespace llvm {
class BinaryByteStream;
namespace pdb {
class PDBStringTable;
}  // namespace pdb
}  // namespace llvm

namespace sorvanta {

class MsfFile;

// Everything read from one PDB file: the streams that listing needs (read
// once, at load; the file on disk is never looked at again), its modules
// and sections, one symbol object per function, and the indexes that
// answer queries. Only these streams are read: the info stream, the DBI
// stream and its section headers, each module's symbol records and C13
// line information, and the string table. The image is immutable after
// loading except for the load address and what is built on first use: the
// name index (first search), the address index (first lookup or load
// address) and each module's line table (first source file). Symbols
// handed out share ownership of the image. One thread at a time.
class PdbImage : public std::enable_shared_from_this<PdbImage> {
  struct Token {};

 public:
  using LoadOptions = sorvanta::LoadOptions;
  // The options Load uses when given none; the benchmarks change them.
  static LoadOptions& DefaultLoadOptions();

  // Loads path. E_PDB_NOT_FOUND, E_INVALIDARG (not a regular file),
  // E_PDB_FORMAT (not a PDB, or damaged), E_OUTOFMEMORY, E_FAIL.
  static HRESULT Load(const std::wstring& path, std::shared_ptr<PdbImage>* image);
  static HRESULT Load(const std::wstring& path, const LoadOptions& options,
                      std::shared_ptr<PdbImage>* image);

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

  // For callers that ask about many functions (the query program's batch
  // lookups): SourceFile of function index as an index into its module's
  // line table (ModuleLines(...)->file(i)), or ModuleLineTable::kNoFile.
  // The first call for a module records the answer of each of its
  // functions (4 bytes each), so only such callers pay that memory.
  std::uint32_t SourceFileIndex(std::uint32_t function);
  // The module's line table, built on first use.
  const ModuleLineTable& ModuleLines(std::uint32_t module) { return *LinesFor(module); }
  std::size_t moduleCount() const { return modules_.size(); }

  const std::wstring& fileStem() const { return fileStem_; }

  // Shared ownership of this image, for objects inside it (the global
  // scope) that hand out references of their own.
  std::shared_ptr<PdbImage> self() { return shared_from_this(); }

  // Approximate heap bytes held beyond the streams' own bytes.
  std::size_t IndexMemoryBytes() const;
  // Bytes of the file's streams held in memory.
  std::size_t StreamMemoryBytes() const;

  // The start of a module's copy of its symbol stream (its symbol records,
  // then its line information).
  const std::uint8_t* ModuleSymbols(std::uint32_t module) const {
    return moduleBytes_.data() + modules_[module].bytesOffset;
  }

 private:
  struct Module {
    std::string name;  // the module name (object file, or library member)
    std::uint32_t stream = UINT32_MAX;  // UINT32_MAX: none, or walked for an earlier module
    std::uint32_t symbolBytes = 0;
    std::uint32_t c11Bytes = 0;
    std::uint32_t c13Bytes = 0;
    bool isLinker = false;
    std::uint64_t bytesOffset = 0;  // of its copy in moduleBytes_
    std::uint32_t bytesRead = 0;    // how much of the stream was read
  };

  HRESULT Read(MsfFile& file, const LoadOptions& options);
  HRESULT ReadInfo(MsfFile& file);
  HRESULT ReadModulesAndSections(MsfFile& file);
  HRESULT ReadModules(MsfFile& file, unsigned threads, std::uint64_t bytesPerThread);
  // Reads one whole stream into *bytes, once: a stream that was already
  // read, or does not exist, gives S_FALSE and no bytes. Every stream the
  // image keeps is claimed from the file, here or in ReadModules, and a
  // stream is claimed once, so the bytes kept never exceed the file's
  // size. One more stream (the public symbols, say) is read at load by
  // calling this from Read.
  HRESULT ReadWholeStream(MsfFile& file, std::uint32_t stream, std::vector<std::uint8_t>* bytes);
  void ReadPublics(MsfFile& file);
  void ScanModule(std::uint32_t moduleIndex, std::vector<std::uint32_t>* records) const;
  const FunctionNameIndex& NameIndex() const;
  const FunctionAddressIndex& AddressIndex() const;
  const ModuleLineTable* LinesFor(std::uint32_t module);
  const llvm::pdb::PDBStringTable* Strings();
  std::optional<std::uint32_t> FindNamesStream(std::uint32_t streamCount) const;

  std::wstring fileStem_;

  // The streams' bytes, read at load.
  std::vector<std::uint8_t> infoBytes_;
  std::vector<std::uint8_t> dbiBytes_;
  std::vector<std::uint8_t> sectionHeaderBytes_;
  std::vector<std::uint8_t> namesBytes_;
  PageBuffer moduleBytes_;  // every module's symbols and lines, one after another

  std::vector<Module> modules_;
  std::vector<std::uint32_t> sectionAddresses_;  // RVA of section i + 1

  PdbGlobalScope globalScope_;
  std::vector<PdbFunctionSymbol> functions_;
  std::uint64_t loadAddress_ = 0;
  PublicSymbolTable publics_;
  std::vector<PdbPublicSymbol> publicSymbols_;  // one per entry of publics_; never grows after load

  // Built on demand.
  mutable bool nameIndexBuilt_ = false;
  mutable FunctionNameIndex nameIndex_;
  mutable bool addressIndexBuilt_ = false;
  mutable FunctionAddressIndex addressIndex_;
  std::vector<std::unique_ptr<ModuleLineTable>> lineTables_;
  // Per module, SourceFileIndex of each of its functions; empty until asked.
  std::vector<std::vector<std::uint32_t>> functionFiles_;
  std::vector<std::uint32_t> moduleFunctions_;  // first function of module m; m = count: the end
  bool stringsLoaded_ = false;
  std::unique_ptr<llvm::BinaryByteStream> namesStream_;
  std::unique_ptr<llvm::pdb::PDBStringTable> strings_;
};

}  // namespace sorvanta
