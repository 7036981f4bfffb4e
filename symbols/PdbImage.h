#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DbiStream.h"
#include "FunctionAddressIndex.h"
#include "FunctionNameIndex.h"
#include "HResult.h"
#include "IDiaSymbol.h"
#include "InfoStream.h"
#include "LoadOptions.h"
#include "ModuleLoader.h"
#include "PdbGlobalScope.h"
#include "PublicTable.h"
#include "SectionTable.h"
#include "StringTable.h"
#include "TypeStream.h"

namespace sorvanta {

// Everything read from one PDB file, and the one place that answers what
// the window and sorvanta-query ask of it.
//
// A load reads the streams that listing needs once (the file on disk is
// never looked at again): the info stream, the DBI stream and its section
// headers, each module's symbol records and C13 lines, and the string
// table; and the publics with their symbol records when asked. Every fact
// derived from them is a fixed-size record or a view into the bytes kept
// (a function's name is kept as a copy of its bytes), so no count or
// offset in the file can make it cost more than the bytes read and 48
// bytes per function or public.
//
// Functions are numbered in enumeration order: module by module, each
// module's in stream order. The image is immutable after loading except
// for the load address and what is built on first use: the name index
// (first search) and the address index (first lookup). Each of those is
// built whole before it is kept, so running out of memory part-way
// (std::bad_alloc) leaves the image as it was and the next call tries
// again. Symbols handed out share ownership of the image. One thread at a
// time, except that after PrepareConcurrentLookups several threads may
// find functions and publics by address, and show them, at once.
class PdbImage : public std::enable_shared_from_this<PdbImage> {
  struct Token {};

 public:
  // The options Load uses when given none; the benchmarks change them.
  static LoadOptions& DefaultLoadOptions();

  // Loads the file at path (bytes, as the file system takes them).
  // E_PDB_NOT_FOUND, E_INVALIDARG (not a regular file), E_PDB_FORMAT (not
  // a PDB), E_PDB_CORRUPT (damaged), E_OUTOFMEMORY, a read error's errno
  // (HResultFromErrno), E_FILE_CHANGED (the file shrank while read).
  static HRESULT Load(const std::string& path, std::shared_ptr<PdbImage>* image);
  static HRESULT Load(const std::string& path, const LoadOptions& options,
                      std::shared_ptr<PdbImage>* image);

  // Reads only the info stream of the file at path: enough to tell which
  // image it belongs to. The same failures as Load.
  static HRESULT ReadInfo(const std::string& path, InfoStream* info);

  explicit PdbImage(Token);  // use Load
  ~PdbImage();
  PdbImage(const PdbImage&) = delete;
  PdbImage& operator=(const PdbImage&) = delete;

  // ---- Functions.
  std::size_t functionCount() const { return loaded_.functions.size(); }
  // The name as stored: UTF-8, or any bytes a damaged file holds.
  std::string_view FunctionName(std::uint32_t i) const;
  std::optional<std::uint32_t> FunctionRva(std::uint32_t i) const { return Function(i).rva(); }
  // Load address + RVA; none for code the linker discarded.
  std::optional<std::uint64_t> FunctionAddress(std::uint32_t i) const;
  std::uint32_t FunctionLength(std::uint32_t i) const { return Function(i).length(); }
  // Empty when the function has none.
  std::string_view SourceFile(std::uint32_t i) const;
  std::string_view ObjectFile(std::uint32_t i) const;

  // Functions whose name equals name (UTF-8): with case folded when
  // caseInsensitive, else exactly. In enumeration order.
  std::vector<std::uint32_t> FindFunctions(std::string_view name, bool caseInsensitive) const;
  // The function whose code holds va: of several, the one with the
  // greatest start, then the first listed.
  std::optional<std::uint32_t> FindFunction(std::uint64_t va) const;

  // Builds what finding by address and naming inlined functions build on
  // first use, so that threads may then call FindFunction,
  // FindPublicAtOrBelow and the other const lookups at once. Throws
  // std::bad_alloc, leaving the image as it was.
  void PrepareConcurrentLookups() const;

  // ---- Public symbols that mark functions, in address order.
  // S_FALSE when the load did not ask for them; S_OK when they were read
  // (a file without any has none); otherwise why they could not be read.
  HRESULT publicsStatus() const { return publicsStatus_; }
  std::size_t publicCount() const { return publics_.size(); }
  std::string_view PublicRawName(std::uint32_t i) const { return publics_.RawName(i); }
  // Demangled; a view into the image or into *scratch.
  std::string_view PublicName(std::uint32_t i, std::string* scratch) const { return publics_.Name(i, scratch); }
  std::optional<std::uint64_t> PublicAddress(std::uint32_t i) const;
  // The address of a public that FindPublicAtOrBelow found.
  std::uint64_t FoundPublicAddress(std::uint32_t i) const;
  // The public at or below va, inside its section.
  std::optional<std::uint32_t> FindPublicAtOrBelow(std::uint64_t va) const;
  std::vector<std::uint32_t> FindPublics(std::string_view name, bool caseInsensitive) const {
    return publics_.Find(name, caseInsensitive);
  }

  // Fails (E_INVALIDARG) when some function's or public's address would
  // pass 64 bits.
  HRESULT SetLoadAddress(std::uint64_t loadAddress);
  std::uint64_t loadAddress() const { return loadAddress_; }

  const InfoStream& info() const { return info_; }
  // The file's name without folder and extension (the global scope's name).
  const std::string& fileStem() const { return fileStem_; }
  // Bytes kept of those read: the streams held whole, the functions'
  // names, and with lines kept the modules' bytes.
  std::size_t StreamMemoryBytes() const;

  // ---- The symbol objects handed to the window.
  // The image a record names by its handle; the record's reference keeps
  // it alive.
  static PdbImage& FromHandle(std::uint16_t handle);
  std::uint32_t FunctionIndex(const PdbFunctionSymbol& f) const {
    return static_cast<std::uint32_t>(loaded_.functions.IndexOf(f));
  }
  std::uint32_t PublicIndex(const PdbPublicSymbol& p) const { return publics_.IndexOf(p); }
  // References that share the ownership of image.
  static SymbolRef FunctionRef(const std::shared_ptr<PdbImage>& image, std::uint32_t index);
  static SymbolRef PublicRef(const std::shared_ptr<PdbImage>& image, std::uint32_t index);
  static SymbolRef GlobalScopeRef(const std::shared_ptr<PdbImage>& image);
  std::shared_ptr<PdbImage> self() { return shared_from_this(); }

 private:
  HRESULT Read(MsfFile& file, const LoadOptions& options);
  HRESULT ReadPublics(MsfFile& file, DemangleStyle style, bool withData);
  friend class FrameFinder;  // reads the lines a load kept
  const PdbFunctionSymbol& Function(std::uint32_t i) const { return loaded_.functions[i]; }
  ByteView ModuleSymbols(std::uint32_t module) const;
  ByteView ModuleC13(std::uint32_t module) const;

  std::string fileStem_;
  std::uint16_t handle_ = 0;
  bool hasHandle_ = false;

  InfoStream info_;
  DbiStream dbi_;
  SectionTable sections_;
  StringTable strings_;
  TypeStream types_;  // with lines: the names inlined functions need
  TypeStream ids_;
  LoadedModules loaded_;  // the modules' bytes, the modules, the function records
  std::uint64_t streamBytes_ = 0;

  PdbGlobalScope globalScope_;
  std::uint64_t loadAddress_ = 0;
  PublicTable publics_;
  HRESULT publicsStatus_ = S_FALSE;

  // Built on first use.
  mutable std::optional<FunctionNameIndex> nameIndex_;
  mutable std::optional<FunctionAddressIndex> addressIndex_;
  const FunctionAddressIndex& AddressIndex() const;  // built at first use
};

}  // namespace sorvanta
