#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "DbiStream.h"
#include "FunctionRecords.h"
#include "HResult.h"
#include "ModuleFileTable.h"
#include "PageBuffer.h"
#include "SectionTable.h"

namespace sorvanta {

class MsfFile;

// One module of a loaded image: what was read of its stream, its
// functions, and its source files once they are asked for.
struct LoadedModule {
  std::string_view name;   // the object file; a view into the DBI stream
  bool isLinker = false;   // the linker's own module names no object file
  std::uint64_t bytesAt = 0;      // in the image's module bytes: its symbols, then its C13 lines
  std::uint32_t symbolBytes = 0;  // read
  std::uint32_t c13Bytes = 0;     // read; 0 when it has none, or they lie past the stream's end
  std::uint32_t firstFunction = 0;  // its functions are [firstFunction, the next module's)
  std::optional<ModuleFileTable> files;  // assigned on first use
};

// What a load reads of the modules: their bytes, the modules, and one
// record per function, in module order and each module's stream order.
struct LoadedModules {
  PageBuffer bytes;
  std::vector<LoadedModule> modules;
  FunctionRecords functions;
  std::uint32_t maxRva = 0;  // the greatest RVA of a function, 0 for none
};

// Reads every module's symbols and C13 lines (once per stream: a stream
// that two descriptors name is read for the first only) and walks them for
// functions. Modules are shared out over up to threads threads in
// contiguous runs of about equal size, none smaller than bytesPerThread;
// each thread reads and walks its run, so the order never depends on
// timing.
HRESULT LoadModules(MsfFile& file, const DbiStream& dbi, const SectionTable& sections,
                    unsigned threads, std::uint64_t bytesPerThread, std::uint16_t imageHandle,
                    LoadedModules* out);

}  // namespace sorvanta
