#pragma once

#include <memory>
#include <string>

#include "HResult.h"

namespace llvm {
class MemoryBuffer;
}

namespace sorvanta {

// Reads a whole regular file into freshly allocated memory. The file is
// never mapped: a mapping would turn a later truncation of the file into
// SIGBUS, and the program must outlive any change on disk.
//
// Paths that are not regular files (directories, FIFOs, devices such as
// /dev/zero) are refused without reading; opening never blocks. A file that
// shrinks while it is read is refused.
//
// Results: S_OK; E_PDB_NOT_FOUND for a missing path; E_INVALIDARG for a
// path that is not a regular file; E_OUTOFMEMORY; E_FAIL for read errors.
HRESULT ReadFileBytes(const std::string& path, std::unique_ptr<llvm::MemoryBuffer>* bytes);

}  // namespace sorvanta
