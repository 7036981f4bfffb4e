#include "AddressText.h"

#include <cwchar>
#include <cwctype>

#include "Utf8.h"

namespace sorvanta {

namespace {

constexpr int kMaxHexDigits = 16;  // 64 bits

bool HexDigit(char c, unsigned* digit) {
  if (c >= '0' && c <= '9') {
    *digit = static_cast<unsigned>(c - '0');
  } else if (c >= 'a' && c <= 'f') {
    *digit = static_cast<unsigned>(c - 'a' + 10);
  } else if (c >= 'A' && c <= 'F') {
    *digit = static_cast<unsigned>(c - 'A' + 10);
  } else {
    return false;
  }
  return true;
}

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

// The usual batch line, [0x]HEXDIGITS and nothing else with at most 16
// significant digits, read directly; the rule reads it the same way, only
// slower.
bool ReadPlainHex(const char* text, std::size_t size, std::uint64_t* value) {
  std::size_t i = 0;
  if (size >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) i = 2;
  if (i == size) return false;
  while (i + 1 < size && text[i] == '0') ++i;
  if (size - i > kMaxHexDigits) return false;
  std::uint64_t v = 0;
  for (; i < size; ++i) {
    const char c = text[i];
    unsigned digit;
    if (!HexDigit(c, &digit)) return false;
    v = v << 4 | digit;
  }
  *value = v;
  return true;
}

// The digits of value, at least minDigits of them (zeros in front), at out.
std::size_t WriteHexDigits(std::uint64_t value, int minDigits, const char* digitSet, char* out) {
  char digits[16];
  int n = 0;
  do {
    digits[n++] = digitSet[value & 0xF];
    value >>= 4;
  } while (value != 0);
  std::size_t at = 0;
  for (int pad = n; pad < minDigits; ++pad) out[at++] = '0';
  while (n > 0) out[at++] = digits[--n];
  return at;
}

constexpr char kUpper[] = "0123456789ABCDEF";
constexpr char kLower[] = "0123456789abcdef";

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

std::uint64_t ReadAddress(const char* text, std::size_t size) {
  std::uint64_t value = 0;
  if (ReadPlainHex(text, size, &value)) return value;
  return ReadAddress(Utf8ToWide(text, size));
}

std::size_t WriteAddress(std::uint64_t value, char* out) {
  out[0] = '0';
  out[1] = 'X';
  return 2 + WriteHexDigits(value, 8, kUpper, out + 2);
}

bool ParseAddress(std::string_view text, std::uint64_t* value) {
  auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  } else if (!text.empty() && (text.back() == 'h' || text.back() == 'H')) {
    text.remove_suffix(1);
  }
  if (text.empty()) return false;
  std::uint64_t v = 0;
  int significant = 0;
  for (const char c : text) {
    unsigned digit;
    if (!HexDigit(c, &digit)) return false;
    if (significant > 0 || digit != 0) ++significant;
    if (significant > kMaxHexDigits) return false;
    v = v << 4 | digit;
  }
  *value = v;
  return true;
}

void AppendAddress(std::uint64_t value, std::string* out) {
  char text[kMaxAddressText];
  out->append(text, WriteAddress(value, text));
}

std::wstring FormatAddress(std::uint64_t value) {
  char text[kMaxAddressText];
  return std::wstring(text, text + WriteAddress(value, text));
}

std::size_t WriteHex(std::uint64_t value, char* out) {
  out[0] = '0';
  out[1] = 'x';
  return 2 + WriteHexDigits(value, 1, kLower, out + 2);
}

void AppendHex(std::uint64_t value, std::string* out) {
  char text[kMaxAddressText];
  out->append(text, WriteHex(value, text));
}

}  // namespace sorvanta
