#include "PdbImage.h"

#include <algorithm>
#include <cstring>

#include "FileBytes.h"
#include "MsfCheck.h"
#include "MsfStream.h"
#include "Utf8.h"
#include "llvm/DebugInfo/CodeView/CodeView.h"
#include "llvm/DebugInfo/PDB/Native/DbiModuleDescriptor.h"
#include "llvm/DebugInfo/PDB/Native/DbiStream.h"
#include "llvm/DebugInfo/PDB/Native/PDBFile.h"
#include "llvm/DebugInfo/PDB/Native/PDBStringTable.h"
#include "llvm/DebugInfo/PDB/Native/RawConstants.h"
#include "llvm/Object/COFF.h"
#include "llvm/Support/Allocator.h"
#include "llvm/Support/BinaryByteStream.h"
#include "llvm/Support/BinaryStreamArray.h"
#include "llvm/Support/BinaryStreamReader.h"
#include "llvm/Support/MemoryBuffer.h"

namespace sorvanta {

namespace cv = llvm::codeview;
namespace pdb = llvm::pdb;
using llvm::support::endian::read16le;
using llvm::support::endian::read32le;

namespace {

constexpr std::uint32_t kInfoStream = 1;
constexpr std::uint32_t kDbiStream = 3;
constexpr std::uint32_t kDeletedStreamSize = UINT32_MAX;

// Offsets inside a procedure record, counted from the first byte after the
// record's length and kind.
constexpr std::uint32_t kProcEndOffset = 4;
constexpr std::uint32_t kProcCodeSizeOffset = 12;
constexpr std::uint32_t kProcCodeOffsetOffset = 28;
constexpr std::uint32_t kProcSegmentOffset = 32;
constexpr std::uint32_t kProcNameOffset = 35;         // after the flags byte
constexpr std::uint32_t kManagedProcNameOffset = 37;  // a return register comes first

// Which records are functions, and where their name starts.
std::uint32_t ProcNameOffset(std::uint16_t kind) {
  switch (kind) {
    case cv::S_GPROC32:
    case cv::S_LPROC32:
    case cv::S_GPROC32_ID:
    case cv::S_LPROC32_ID:
    case cv::S_LPROC32_DPC:
    case cv::S_LPROC32_DPC_ID:
      return kProcNameOffset;
    case cv::S_GMANPROC:
    case cv::S_LMANPROC:
      return kManagedProcNameOffset;
    default:
      return 0;
  }
}

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

HRESULT FormatError(llvm::Error error) {
  llvm::consumeError(std::move(error));
  return E_PDB_FORMAT;
}

}  // namespace

PdbImage::PdbImage(Token)
    : allocator_(std::make_unique<llvm::BumpPtrAllocator>()), globalScope_(this) {}

PdbImage::~PdbImage() = default;

HRESULT PdbImage::Load(const std::wstring& path, std::shared_ptr<PdbImage>* image,
                       LoadOptions options) {
  image->reset();
  try {
    std::unique_ptr<llvm::MemoryBuffer> bytes;
    const HRESULT read = ReadFileBytes(WideToUtf8(path), &bytes);
    if (Failed(read)) return read;

    auto loaded = std::make_shared<PdbImage>(Token{});
    loaded->fileStem_ = FileStem(path);
    const HRESULT parsed = loaded->Parse(std::move(bytes), options);
    if (Failed(parsed)) return parsed;
    *image = std::move(loaded);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT PdbImage::Parse(std::unique_ptr<llvm::MemoryBuffer> bytes, LoadOptions options) {
  bytes_ = reinterpret_cast<const std::uint8_t*>(bytes->getBufferStart());
  size_ = bytes->getBufferSize();
  if (!CheckMsfLayout(bytes_, size_)) return E_PDB_FORMAT;

  const std::string name = bytes->getBufferIdentifier().str();
  auto stream = std::make_unique<llvm::MemoryBufferByteStream>(std::move(bytes), llvm::support::little);
  file_ = std::make_unique<pdb::PDBFile>(name, std::move(stream), *allocator_);
  if (llvm::Error error = file_->parseFileHeaders()) return FormatError(std::move(error));
  if (llvm::Error error = file_->parseStreamData()) return FormatError(std::move(error));
  blockSize_ = file_->getBlockSize();

  // A PDB always has its info stream; an MSF file without a known one is
  // some other kind of file.
  if (file_->getNumStreams() <= kInfoStream) return E_PDB_FORMAT;
  const std::uint32_t infoSize = file_->getStreamByteSize(kInfoStream);
  if (infoSize == kDeletedStreamSize || infoSize < 28) return E_PDB_FORMAT;
  MsfStream info(bytes_, blockSize_, file_->getStreamBlockList(kInfoStream), infoSize);
  std::uint32_t version = 0;
  if (!info.ReadU32(0, &version) || !IsKnownInfoVersion(version)) return E_PDB_FORMAT;

  const HRESULT layout = ReadModulesAndSections();
  if (Failed(layout)) return layout;

  std::vector<std::uint32_t> hashes;
  for (std::uint32_t m = 0; m < modules_.size(); ++m) ScanModule(m, &hashes);
  BuildIndexes(hashes);
  lineTables_.resize(modules_.size());
  if (options.publics) ReadPublics();
  return S_OK;
}

// The publics stream and the symbol-record stream, as the DBI stream names
// them. Publics that cannot be read are left out; they never fail a load.
void PdbImage::ReadPublics() {
  if (file_->getNumStreams() <= kDbiStream) return;
  const std::uint32_t dbiSize = file_->getStreamByteSize(kDbiStream);
  if (dbiSize == 0 || dbiSize == kDeletedStreamSize) return;
  llvm::Expected<pdb::DbiStream&> dbi = file_->getPDBDbiStream();
  if (!dbi) {
    llvm::consumeError(dbi.takeError());
    return;
  }
  auto streamBytes = [this](std::uint32_t index, std::vector<std::uint8_t>* out) {
    if (index >= file_->getNumStreams()) return;
    const std::uint32_t size = file_->getStreamByteSize(index);
    if (size == kDeletedStreamSize || size == 0) return;
    const MsfStream stream(bytes_, blockSize_, file_->getStreamBlockList(index), size);
    std::vector<std::uint8_t> scratch;
    if (const std::uint8_t* p = stream.View(0, stream.length(), &scratch)) out->assign(p, p + size);
  };
  std::vector<std::uint8_t> publicsBytes;
  std::vector<std::uint8_t> recordBytes;
  streamBytes(dbi->getPublicSymbolStreamIndex(), &publicsBytes);
  streamBytes(dbi->getSymRecordStreamIndex(), &recordBytes);
  std::vector<PublicSymbolTable::Section> sections;
  for (const llvm::object::coff_section& section : dbi->getSectionHeaders()) {
    sections.push_back({section.VirtualAddress, section.VirtualSize});
  }
  publics_.Build(publicsBytes.data(), publicsBytes.size(), recordBytes.data(), recordBytes.size(),
                 std::move(sections));
  publicSymbols_.reserve(publics_.size());
  for (std::uint32_t i = 0; i < publics_.size(); ++i) publicSymbols_.emplace_back(this, i);
}

HRESULT PdbImage::ReadModulesAndSections() {
  // A PDB without module information (a compiler's type-only PDB) is valid
  // and simply holds no functions.
  if (file_->getNumStreams() <= kDbiStream) return S_OK;
  const std::uint32_t dbiSize = file_->getStreamByteSize(kDbiStream);
  if (dbiSize == 0 || dbiSize == kDeletedStreamSize) return S_OK;

  llvm::Expected<pdb::DbiStream&> dbi = file_->getPDBDbiStream();
  if (!dbi) return FormatError(dbi.takeError());

  for (const llvm::object::coff_section& section : dbi->getSectionHeaders()) {
    sectionAddresses_.push_back(section.VirtualAddress);
  }

  // The module descriptors, read straight from their substream: the module
  // count in the file-info substream is not to be trusted.
  llvm::BinaryStreamReader reader(dbi->getModiSubstreamData().StreamData);
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
    if (stream != pdb::kInvalidStreamIndex && stream < file_->getNumStreams()) {
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

void PdbImage::ScanModule(std::uint32_t moduleIndex, std::vector<std::uint32_t>* hashes) {
  const Module& module = modules_[moduleIndex];
  if (module.stream == UINT32_MAX) return;
  std::uint32_t streamSize = file_->getStreamByteSize(module.stream);
  if (streamSize == kDeletedStreamSize) streamSize = 0;
  const MsfStream stream(bytes_, blockSize_, file_->getStreamBlockList(module.stream), streamSize);
  const std::uint32_t end = std::min(module.symbolBytes, stream.length());
  const std::uint8_t* const fileEnd = bytes_ + size_;

  std::vector<std::uint8_t> scratch;
  std::uint32_t offset = sizeof(std::uint32_t);  // after the CodeView signature
  while (end >= 4 && offset <= end - 4) {
    const std::uint8_t* header = stream.View(offset, 4, &scratch);
    const std::uint16_t length = read16le(header);
    const std::uint16_t kind = read16le(header + 2);
    if (length < 2 || length > end - offset - 2) break;  // damaged: the rest cannot be framed
    std::uint32_t next = offset + 2 + length;

    const std::uint32_t nameOffset = ProcNameOffset(kind);
    const std::uint32_t bodySize = length - 2u;
    if (nameOffset != 0 && bodySize >= nameOffset) {
      const std::uint8_t* body = stream.View(offset + 4, bodySize, &scratch);
      const char* name = reinterpret_cast<const char*>(body + nameOffset);
      const std::size_t maxName = bodySize - nameOffset;
      const auto nameLength = static_cast<std::uint16_t>(strnlen(name, maxName));
      // Names inside the file's bytes are used in place; a record that was
      // pieced together from two blocks has its name copied to the arena.
      if (body < bytes_ || body >= fileEnd) {
        char* copy = allocator_->Allocate<char>(nameLength ? nameLength : 1);
        std::memcpy(copy, name, nameLength);
        name = copy;
      }
      functions_.emplace_back(this, name, nameLength, read16le(body + kProcSegmentOffset),
                              read32le(body + kProcCodeOffsetOffset),
                              read32le(body + kProcCodeSizeOffset), moduleIndex);
      hashes->push_back(FoldedHashUtf8(name, nameLength));

      // Skip the procedure's own records (locals, blocks, nested procedures,
      // inline sites) by going straight to its end record. A scope end that
      // does not lie ahead is ignored, so the walk always moves forward.
      const std::uint32_t scopeEnd = read32le(body + kProcEndOffset);
      if (scopeEnd >= next && scopeEnd < end) next = scopeEnd;
    }
    offset = next;
  }
}

void PdbImage::BuildIndexes(const std::vector<std::uint32_t>& hashes) {
  nameIndex_.Build(hashes);
  std::vector<FunctionAddressIndex::Entry> entries;
  entries.reserve(functions_.size());
  for (std::uint32_t i = 0; i < functions_.size(); ++i) {
    if (std::optional<std::uint32_t> rva = Rva(functions_[i])) entries.push_back({*rva, i});
  }
  addressIndex_.Build(std::move(entries));
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
  nameIndex_.ForEachCandidate(FoldedHash(name), [&](std::uint32_t i) {
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
  return addressIndex_.Find(static_cast<std::uint32_t>(rva),
                            [this](std::uint32_t i) { return functions_[i].codeSize(); });
}

HRESULT PdbImage::SetLoadAddress(std::uint64_t loadAddress) {
  if (addressIndex_.size() > 0 && addressIndex_.maxStart() > UINT64_MAX - loadAddress) {
    return E_INVALIDARG;
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
  return lines ? lines->FileAt(f.segment(), f.codeOffset()) : nullptr;
}

const ModuleLineTable* PdbImage::LinesFor(std::uint32_t moduleIndex) {
  std::unique_ptr<ModuleLineTable>& table = lineTables_[moduleIndex];
  if (table) return table.get();

  const Module& module = modules_[moduleIndex];
  std::vector<std::uint8_t> c13;
  if (module.stream != UINT32_MAX && module.c13Bytes > 0) {
    std::uint32_t streamSize = file_->getStreamByteSize(module.stream);
    if (streamSize == kDeletedStreamSize) streamSize = 0;
    const MsfStream stream(bytes_, blockSize_, file_->getStreamBlockList(module.stream), streamSize);
    const std::uint64_t start = static_cast<std::uint64_t>(module.symbolBytes) + module.c11Bytes;
    if (start <= UINT32_MAX) {
      std::vector<std::uint8_t> scratch;
      if (const std::uint8_t* p = stream.View(static_cast<std::uint32_t>(start), module.c13Bytes, &scratch)) {
        c13.assign(p, p + module.c13Bytes);
      }
    }
  }
  table = std::make_unique<ModuleLineTable>(c13.empty() ? ModuleLineTable()
                                                        : ModuleLineTable::Build(c13, Strings()));
  return table.get();
}

const pdb::PDBStringTable* PdbImage::Strings() {
  if (stringsLoaded_) return strings_.get();
  stringsLoaded_ = true;

  const std::optional<std::uint32_t> index = FindNamesStream();
  if (!index) return nullptr;
  const std::uint32_t size = file_->getStreamByteSize(*index);
  if (size == kDeletedStreamSize) return nullptr;
  const MsfStream stream(bytes_, blockSize_, file_->getStreamBlockList(*index), size);
  std::vector<std::uint8_t> scratch;
  const std::uint8_t* p = stream.View(0, stream.length(), &scratch);
  if (!p) return nullptr;
  namesBytes_.assign(p, p + stream.length());
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
std::optional<std::uint32_t> PdbImage::FindNamesStream() const {
  const std::uint32_t size = file_->getStreamByteSize(kInfoStream);
  const MsfStream stream(bytes_, blockSize_, file_->getStreamBlockList(kInfoStream), size);
  std::vector<std::uint8_t> scratch;
  const std::uint8_t* info = stream.View(0, stream.length(), &scratch);
  if (!info) return std::nullopt;
  const std::uint64_t length = stream.length();

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
      if (value >= file_->getNumStreams()) return std::nullopt;
      return value;
    }
   }
  }
  return std::nullopt;
}

std::size_t PdbImage::IndexMemoryBytes() const {
  return functions_.size() * sizeof(PdbFunctionSymbol) + nameIndex_.MemoryBytes() +
         addressIndex_.MemoryBytes();
}

}  // namespace sorvanta
