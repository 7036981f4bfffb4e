#pragma once

#include <cstdint>

#include "Demangler.h"

namespace sorvanta {

// What a load reads besides the functions of the module streams, and how.
struct LoadOptions {
  // Read the public symbols that mark functions (the publics stream and the
  // symbol-record stream) at load. The window needs none; the query
  // program asks for them, since a stripped PDB holds publics instead of
  // module symbols.
  bool publics = false;
  // How the publics' names are demangled.
  DemangleStyle publicNames = DemangleStyle::kFull;
  // Read the publics that mark data too (variables, string literals): a
  // symbolizer names an address outside every function by the public at or
  // below it, whatever that public marks.
  bool dataPublics = false;
  // Keep every module's symbol records and line subsections after the
  // load, and read the type and id streams, for the line and inline-frame
  // facts of a symbolizer. Without it a load keeps of the modules only what
  // the function records need (their names), a fraction of the bytes read.
  bool lines = false;
  // Threads that read and walk the modules; 0 means one per core.
  unsigned threads = 0;
  // Module bytes each thread should have to read at least: a thread costs
  // more to start than a small file takes to load.
  std::uint64_t bytesPerThread = std::uint64_t{4} << 20;
};

}  // namespace sorvanta
