#include "PdbImage.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "MsfFile.h"
#include "Utf8.h"
#include "llvm/DebugInfo/PDB/Native/DbiModuleDescriptor.h"
#include "llvm/DebugInfo/PDB/Native/PDBStringTable.h"
#include "llvm/DebugInfo/PDB/Native/RawConstants.h"
#include "llvm/DebugInfo/PDB/Native/RawTypes.h"
#include "llvm/Object/COFF.h"
#include "llvm/Support/BinaryByteStream.h"
#include "llvm/Support/BinaryStreamArray.h"
#include "llvm/Support/BinaryStreamReader.h"

namespace sorvanta {

namespace pdb = llvm::pdb;
using llvm::support::endian::read16le;
using llvm::support::endian::read32le;

namespace {

constexpr std::uint32_t kInfoStream = 1;
constexpr std::uint32_t kDbiStream = 3;
constexpr std::uint32_t kInfoHeaderBytes = 28;  // version, signature, age, GUID

// Offset of the scope end inside a procedure record's body.
constexpr std::uint32_t kProcEndOffset = 4;

// Threads are a help, not a need: past this many the modules are too few
// and small for more to pay.
constexpr unsigned kMaxThreads = 16;

bool IsKnownInfoVersion(std::uint32_t version) {
  switch (version) {
    case pdb::PdbImplVC2:
    case pdb::PdbImplVC4:
    case pdb::PdbImplVC41:
    case pdb::PdbImplVC50:
    case pdb::PdbImplVC98:
    case pdb::PdbImplVC70Dep:
    case pdb::PdbImplVC70:
    case pdb::PdbImplVC80:
    case pdb::PdbImplVC110:
    case pdb::PdbImplVC140:
      return true;
    default:
      return false;
  }
}

std::wstring FileStem(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"/\\");
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos && dot > 0) name.erase(dot);
  return name;
}

// How many functions of f's module come before f and start where f does.
// Functions are stored module by module, each module's in stream order.
std::size_t SameStartOrdinal(const std::vector<PdbFunctionSymbol>& functions,
                             const PdbFunctionSymbol& f) {
  std::size_t lo = 0;
  std::size_t hi = functions.size();
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (functions[mid].module() < f.module()) lo = mid + 1;
    else hi = mid;
  }
  std::size_t ordinal = 0;
  for (std::size_t i = lo; i < functions.size() && &functions[i] != &f; ++i) {
    if (functions[i].segment() == f.segment() && functions[i].codeOffset() == f.codeOffset()) ++ordinal;
  }
  return ordinal;
}

HRESULT FormatError(llvm::Error error) {
  llvm::consumeError(std::move(error));
  return E_PDB_FORMAT;
}

}  // namespace

PdbImage::PdbImage(Token) : globalScope_(this) {}

PdbImage::~PdbImage() = default;

PdbImage::LoadOptions& PdbImage::DefaultLoadOptions() {
  static LoadOptions options;
  return options;
}

HRESULT PdbImage::Load(const std::wstring& path, std::shared_ptr<PdbImage>* image) {
  return Load(path, DefaultLoadOptions(), image);
}

HRESULT PdbImage::Load(const std::wstring& path, const LoadOptions& options,
                       std::shared_ptr<PdbImage>* image) {
  image->reset();
  try {
    // The file stays open only while it is read.
    MsfFile file;
    const HRESULT opened = file.Open(WideToUtf8(path));
    if (Failed(opened)) return opened;

    auto loaded = std::make_shared<PdbImage>(Token{});
    loaded->fileStem_ = FileStem(path);
    const HRESULT read = loaded->Read(file, options);
    if (Failed(read)) return read;
    *image = std::move(loaded);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT PdbImage::Read(MsfFile& file, const LoadOptions& options) {
  if (const HRESULT hr = ReadInfo(file); Failed(hr)) return hr;
  if (const HRESULT hr = ReadModulesAndSections(file); Failed(hr)) return hr;

  // The string table names the source files of the line information.
  if (const std::optional<std::uint32_t> names = FindNamesStream(file.streamCount())) {
    if (const HRESULT hr = ReadWholeStream(file, *names, &namesBytes_); Failed(hr)) return hr;
  }

  unsigned threads = options.threads ? options.threads : std::thread::hardware_concurrency();
  threads = std::clamp(threads, 1u, kMaxThreads);
  if (const HRESULT hr = ReadModules(file, threads, options.bytesPerThread); Failed(hr)) return hr;
  lineTables_.resize(modules_.size());
  if (options.publics) ReadPublics(file);
  return S_OK;
}

// The publics stream and the symbol-record stream, as the DBI stream names
// them. Publics that cannot be read are left out; they never fail a load.
void PdbImage::ReadPublics(MsfFile& file) {
  using Header = pdb::DbiStreamHeader;
  if (dbiBytes_.size() < sizeof(Header)) return;
  const std::uint8_t* const h = dbiBytes_.data();
  auto streamBytes = [&](std::uint32_t index, std::vector<std::uint8_t>* out) {
    if (index == pdb::kInvalidStreamIndex) return;
    // A stream that is missing, already read or damaged gives no publics;
    // running out of memory still ends the load.
    if (Failed(ReadWholeStream(file, index, out))) out->clear();
  };
  std::vector<std::uint8_t> publicsBytes;
  std::vector<std::uint8_t> recordBytes;
  streamBytes(read16le(h + offsetof(Header, PublicSymbolStreamIndex)), &publicsBytes);
  streamBytes(read16le(h + offsetof(Header, SymRecordStreamIndex)), &recordBytes);
  std::vector<PublicSymbolTable::Section> sections;
  for (std::size_t at = 0; at + sizeof(llvm::object::coff_section) <= sectionHeaderBytes_.size();
       at += sizeof(llvm::object::coff_section)) {
    const std::uint8_t* section = sectionHeaderBytes_.data() + at;
    sections.push_back({read32le(section + offsetof(llvm::object::coff_section, VirtualAddress)),
                        read32le(section + offsetof(llvm::object::coff_section, VirtualSize))});
  }
  publics_.Build(publicsBytes.data(), publicsBytes.size(), recordBytes.data(), recordBytes.size(),
                 std::move(sections));
  publicSymbols_.reserve(publics_.size());
  for (std::uint32_t i = 0; i < publics_.size(); ++i) publicSymbols_.emplace_back(this, i);
}

HRESULT PdbImage::ReadWholeStream(MsfFile& file, std::uint32_t stream,
                                  std::vector<std::uint8_t>* bytes) {
  bytes->clear();
  if (stream >= file.streamCount() || file.claimed(stream)) return S_FALSE;
  if (const HRESULT hr = file.Claim({stream}); Failed(hr)) return hr;
  // The stream's blocks are its own blocks of the file, so its size is
  // bounded by the file's.
  bytes->resize(file.StreamSize(stream));
  return file.Read(stream, 0, bytes->size(), bytes->data());
}

HRESULT PdbImage::ReadInfo(MsfFile& file) {
  // A PDB always has its info stream; an MSF file without a known one is
  // some other kind of file.
  if (file.streamCount() <= kInfoStream || file.StreamSize(kInfoStream) < kInfoHeaderBytes) {
    return E_PDB_FORMAT;
  }
  if (const HRESULT hr = ReadWholeStream(file, kInfoStream, &infoBytes_); Failed(hr)) return hr;
  return IsKnownInfoVersion(read32le(infoBytes_.data())) ? S_OK : E_PDB_FORMAT;
}

HRESULT PdbImage::ReadModulesAndSections(MsfFile& file) {
  // A PDB without module information (a compiler's type-only PDB) is valid
  // and simply holds no functions.
  if (file.streamCount() <= kDbiStream || file.StreamSize(kDbiStream) == 0) return S_OK;
  if (const HRESULT hr = ReadWholeStream(file, kDbiStream, &dbiBytes_); Failed(hr)) return hr;

  // The header: its signature and version, and the sizes of the substreams
  // that follow it, which must add up to the stream.
  using Header = pdb::DbiStreamHeader;
  if (dbiBytes_.size() < sizeof(Header)) return E_PDB_FORMAT;
  const std::uint8_t* const h = dbiBytes_.data();
  if (read32le(h + offsetof(Header, VersionSignature)) != UINT32_MAX) return E_PDB_FORMAT;
  if (read32le(h + offsetof(Header, VersionHeader)) < pdb::PdbDbiV70) return E_PDB_FORMAT;
  const std::uint32_t moduleBytes = read32le(h + offsetof(Header, ModiSubstreamSize));
  const std::uint32_t substreams[] = {
      moduleBytes,
      read32le(h + offsetof(Header, SecContrSubstreamSize)),
      read32le(h + offsetof(Header, SectionMapSize)),
      read32le(h + offsetof(Header, FileInfoSize)),
      read32le(h + offsetof(Header, TypeServerSize)),
      read32le(h + offsetof(Header, OptionalDbgHdrSize)),
      read32le(h + offsetof(Header, ECSubstreamSize)),
  };
  std::uint64_t total = sizeof(Header);
  for (std::uint32_t size : substreams) total += size;
  if (total != dbiBytes_.size()) return E_PDB_FORMAT;
  for (int i = 0; i < 5; ++i) {
    if (substreams[i] % 4 != 0) return E_PDB_FORMAT;  // these are always aligned
  }

  // The optional debug header, the last substream: stream numbers, one of
  // them the section headers'.
  const std::uint64_t debugHeaderStart = total - substreams[5];
  const std::uint32_t debugStreams = substreams[5] / 2;
  const auto sectionSlot = static_cast<std::uint32_t>(pdb::DbgHeaderType::SectionHdr);
  if (sectionSlot < debugStreams) {
    const std::uint32_t stream = read16le(h + debugHeaderStart + 2 * sectionSlot);
    if (stream != pdb::kInvalidStreamIndex) {
      if (stream >= file.streamCount()) return E_PDB_FORMAT;
      if (const HRESULT hr = ReadWholeStream(file, stream, &sectionHeaderBytes_); Failed(hr)) return hr;
      if (sectionHeaderBytes_.size() % sizeof(llvm::object::coff_section) != 0) return E_PDB_FORMAT;
      for (std::size_t at = 0; at < sectionHeaderBytes_.size(); at += sizeof(llvm::object::coff_section)) {
        sectionAddresses_.push_back(read32le(sectionHeaderBytes_.data() + at +
                                             offsetof(llvm::object::coff_section, VirtualAddress)));
      }
    }
  }

  // The module descriptors, read straight from their substream: the module
  // count in the file-info substream is not to be trusted.
  llvm::BinaryByteStream descriptorBytes(
      llvm::ArrayRef<std::uint8_t>(h + sizeof(Header), moduleBytes), llvm::support::little);
  llvm::BinaryStreamReader reader(descriptorBytes);
  llvm::VarStreamArray<pdb::DbiModuleDescriptor> descriptors;
  if (llvm::Error error = reader.readArray(descriptors, reader.bytesRemaining())) {
    return FormatError(std::move(error));
  }
  bool hadError = false;
  for (auto it = descriptors.begin(&hadError), end = descriptors.end(); it != end; ++it) {
    const pdb::DbiModuleDescriptor& descriptor = *it;
    Module module;
    module.name = descriptor.getModuleName().str();
    module.isLinker = module.name == "* Linker *";
    const std::uint32_t stream = descriptor.getModuleStreamIndex();
    if (stream != pdb::kInvalidStreamIndex && stream < file.streamCount()) {
      module.stream = stream;
    }
    module.symbolBytes = descriptor.getSymbolDebugInfoByteSize();
    module.c11Bytes = descriptor.getC11LineInfoByteSize();
    module.c13Bytes = descriptor.getC13LineInfoByteSize();
    modules_.push_back(std::move(module));
  }
  // A damaged descriptor ends the list; the modules before it still count.
  return S_OK;
}

HRESULT PdbImage::ReadModules(MsfFile& file, unsigned threads, std::uint64_t bytesPerThread) {
  // What to read of each module: its symbol records and line information,
  // no further than the stream goes. A stream that an earlier module (or
  // any other reader) already claimed is not read or walked again.
  std::vector<std::uint32_t> streams;
  std::vector<bool> taken(file.streamCount());
  std::uint64_t total = 0;
  for (Module& module : modules_) {
    if (module.stream == UINT32_MAX) continue;
    const std::uint64_t wanted = static_cast<std::uint64_t>(module.symbolBytes) + module.c11Bytes +
                                 module.c13Bytes;
    const std::uint32_t size = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(wanted, file.StreamSize(module.stream)));
    if (size == 0) continue;
    if (file.claimed(module.stream) || taken[module.stream]) {
      module.stream = UINT32_MAX;
      continue;
    }
    taken[module.stream] = true;
    streams.push_back(module.stream);
    module.bytesOffset = total;
    module.bytesRead = size;
    total += size;
  }
  if (const HRESULT hr = file.Claim(streams); Failed(hr)) return hr;
  if (!moduleBytes_.Allocate(total)) return E_OUTOFMEMORY;

  // Workers take the next module, read it and walk it; with one thread
  // reading overlaps walking. Each module's functions are kept apart and
  // joined in module order below, so the order never depends on timing.
  std::vector<std::vector<std::uint32_t>> records(modules_.size());
  std::atomic<std::size_t> next{0};
  std::atomic<HRESULT> failure{S_OK};
  auto work = [&] {
    try {
      for (std::size_t m; (m = next.fetch_add(1)) < modules_.size() && failure.load() == S_OK;) {
        const Module& module = modules_[m];
        if (module.bytesRead == 0) continue;
        const HRESULT hr = file.Read(module.stream, 0, module.bytesRead,
                                     moduleBytes_.data() + module.bytesOffset);
        if (Failed(hr)) {
          failure = hr;
          return;
        }
        ScanModule(static_cast<std::uint32_t>(m), &records[m]);
      }
    } catch (const std::bad_alloc&) {
      failure = E_OUTOFMEMORY;
    }
  };
  std::vector<std::thread> helpers;
  threads = static_cast<unsigned>(std::min<std::uint64_t>(
      threads, std::max<std::uint64_t>(1, std::min<std::uint64_t>(modules_.size(),
                                                                   total / std::max<std::uint64_t>(1, bytesPerThread)))));
  for (unsigned t = 1; t < threads; ++t) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer threads do the same work
    } catch (const std::bad_alloc&) {
      break;
    }
  }
  work();
  for (std::thread& helper : helpers) helper.join();
  if (Failed(failure.load())) return failure.load();

  std::size_t count = 0;
  for (const auto& r : records) count += r.size();
  functions_.reserve(count);
  for (std::uint32_t m = 0; m < records.size(); ++m) {
    for (std::uint32_t record : records[m]) functions_.emplace_back(this, m, record);
    std::vector<std::uint32_t>().swap(records[m]);
  }
  return S_OK;
}

void PdbImage::ScanModule(std::uint32_t moduleIndex, std::vector<std::uint32_t>* records) const {
  const Module& module = modules_[moduleIndex];
  const std::uint8_t* const bytes = ModuleSymbols(moduleIndex);
  const std::uint32_t end = std::min(module.symbolBytes, module.bytesRead);

  std::uint32_t offset = sizeof(std::uint32_t);  // after the CodeView signature
  while (end >= 4 && offset <= end - 4) {
    const std::uint16_t length = read16le(bytes + offset);
    const std::uint16_t kind = read16le(bytes + offset + 2);
    if (length < 2 || length > end - offset - 2) break;  // damaged: the rest cannot be framed
    std::uint32_t next = offset + 2 + length;

    const std::uint32_t nameOffset = PdbFunctionSymbol::NameOffset(kind);
    const std::uint32_t bodySize = length - 2u;
    if (nameOffset != 0 && bodySize >= nameOffset) {
      records->push_back(offset);
      // Skip the procedure's own records (locals, blocks, nested procedures,
      // inline sites) by going straight to its end record. A scope end that
      // does not lie ahead is ignored, so the walk always moves forward.
      const std::uint32_t scopeEnd = read32le(bytes + offset + 4 + kProcEndOffset);
      if (scopeEnd >= next && scopeEnd < end) next = scopeEnd;
    }
    offset = next;
  }
}

const FunctionNameIndex& PdbImage::NameIndex() const {
  if (!nameIndexBuilt_) {
    std::vector<std::uint32_t> hashes(functions_.size());
    for (std::size_t i = 0; i < functions_.size(); ++i) {
      hashes[i] = FoldedHashUtf8(functions_[i].name(), functions_[i].nameLength());
    }
    nameIndex_.Build(hashes);
    nameIndexBuilt_ = true;
  }
  return nameIndex_;
}

const FunctionAddressIndex& PdbImage::AddressIndex() const {
  if (!addressIndexBuilt_) {
    std::vector<FunctionAddressIndex::Entry> entries;
    entries.reserve(functions_.size());
    for (std::uint32_t i = 0; i < functions_.size(); ++i) {
      if (std::optional<std::uint32_t> rva = Rva(functions_[i])) {
        entries.push_back({*rva, functions_[i].codeSize(), i});
      }
    }
    addressIndex_.Build(std::move(entries));
    addressIndexBuilt_ = true;
  }
  return addressIndex_;
}

SymbolRef PdbImage::FunctionRef(const std::shared_ptr<PdbImage>& image, std::uint32_t index) {
  return SymbolRef(image, &image->functions_[index]);
}

SymbolRef PdbImage::PublicRef(const std::shared_ptr<PdbImage>& image, std::uint32_t index) {
  return SymbolRef(image, &image->publicSymbols_[index]);
}

std::optional<std::uint32_t> PdbImage::FindPublicAtOrBelow(std::uint64_t va) const {
  if (va < loadAddress_) return std::nullopt;
  const std::uint64_t rva = va - loadAddress_;
  if (rva > UINT32_MAX) return std::nullopt;
  return publics_.FindAtOrBelow(static_cast<std::uint32_t>(rva));
}

SymbolRef PdbImage::GlobalScopeRef(const std::shared_ptr<PdbImage>& image) {
  return SymbolRef(image, &image->globalScope_);
}

std::vector<std::uint32_t> PdbImage::FindByName(const std::wstring& name,
                                                bool caseInsensitive) const {
  std::vector<std::uint32_t> found;
  const std::u32string folded = FoldWide(name);
  NameIndex().ForEachCandidate(FoldedHash(name), [&](std::uint32_t i) {
    const PdbFunctionSymbol& f = functions_[i];
    const bool match = caseInsensitive ? FoldedEqualsUtf8(f.name(), f.nameLength(), folded)
                                       : ExactEqualsUtf8(f.name(), f.nameLength(), name);
    if (match) found.push_back(i);
  });
  return found;
}

std::optional<std::uint32_t> PdbImage::FindByVirtualAddress(std::uint64_t va) const {
  if (va < loadAddress_) return std::nullopt;
  const std::uint64_t rva = va - loadAddress_;
  if (rva > UINT32_MAX) return std::nullopt;
  return AddressIndex().Find(static_cast<std::uint32_t>(rva));
}

HRESULT PdbImage::SetLoadAddress(std::uint64_t loadAddress) {
  try {
    const FunctionAddressIndex& index = AddressIndex();
    if (index.size() > 0 && index.maxStart() > UINT64_MAX - loadAddress) return E_INVALIDARG;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (publics_.size() > 0 && publics_.maxRva() > UINT64_MAX - loadAddress) return E_INVALIDARG;
  loadAddress_ = loadAddress;
  return S_OK;
}

std::optional<std::uint32_t> PdbImage::Rva(const PdbFunctionSymbol& f) const {
  // Segment 0, or a segment that names no section, is code the linker
  // discarded: such a function has no address.
  const std::uint16_t segment = f.segment();
  if (segment == 0 || segment > sectionAddresses_.size()) return std::nullopt;
  const std::uint64_t rva = static_cast<std::uint64_t>(sectionAddresses_[segment - 1]) + f.codeOffset();
  if (rva > UINT32_MAX) return std::nullopt;
  return static_cast<std::uint32_t>(rva);
}

const std::string* PdbImage::ObjectFile(const PdbFunctionSymbol& f) const {
  const Module& module = modules_[f.module()];
  if (module.isLinker) return nullptr;
  return &module.name;
}

const std::wstring* PdbImage::SourceFile(const PdbFunctionSymbol& f) {
  const ModuleLineTable* lines = LinesFor(f.module());
  if (!lines) return nullptr;
  // Functions folded to one address pair with the subsections that start
  // there in order; the ordinal is only worth counting when there are
  // several.
  std::size_t ordinal = 0;
  if (lines->SubsectionsAt(f.segment(), f.codeOffset()) > 1) ordinal = SameStartOrdinal(functions_, f);
  return lines->FunctionFile(f.segment(), f.codeOffset(), ordinal);
}

std::uint32_t PdbImage::SourceFileIndex(std::uint32_t function) {
  if (moduleFunctions_.empty()) {
    // Functions are stored module by module: where each module's run starts.
    moduleFunctions_.assign(modules_.size() + 1, 0);
    for (const PdbFunctionSymbol& f : functions_) ++moduleFunctions_[f.module() + 1];
    for (std::size_t m = 1; m < moduleFunctions_.size(); ++m) moduleFunctions_[m] += moduleFunctions_[m - 1];
    functionFiles_.resize(modules_.size());
  }
  const std::uint32_t module = functions_[function].module();
  const std::uint32_t first = moduleFunctions_[module];
  std::vector<std::uint32_t>& files = functionFiles_[module];
  if (files.empty()) {
    const std::uint32_t last = moduleFunctions_[module + 1];
    const ModuleLineTable& lines = *LinesFor(module);
    // SourceFile's rule for every function of the module in one pass: the
    // same-start ordinal is counted as the functions go by, in stream order.
    std::unordered_map<std::uint64_t, std::size_t> sameStart;
    files.reserve(last - first);
    for (std::uint32_t i = first; i < last; ++i) {
      const std::uint16_t segment = functions_[i].segment();
      const std::uint32_t offset = functions_[i].codeOffset();
      std::size_t ordinal = 0;
      if (lines.SubsectionsAt(segment, offset) > 1) {
        ordinal = sameStart[static_cast<std::uint64_t>(segment) << 32 | offset]++;
      }
      files.push_back(lines.FunctionFileIndex(segment, offset, ordinal));
    }
  }
  return files[function - first];
}

const ModuleLineTable* PdbImage::LinesFor(std::uint32_t moduleIndex) {
  std::unique_ptr<ModuleLineTable>& table = lineTables_[moduleIndex];
  if (table) return table.get();

  const Module& module = modules_[moduleIndex];
  std::vector<std::uint8_t> c13;
  const std::uint64_t start = static_cast<std::uint64_t>(module.symbolBytes) + module.c11Bytes;
  if (module.c13Bytes > 0 && start + module.c13Bytes <= module.bytesRead) {
    const std::uint8_t* p = ModuleSymbols(moduleIndex) + start;
    c13.assign(p, p + module.c13Bytes);
  }
  table = std::make_unique<ModuleLineTable>(c13.empty() ? ModuleLineTable()
                                                        : ModuleLineTable::Build(c13, Strings()));
  return table.get();
}

const pdb::PDBStringTable* PdbImage::Strings() {
  if (stringsLoaded_) return strings_.get();
  stringsLoaded_ = true;

  if (namesBytes_.empty()) return nullptr;
  namesStream_ = std::make_unique<llvm::BinaryByteStream>(
      llvm::ArrayRef<std::uint8_t>(namesBytes_.data(), namesBytes_.size()), llvm::support::little);
  auto strings = std::make_unique<pdb::PDBStringTable>();
  llvm::BinaryStreamReader reader(*namesStream_);
  if (llvm::Error error = strings->reload(reader)) {
    llvm::consumeError(std::move(error));
    return nullptr;
  }
  strings_ = std::move(strings);
  return strings_.get();
}

// The index of the "/names" stream, from the named-stream map of the info
// stream. Parsed here with every offset checked, rather than by LLVM's
// reader, which trusts the map's string offsets and capacity.
std::optional<std::uint32_t> PdbImage::FindNamesStream(std::uint32_t streamCount) const {
  const std::uint8_t* const info = infoBytes_.data();
  const std::uint64_t length = infoBytes_.size();

  std::uint64_t at = 28;  // version, signature, age, GUID
  auto readU32 = [&](std::uint32_t* value) {
    if (at + 4 > length) return false;
    *value = read32le(info + at);
    at += 4;
    return true;
  };
  std::uint32_t stringBytes = 0;
  if (!readU32(&stringBytes) || stringBytes > length - at) return std::nullopt;
  const char* strings = reinterpret_cast<const char*>(info + at);
  at += stringBytes;

  std::uint32_t entries = 0;
  std::uint32_t capacity = 0;
  std::uint32_t presentWords = 0;
  if (!readU32(&entries) || !readU32(&capacity) || !readU32(&presentWords)) return std::nullopt;
  if (presentWords > (length - at) / 4) return std::nullopt;
  const std::uint8_t* present = info + at;
  at += static_cast<std::uint64_t>(presentWords) * 4;
  std::uint32_t deletedWords = 0;
  if (!readU32(&deletedWords) || deletedWords > (length - at) / 4) return std::nullopt;
  at += static_cast<std::uint64_t>(deletedWords) * 4;

  static constexpr char kNames[] = "/names";
  // Each set bit of the present-bit vector owns one (key, value) pair, in
  // bit order. Empty words are skipped whole so a long, mostly empty vector
  // costs little.
  for (std::uint32_t word = 0; word < presentWords; ++word) {
   std::uint32_t bits = read32le(present + static_cast<std::uint64_t>(word) * 4);
   for (; bits != 0; bits &= bits - 1) {
    std::uint32_t key = 0;
    std::uint32_t value = 0;
    if (!readU32(&key) || !readU32(&value)) return std::nullopt;
    if (key >= stringBytes) continue;
    const std::size_t available = stringBytes - key;
    const std::size_t nameLength = strnlen(strings + key, available);
    if (nameLength == available) continue;  // not terminated inside the buffer
    if (nameLength == sizeof(kNames) - 1 && std::memcmp(strings + key, kNames, nameLength) == 0) {
      if (value >= streamCount) return std::nullopt;
      return value;
    }
   }
  }
  return std::nullopt;
}

std::size_t PdbImage::IndexMemoryBytes() const {
  return functions_.capacity() * sizeof(PdbFunctionSymbol) + nameIndex_.MemoryBytes() +
         addressIndex_.MemoryBytes();
}

std::size_t PdbImage::StreamMemoryBytes() const {
  return infoBytes_.capacity() + dbiBytes_.capacity() + sectionHeaderBytes_.capacity() +
         namesBytes_.capacity() + moduleBytes_.size();
}

}  // namespace sorvanta
