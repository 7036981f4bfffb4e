#pragma once

#include <cstddef>
#include <cwchar>
#include <string>

namespace sorvanta::detail {

// Every text the result list shows is formatted into a buffer of 256 wide
// characters; none of the formats used can come near filling it.
constexpr std::size_t kFormatBufferSize = 256;

template <class... Args>
std::wstring FormatWide(const wchar_t* format, Args... args) {
  wchar_t buffer[kFormatBufferSize];
  const int written = std::swprintf(buffer, kFormatBufferSize, format, args...);
  if (written < 0) return {};
  return std::wstring(buffer, static_cast<std::size_t>(written));
}

}  // namespace sorvanta::detail
