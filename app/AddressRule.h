#pragma once

#include <cstdint>
#include <string>

namespace sorvanta {

// Reads an address typed into an edit box the way "%llx" does: leading
// white space, an optional sign, an optional 0x or 0X, then hexadecimal
// digits up to the first character that cannot continue the number; the
// rest of the text is ignored. A minus sign negates in unsigned 64-bit
// arithmetic, so "-1" is 0xFFFFFFFFFFFFFFFF.
//
// Returns 0, which the commands take as "do nothing", when no digit can be
// read, and also when the number has more significant digits than 64 bits
// hold: such text is no address, and acting on a clipped or saturated value
// would use an address the user never typed.
std::uint64_t ReadAddress(const std::wstring& text);

}  // namespace sorvanta
