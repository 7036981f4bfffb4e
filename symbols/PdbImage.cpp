#include "PdbImage.h"

#include <array>
#include <atomic>
#include <mutex>
#include <new>
#include <utility>

#include "MsfFile.h"

namespace sorvanta {

namespace {

constexpr std::uint32_t kInfoStream = 1;
constexpr std::uint32_t kTypeStream = 2;
constexpr std::uint32_t kDbiStream = 3;
constexpr std::uint32_t kIdStream = 4;

// Live images by handle. A record names its image in 15 bits instead of a
// pointer's 64; a handle is read only while a reference keeps its image
// alive, and given out again only after that image is gone.
constexpr std::size_t kHandles = std::size_t{1} << 15;
std::array<std::atomic<PdbImage*>, kHandles> handles{};
std::mutex handlesMutex;
std::size_t nextHandle = 0;

std::optional<std::uint16_t> AcquireHandle(PdbImage* image) {
  const std::lock_guard<std::mutex> lock(handlesMutex);
  for (std::size_t tried = 0; tried < kHandles; ++tried) {
    const std::size_t h = (nextHandle + tried) % kHandles;
    if (handles[h].load(std::memory_order_relaxed) == nullptr) {
      handles[h].store(image, std::memory_order_release);
      nextHandle = h + 1;
      return static_cast<std::uint16_t>(h);
    }
  }
  return std::nullopt;
}

void ReleaseHandle(std::uint16_t handle) {
  const std::lock_guard<std::mutex> lock(handlesMutex);
  handles[handle].store(nullptr, std::memory_order_release);
}

std::string FileStem(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

// Reads one whole stream into *bytes, once: a stream that was already
// read, or does not exist, gives S_FALSE and no bytes. A stream is claimed
// once, so the bytes kept never exceed the file's size.
HRESULT ReadWholeStream(MsfFile& file, std::uint32_t stream, std::vector<std::uint8_t>* bytes) {
  bytes->clear();
  if (stream >= file.streamCount() || file.claimed(stream)) return S_FALSE;
  if (const HRESULT hr = file.Claim({stream}); Failed(hr)) return hr;
  bytes->resize(file.StreamSize(stream));
  return file.Read(stream, 0, bytes->size(), bytes->data());
}

}  // namespace

PdbImage::PdbImage(Token) : globalScope_(this) {}

PdbImage::~PdbImage() {
  if (hasHandle_) ReleaseHandle(handle_);
}

PdbImage& PdbImage::FromHandle(std::uint16_t handle) {
  return *handles[handle].load(std::memory_order_acquire);
}

LoadOptions& PdbImage::DefaultLoadOptions() {
  static LoadOptions options;
  return options;
}

HRESULT PdbImage::Load(const std::string& path, std::shared_ptr<PdbImage>* image) {
  return Load(path, DefaultLoadOptions(), image);
}

HRESULT PdbImage::Load(const std::string& path, const LoadOptions& options,
                       std::shared_ptr<PdbImage>* image) {
  image->reset();
  try {
    // The file stays open only while it is read.
    MsfFile file;
    if (const HRESULT opened = file.Open(path); Failed(opened)) return opened;
    auto loaded = std::make_shared<PdbImage>(Token{});
    const std::optional<std::uint16_t> handle = AcquireHandle(loaded.get());
    if (!handle) return E_OUTOFMEMORY;
    loaded->handle_ = *handle;
    loaded->hasHandle_ = true;
    loaded->fileStem_ = FileStem(path);
    if (const HRESULT read = loaded->Read(file, options); Failed(read)) return read;
    *image = std::move(loaded);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT PdbImage::ReadInfo(const std::string& path, InfoStream* info) {
  try {
    MsfFile file;
    if (const HRESULT opened = file.Open(path); Failed(opened)) return opened;
    std::vector<std::uint8_t> bytes;
    if (file.StreamSize(kInfoStream) == 0) return E_PDB_CORRUPT;
    if (const HRESULT hr = ReadWholeStream(file, kInfoStream, &bytes); Failed(hr)) return hr;
    return InfoStream::Parse(std::move(bytes), info);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT PdbImage::Read(MsfFile& file, const LoadOptions& options) {
  // A PDB always has its info stream; an MSF file without a known one is
  // some other kind of file.
  std::vector<std::uint8_t> bytes;
  if (file.StreamSize(kInfoStream) == 0) return E_PDB_CORRUPT;
  if (const HRESULT hr = ReadWholeStream(file, kInfoStream, &bytes); Failed(hr)) return hr;
  streamBytes_ += bytes.size();
  if (const HRESULT hr = InfoStream::Parse(std::move(bytes), &info_); Failed(hr)) return hr;

  // A PDB without module information (a compiler's type-only PDB) is valid
  // and simply holds no functions.
  if (file.StreamSize(kDbiStream) == 0) return S_OK;
  if (const HRESULT hr = ReadWholeStream(file, kDbiStream, &bytes); Failed(hr)) return hr;
  streamBytes_ += bytes.size();
  if (const HRESULT hr = DbiStream::Parse(std::move(bytes), &dbi_); Failed(hr)) return hr;

  if (const std::optional<std::uint32_t> stream = dbi_.sectionHeaderStream()) {
    if (*stream >= file.streamCount()) return E_PDB_CORRUPT;
    if (const HRESULT hr = ReadWholeStream(file, *stream, &bytes); Failed(hr)) return hr;
    streamBytes_ += bytes.size();
    if (const HRESULT hr = SectionTable::Parse(bytes, &sections_); Failed(hr)) return hr;
  }

  // The string table names the source files of the line information.
  if (const std::optional<std::uint32_t> names = info_.NamedStream("/names")) {
    if (const HRESULT hr = ReadWholeStream(file, *names, &bytes); Failed(hr)) return hr;
    streamBytes_ += bytes.size();
    strings_ = StringTable(std::move(bytes));
  }

  if (const HRESULT hr = LoadModules(file, dbi_, sections_, strings_, options, handle_, &loaded_);
      Failed(hr)) {
    return hr;
  }
  streamBytes_ += loaded_.bytesKept;
  if (options.lines) {
    // Inlined functions are named by the id stream, their classes by the
    // type stream.
    for (const auto& [stream, types] : {std::pair{kTypeStream, &types_}, std::pair{kIdStream, &ids_}}) {
      if (const HRESULT hr = ReadWholeStream(file, stream, &bytes); Failed(hr)) return hr;
      streamBytes_ += bytes.size();
      if (const HRESULT hr = TypeStream::Parse(std::move(bytes), types); Failed(hr)) return hr;
    }
  }
  if (options.publics) publicsStatus_ = ReadPublics(file, options.publicNames, options.dataPublics);
  return S_OK;
}

// The publics stream and the symbol-record stream, as the DBI stream names
// them. A file without a publics stream has no publics; one whose streams
// are damaged, shared with another, or unreadable gives its reason.
HRESULT PdbImage::ReadPublics(MsfFile& file, DemangleStyle style, bool withData) {
  const std::optional<std::uint32_t> publicsStream = dbi_.publicsStream();
  if (!publicsStream) return S_OK;
  const std::optional<std::uint32_t> recordStream = dbi_.symbolRecordStream();
  if (!recordStream || *publicsStream >= file.streamCount() || *recordStream >= file.streamCount() ||
      file.claimed(*publicsStream) || file.claimed(*recordStream) || *publicsStream == *recordStream) {
    return E_PDB_CORRUPT;
  }
  try {
    std::vector<std::uint8_t> publicsBytes;
    std::vector<std::uint8_t> recordBytes;
    if (const HRESULT hr = ReadWholeStream(file, *publicsStream, &publicsBytes); Failed(hr)) return hr;
    if (const HRESULT hr = ReadWholeStream(file, *recordStream, &recordBytes); Failed(hr)) return hr;
    const std::size_t read = publicsBytes.size() + recordBytes.size();
    const HRESULT built = publics_.Build(publicsBytes, std::move(recordBytes), sections_, handle_, style, withData);
    if (Succeeded(built)) streamBytes_ += read;
    return built;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

ByteView PdbImage::ModuleSymbols(std::uint32_t module) const {
  const LoadedModule& m = loaded_.modules[module];
  if (loaded_.bytes.size() == 0) return {};
  return {loaded_.bytes.data() + m.bytesAt, m.symbolBytes};
}

ByteView PdbImage::ModuleC13(std::uint32_t module) const {
  const LoadedModule& m = loaded_.modules[module];
  if (loaded_.bytes.size() == 0) return {};
  return {loaded_.bytes.data() + m.bytesAt + m.symbolBytes, m.c13Bytes};
}

std::string_view PdbImage::FunctionName(std::uint32_t i) const {
  const PdbFunctionSymbol& f = Function(i);
  return std::string_view(loaded_.modules[f.module()].names + f.nameOffset(), f.nameLength());
}

std::optional<std::uint64_t> PdbImage::FunctionAddress(std::uint32_t i) const {
  const std::optional<std::uint32_t> rva = Function(i).rva();
  if (!rva) return std::nullopt;
  return loadAddress_ + *rva;
}

std::string_view PdbImage::ObjectFile(std::uint32_t i) const {
  const LoadedModule& module = loaded_.modules[Function(i).module()];
  return module.isLinker ? std::string_view() : module.name;
}

std::string_view PdbImage::SourceFile(std::uint32_t i) const {
  const PdbFunctionSymbol& f = Function(i);
  if (f.file() == PdbFunctionSymbol::kNoFile) return {};
  const ModuleFileTable::Name& name = loaded_.modules[f.module()].files.name(f.file());
  return strings_.Known(name.offset, name.length);
}

std::vector<std::uint32_t> PdbImage::FindFunctions(std::string_view name, bool caseInsensitive) const {
  auto nameOf = [this](std::uint32_t i) { return FunctionName(i); };
  if (!nameIndex_) nameIndex_ = FunctionNameIndex::Over(static_cast<std::uint32_t>(functionCount()), nameOf);
  return nameIndex_->Find(name, caseInsensitive, nameOf);
}

std::optional<std::uint32_t> PdbImage::FindFunction(std::uint64_t va) const {
  if (va < loadAddress_ || va - loadAddress_ > UINT32_MAX) return std::nullopt;
  return AddressIndex().Find(static_cast<std::uint32_t>(va - loadAddress_));
}

void PdbImage::PrepareConcurrentLookups() const {
  AddressIndex();
  types_.IndexRecords();
  ids_.IndexRecords();
}

const FunctionAddressIndex& PdbImage::AddressIndex() const {
  if (!addressIndex_) {
    std::vector<FunctionAddressIndex::Entry> entries;
    entries.reserve(functionCount());
    for (std::uint32_t i = 0; i < functionCount(); ++i) {
      if (const std::optional<std::uint32_t> rva = Function(i).rva()) {
        entries.push_back({*rva, Function(i).length(), i});
      }
    }
    FunctionAddressIndex index;
    index.Build(std::move(entries));
    addressIndex_ = std::move(index);
  }
  return *addressIndex_;
}

std::optional<std::uint64_t> PdbImage::PublicAddress(std::uint32_t i) const {
  const std::optional<std::uint32_t> rva = publics_.record(i).rva();
  if (!rva) return std::nullopt;
  return loadAddress_ + *rva;
}

std::uint64_t PdbImage::FoundPublicAddress(std::uint32_t i) const { return loadAddress_ + publics_.rva(i); }

std::optional<std::uint32_t> PdbImage::FindPublicAtOrBelow(std::uint64_t va) const {
  if (va < loadAddress_ || va - loadAddress_ > UINT32_MAX) return std::nullopt;
  return publics_.FindAtOrBelow(static_cast<std::uint32_t>(va - loadAddress_));
}

HRESULT PdbImage::SetLoadAddress(std::uint64_t loadAddress) {
  const std::uint32_t maxRva = std::max(loaded_.maxRva, publics_.maxRva());
  if (maxRva > UINT64_MAX - loadAddress) return E_INVALIDARG;
  loadAddress_ = loadAddress;
  return S_OK;
}

SymbolRef PdbImage::FunctionRef(const std::shared_ptr<PdbImage>& image, std::uint32_t index) {
  return SymbolRef(image, image->loaded_.functions.at(index));
}

SymbolRef PdbImage::PublicRef(const std::shared_ptr<PdbImage>& image, std::uint32_t index) {
  return SymbolRef(image, image->publics_.slot(index));
}

SymbolRef PdbImage::GlobalScopeRef(const std::shared_ptr<PdbImage>& image) {
  return SymbolRef(image, &image->globalScope_);
}

std::size_t PdbImage::StreamMemoryBytes() const { return streamBytes_; }

}  // namespace sorvanta
