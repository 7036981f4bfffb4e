#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sorvanta {

// How much of a demangled Microsoft C++ name to write.
enum class DemangleStyle {
  kFull,        // everything: access, storage, calling convention, return type
  kSymbolizer,  // what a symbolizer shows: no access, member kind,
                // calling convention or return type
};

// Names longer than this are never demangled: Microsoft's compilers hash
// any decorated name past 4096 characters, so no real name is longer.
constexpr std::size_t kMaxMangledLength = 4096;
// Demangled text longer than this is not shown: the raw name is.
constexpr std::size_t kMaxDemangledLength = 65535;

// Demangles a Microsoft C++ decorated name into *out. False (and *out
// untouched) when the name is no such name, is longer than
// kMaxMangledLength, or would demangle to more than kMaxDemangledLength
// characters. Back-references let a short name expand enormously, both in
// its text and in what the parser writes out while it reads the name, so
// both are bounded before any of it is written; a name whose bound is
// passed is not demangled. The work and memory per name stay within a few
// megabytes whatever it holds.
bool DemangleMicrosoft(std::string_view mangled, DemangleStyle style, std::string* out);

}  // namespace sorvanta
