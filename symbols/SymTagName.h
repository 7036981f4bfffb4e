#pragma once

#include <cstdint>

namespace sorvanta {

// The display name of a symbol tag: "NULL", "Function", ... for 0..36 and
// "Unknown" for every other value. The text has static lifetime.
const wchar_t* SymTagName(std::uint32_t symTag);

}  // namespace sorvanta
