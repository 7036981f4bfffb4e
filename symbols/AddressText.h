#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sorvanta {

// Addresses as people type them and as the program shows them: one rule
// for reading and one format, shared by the window and sorvanta-query.

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
// The same rule for a line of UTF-8 text.
std::uint64_t ReadAddress(const char* text, std::size_t size);

// The strict rule of sorvanta-query: the whole text, spaces around it
// aside, is one hexadecimal number of at most 64 bits, written plain, with
// 0x or 0X in front, or with h or H after it. False for anything else
// ("foo", "12g", "-1", a number past 64 bits, an empty line).
bool ParseAddress(std::string_view text, std::uint64_t* value);

// "0X%08llX": at least eight upper-case hex digits, all of them above 32
// bits. WriteAddress writes it at out (room for kMaxAddressText bytes) and
// returns its length; the others are made from it.
constexpr std::size_t kMaxAddressText = 18;
std::size_t WriteAddress(std::uint64_t value, char* out);
void AppendAddress(std::uint64_t value, std::string* out);
std::wstring FormatAddress(std::uint64_t value);
// "0x%llx": an offset or a plain hexadecimal number, as WriteAddress.
std::size_t WriteHex(std::uint64_t value, char* out);
void AppendHex(std::uint64_t value, std::string* out);

}  // namespace sorvanta
