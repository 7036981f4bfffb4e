#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "DbiStream.h"
#include "FunctionRecords.h"
#include "HResult.h"
#include "LoadOptions.h"
#include "ModuleFileTable.h"
#include "PageBuffer.h"
#include "SectionTable.h"
#include "StringTable.h"

namespace sorvanta {

class MsfFile;

// One module of a loaded image: its names, its functions and their source
// files, and (for a load that keeps lines) what was read of its stream.
struct LoadedModule {
  std::string_view name;   // the object file; a view into the DBI stream
  bool isLinker = false;   // the linker's own module names no object file
  const char* names = nullptr;  // where its functions' names are kept
  std::uint32_t symbolBytes = 0;  // read
  std::uint32_t c13Bytes = 0;     // read; 0 when it has none, or they lie past the stream's end
  std::uint64_t bytesAt = 0;      // with lines kept: its symbols, then its C13 lines
  std::uint32_t firstFunction = 0;  // its functions are [firstFunction, the next module's)
  ModuleFileTable files;
};

// What a load keeps of the modules, with one record per function in module
// order and each module's stream order.
struct LoadedModules {
  std::vector<LoadedModule> modules;
  FunctionRecords functions;
  std::vector<PageBuffer> names;  // the functions' names, one buffer per loading thread
  PageBuffer bytes;               // with lines kept: every module's symbols and lines
  std::uint32_t maxRva = 0;       // the greatest RVA of a function, 0 for none
  std::uint64_t bytesKept = 0;    // names and, with lines, the modules' bytes
};

// Reads every module's symbols and C13 lines (once per stream: a stream
// that two descriptors name is read for the first only), walks them for
// functions, copies each function's name out and gives it its source file
// while the module's bytes are fresh in the cache. Unless options.lines,
// each thread reads the modules into one buffer of its own that it reuses,
// so only what is kept costs fresh memory. Modules are shared out over up
// to options.threads threads in contiguous runs of about equal size, none
// smaller than options.bytesPerThread; each thread reads and walks its
// run, so the order never depends on timing.
HRESULT LoadModules(MsfFile& file, const DbiStream& dbi, const SectionTable& sections,
                    const StringTable& strings, const LoadOptions& options,
                    std::uint16_t imageHandle, LoadedModules* out);

}  // namespace sorvanta
