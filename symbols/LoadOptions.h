#pragma once

namespace sorvanta {

// What a load reads besides the functions of the module streams. The window
// needs nothing more; the query program asks for the public symbols, which
// a stripped PDB holds instead of module symbols.
struct LoadOptions {
  // Read the public symbols that mark functions (the publics stream and the
  // symbol-record stream) at load.
  bool publics = false;
};

}  // namespace sorvanta
