#include "FileBytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>

#include "llvm/Support/MemoryBuffer.h"

namespace sorvanta {

namespace {

// Closes the descriptor on every path out.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd(fd) {}
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd; }

 private:
  int fd;
};

}  // namespace

HRESULT ReadFileBytes(const std::string& path, std::unique_ptr<llvm::MemoryBuffer>* bytes) {
  bytes->reset();
  if (path.empty() || path.find('\0') != std::string::npos) return E_PDB_NOT_FOUND;

  // O_NONBLOCK keeps open() from waiting for a writer on a FIFO; the file
  // type is checked before anything is read.
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (file.get() < 0) {
    return (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG) ? E_PDB_NOT_FOUND
                                                                         : E_FAIL;
  }
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return E_FAIL;
  if (!S_ISREG(info.st_mode)) return E_INVALIDARG;
  if (info.st_size < 0 ||
      static_cast<std::uint64_t>(info.st_size) > std::numeric_limits<std::size_t>::max() / 2) {
    return E_OUTOFMEMORY;
  }
  const auto size = static_cast<std::size_t>(info.st_size);

  std::unique_ptr<llvm::WritableMemoryBuffer> buffer =
      llvm::WritableMemoryBuffer::getNewUninitMemBuffer(size, path);
  if (!buffer) return E_OUTOFMEMORY;

  char* out = buffer->getBufferStart();
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(file.get(), out + done, size - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      return E_FAIL;
    }
    if (got == 0) return E_FAIL;  // the file shrank while we read it
    done += static_cast<std::size_t>(got);
  }
  *bytes = std::move(buffer);
  return S_OK;
}

}  // namespace sorvanta
