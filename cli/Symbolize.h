#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sorvanta {

// How `symbolize` writes its frames: as llvm-symbolizer does by default,
// as addr2line -f -i does, or as llvm-symbolizer's JSON.
enum class OutputStyle { kLlvm, kGnu, kJson };

struct SymbolizeOptions {
  std::string file;  // a PDB, or an image whose own PDB is found
  std::vector<std::string> addresses;  // none: read from standard input
  OutputStyle style = OutputStyle::kLlvm;
  bool inlines = true;
  bool relative = false;  // addresses are relative to the image's base
  std::optional<std::string> base;  // the load address, instead of the image's preferred one
  std::vector<std::string> symbolPaths;
  bool ignoreMismatch = false;
};

// Runs `sorvanta-query symbolize`; returns the exit status.
int RunSymbolize(const SymbolizeOptions& options);

}  // namespace sorvanta
