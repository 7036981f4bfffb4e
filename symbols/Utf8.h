#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sorvanta {

// Text in PDB files is UTF-8; the interfaces speak wide strings (UTF-32 on
// Linux). These helpers convert between the two without ever failing:
// every byte that does not start a valid sequence becomes U+FFFD and the
// rest of the text is kept.

constexpr char32_t kReplacementChar = 0xFFFD;

// Decodes one code point starting at text[*pos] (pos < size) and advances
// *pos past it (by one byte for an invalid sequence).
char32_t DecodeUtf8At(const char* text, std::size_t size, std::size_t* pos);

std::wstring Utf8ToWide(const char* text, std::size_t size);
inline std::wstring Utf8ToWide(const std::string& text) {
  return Utf8ToWide(text.data(), text.size());
}

// Code points that cannot be encoded (surrogates, values above U+10FFFF)
// are written as U+FFFD.
std::string WideToUtf8(const std::wstring& text);

// Simple (one-to-one) Unicode case folding of one code point.
char32_t FoldCase(char32_t c);

// A hash of a name folded for case-insensitive comparison. Names that
// compare equal under FoldedEquals hash the same, whether given as UTF-8
// (as stored in the file) or as wide text (as typed by the user).
std::uint32_t FoldedHashUtf8(const char* text, std::size_t size);
std::uint32_t FoldedHash(const std::wstring& text);

// Whether the UTF-8 name equals the already folded wide text, each code
// point of the name folded first.
bool FoldedEqualsUtf8(const char* text, std::size_t size, const std::u32string& folded);
// Whether the UTF-8 name decodes to exactly the wide text.
bool ExactEqualsUtf8(const char* text, std::size_t size, const std::wstring& wide);

std::u32string FoldWide(const std::wstring& text);

}  // namespace sorvanta
