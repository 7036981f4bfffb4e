#include "AddressRule.h"

#include <cwchar>
#include <cwctype>

namespace sorvanta {

namespace {

constexpr int kMaxHexDigits = 16;  // 64 bits

bool IsHexDigit(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// Counts the significant digits of the number that "%llx" would read from
// text (leading zeros do not count), following the same grammar and
// stopping at the first NUL as the conversion does.
int SignificantHexDigits(const wchar_t* text) {
  while (*text != L'\0' && std::iswspace(static_cast<std::wint_t>(*text))) ++text;
  if (*text == L'+' || *text == L'-') ++text;
  if (text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) text += 2;
  while (*text == L'0') ++text;
  int digits = 0;
  while (IsHexDigit(*text)) {
    ++digits;
    ++text;
  }
  return digits;
}

}  // namespace

std::uint64_t ReadAddress(const std::wstring& text) {
  // A value that does not fit makes the conversion's behaviour undefined
  // in C, so such text never reaches it.
  if (SignificantHexDigits(text.c_str()) > kMaxHexDigits) return 0;

  unsigned long long value = 0;
  // The count of conversions is not needed: when nothing was read the
  // value simply stays 0.
  static_cast<void>(std::swscanf(text.c_str(), L"%llx", &value));
  return static_cast<std::uint64_t>(value);
}

}  // namespace sorvanta
