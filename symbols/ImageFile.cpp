#include "ImageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "Bytes.h"
#include "llvm/Object/COFF.h"
#include "llvm/Object/CVDebugRecord.h"

namespace sorvanta {

namespace {

constexpr char kMsfMagic[] = "Microsoft C/C++ MSF 7.00\r\n\x1a" "DS";
constexpr char kMetadataMagic[] = "BSJB";  // ECMA-335 metadata, which a portable PDB is

// Reads the first `limit` bytes of the file (all of it when it is
// shorter) with plain reads: a mapping would turn a later truncation into
// SIGBUS.
HRESULT ReadFileStart(const std::string& path, std::uint64_t limit, std::vector<std::uint8_t>* bytes) {
  if (path.empty() || path.find('\0') != std::string::npos) return E_PDB_NOT_FOUND;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    const int error = errno;
    return (error == ENOENT || error == ENOTDIR || error == ENAMETOOLONG) ? E_PDB_NOT_FOUND
                                                                         : HResultFromErrno(error);
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) return HResultFromErrno(errno);
  if (!S_ISREG(info.st_mode)) return E_INVALIDARG;
  try {
    bytes->resize(static_cast<std::size_t>(std::min<std::uint64_t>(std::max<off_t>(info.st_size, 0), limit)));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  std::size_t done = 0;
  while (done < bytes->size()) {
    const ssize_t n = ::pread(fd, bytes->data() + done, bytes->size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return HResultFromErrno(errno);
    if (n == 0) break;  // the file shrank since fstat: what was read is the file
    done += static_cast<std::size_t>(n);
  }
  bytes->resize(done);
  return S_OK;
}

bool StartsWith(const std::vector<std::uint8_t>& bytes, const char* magic, std::size_t size) {
  return bytes.size() >= size && std::memcmp(bytes.data(), magic, size) == 0;
}

}  // namespace

HRESULT IdentifyFile(const std::string& path, FileKind* kind, ImageIdentity* identity) {
  // The first bytes tell what the file is; only an image is read whole,
  // since its debug directory may lie anywhere in it.
  std::vector<std::uint8_t> bytes;
  if (const HRESULT hr = ReadFileStart(path, sizeof(kMsfMagic), &bytes); Failed(hr)) return hr;
  *kind = FileKind::kOther;
  if (StartsWith(bytes, kMsfMagic, sizeof(kMsfMagic) - 1)) {
    *kind = FileKind::kPdb;
    return S_OK;
  }
  if (StartsWith(bytes, kMetadataMagic, sizeof(kMetadataMagic) - 1)) {
    *kind = FileKind::kPortablePdb;
    return S_OK;
  }
  if (!StartsWith(bytes, "MZ", 2)) return S_OK;
  if (const HRESULT hr = ReadFileStart(path, UINT64_MAX, &bytes); Failed(hr)) return hr;

  const llvm::MemoryBufferRef buffer(
      llvm::StringRef(reinterpret_cast<const char*>(bytes.data()), bytes.size()), path);
  llvm::Expected<std::unique_ptr<llvm::object::COFFObjectFile>> coff =
      llvm::object::COFFObjectFile::create(buffer);
  if (!coff) {
    llvm::consumeError(coff.takeError());
    return S_OK;
  }
  const llvm::codeview::DebugInfo* info = nullptr;
  llvm::StringRef pdbName;
  if (llvm::Error error = (*coff)->getDebugPDBInfo(info, pdbName)) {
    llvm::consumeError(std::move(error));
    return S_OK;
  }
  if (!(*coff)->getPE32Header() && !(*coff)->getPE32PlusHeader()) return S_OK;
  identity->imageBase = (*coff)->getImageBase();
  identity->machine = (*coff)->getMachine();
  if (!info || info->Signature.CVSignature != llvm::OMF::Signature::PDB70) {
    *kind = FileKind::kImageWithoutPdb;
    return S_OK;
  }
  std::memcpy(identity->guid.data(), info->PDB70.Signature, identity->guid.size());
  identity->age = info->PDB70.Age;
  identity->pdbPath = pdbName.str();
  *kind = FileKind::kImage;
  return S_OK;
}

std::string SymbolStoreKey(const std::array<std::uint8_t, 16>& guid, std::uint32_t age) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string key;
  auto hex = [&](std::uint64_t value, int digits) {
    for (int d = digits - 1; d >= 0; --d) key.push_back(kHex[(value >> (4 * d)) & 0xF]);
  };
  hex(Read32(guid.data()), 8);
  hex(Read16(guid.data() + 4), 4);
  hex(Read16(guid.data() + 6), 4);
  for (int i = 8; i < 16; ++i) hex(guid[i], 2);
  char ageText[9];
  int n = 0;
  do {
    ageText[n++] = kHex[age & 0xF];
    age >>= 4;
  } while (age != 0);
  while (n > 0) key.push_back(ageText[--n]);
  return key;
}

std::string GuidText(const std::array<std::uint8_t, 16>& guid) {
  const std::string key = SymbolStoreKey(guid, 0);
  return "{" + key.substr(0, 8) + "-" + key.substr(8, 4) + "-" + key.substr(12, 4) + "-" +
         key.substr(16, 4) + "-" + key.substr(20, 12) + "}";
}

}  // namespace sorvanta
