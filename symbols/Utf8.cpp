#include "Utf8.h"

#include "llvm/Support/Unicode.h"

namespace sorvanta {

namespace {

constexpr std::uint32_t kHashSeed = 2166136261u;  // FNV-1a offset basis
constexpr std::uint32_t kHashPrime = 16777619u;

inline std::uint32_t HashStep(std::uint32_t h, char32_t c) {
  return (h ^ static_cast<std::uint32_t>(c)) * kHashPrime;
}

inline bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

inline char32_t FoldAscii(unsigned char b) {
  return (b >= 'A' && b <= 'Z') ? static_cast<char32_t>(b + ('a' - 'A')) : b;
}

bool IsEncodable(char32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

}  // namespace

char32_t DecodeUtf8At(const char* text, std::size_t size, std::size_t* pos) {
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  std::size_t i = *pos;
  const unsigned char b0 = s[i];
  if (b0 < 0x80) {
    *pos = i + 1;
    return b0;
  }
  int extra;
  char32_t c;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1, c = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, c = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, c = b0 & 0x07, min = 0x10000;
  } else {
    *pos = i + 1;
    return kReplacementChar;
  }
  if (size - i <= static_cast<std::size_t>(extra)) {
    *pos = i + 1;
    return kReplacementChar;
  }
  for (int k = 1; k <= extra; ++k) {
    const unsigned char b = s[i + k];
    if (!IsContinuation(b)) {
      *pos = i + 1;
      return kReplacementChar;
    }
    c = (c << 6) | (b & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not valid.
  if (c < min || !IsEncodable(c)) {
    *pos = i + 1;
    return kReplacementChar;
  }
  *pos = i + 1 + extra;
  return c;
}

std::wstring Utf8ToWide(const char* text, std::size_t size) {
  std::wstring out;
  out.reserve(size);
  std::size_t pos = 0;
  while (pos < size) {
    const auto b = static_cast<unsigned char>(text[pos]);
    if (b < 0x80) {
      out.push_back(static_cast<wchar_t>(b));
      ++pos;
    } else {
      out.push_back(static_cast<wchar_t>(DecodeUtf8At(text, size, &pos)));
    }
  }
  return out;
}

void AppendUtf8(char32_t c, std::string* out) {
  if (!IsEncodable(c)) c = kReplacementChar;
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string WideToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t wc : text) AppendUtf8(static_cast<char32_t>(wc), &out);
  return out;
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    if (static_cast<unsigned char>(text[pos]) < 0x80) {
      ++pos;
      continue;
    }
    const std::size_t at = pos;
    if (DecodeUtf8At(text.data(), text.size(), &pos) == kReplacementChar && pos == at + 1) return false;
  }
  return true;
}

void AppendValidUtf8(std::string_view text, std::string* out) {
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t at = pos;
    const char32_t c = DecodeUtf8At(text.data(), text.size(), &pos);
    if (c == kReplacementChar && pos == at + 1) {
      AppendUtf8(kReplacementChar, out);
    } else {
      out->append(text.data() + at, pos - at);
    }
  }
}

char32_t FoldCase(char32_t c) {
  if (c < 0x80) return FoldAscii(static_cast<unsigned char>(c));
  if (c > 0x10FFFF) return c;
  return static_cast<char32_t>(llvm::sys::unicode::foldCharSimple(static_cast<int>(c)));
}

std::uint32_t FoldedHashUtf8(const char* text, std::size_t size) {
  std::uint32_t h = kHashSeed;
  std::size_t pos = 0;
  while (pos < size) {
    const auto b = static_cast<unsigned char>(text[pos]);
    if (b < 0x80) {
      h = HashStep(h, FoldAscii(b));
      ++pos;
    } else {
      h = HashStep(h, FoldCase(DecodeUtf8At(text, size, &pos)));
    }
  }
  return h;
}

std::u32string FoldWide(const std::wstring& text) {
  std::u32string out;
  out.reserve(text.size());
  for (wchar_t c : text) out.push_back(FoldCase(static_cast<char32_t>(c)));
  return out;
}

bool FoldedEqualsUtf8(const char* text, std::size_t size, const std::u32string& folded) {
  std::size_t pos = 0;
  std::size_t k = 0;
  while (pos < size) {
    if (k == folded.size()) return false;
    const auto b = static_cast<unsigned char>(text[pos]);
    char32_t c;
    if (b < 0x80) {
      c = FoldAscii(b);
      ++pos;
    } else {
      c = FoldCase(DecodeUtf8At(text, size, &pos));
    }
    if (c != folded[k++]) return false;
  }
  return k == folded.size();
}

bool ExactEqualsUtf8(const char* text, std::size_t size, const std::u32string& decoded) {
  std::size_t pos = 0;
  std::size_t k = 0;
  while (pos < size) {
    if (k == decoded.size()) return false;
    if (DecodeUtf8At(text, size, &pos) != decoded[k++]) return false;
  }
  return k == decoded.size();
}

std::u32string DecodeUtf8(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) out.push_back(DecodeUtf8At(text.data(), text.size(), &pos));
  return out;
}

std::u32string FoldUtf8(std::string_view text) {
  std::u32string out = DecodeUtf8(text);
  for (char32_t& c : out) c = FoldCase(c);
  return out;
}

}  // namespace sorvanta
