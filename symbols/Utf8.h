#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
inline std::wstring Utf8ToWide(std::string_view text) { return Utf8ToWide(text.data(), text.size()); }

// Code points that cannot be encoded (surrogates, values above U+10FFFF)
// are written as U+FFFD.
std::string WideToUtf8(const std::wstring& text);
void AppendUtf8(char32_t c, std::string* out);

// Whether text is valid UTF-8 throughout.
bool IsValidUtf8(std::string_view text);
// Appends text as it reads: each byte that starts no valid sequence
// becomes U+FFFD, so the result is valid UTF-8.
void AppendValidUtf8(std::string_view text, std::string* out);

// Simple (one-to-one) Unicode case folding of one code point.
char32_t FoldCase(char32_t c);

// A hash of a UTF-8 name folded for case-insensitive comparison: names
// that compare equal under FoldedEqualsUtf8 hash the same.
std::uint32_t FoldedHashUtf8(const char* text, std::size_t size);

// Whether the UTF-8 name equals the already folded text, each code point
// of the name folded first.
bool FoldedEqualsUtf8(const char* text, std::size_t size, const std::u32string& folded);
// Whether the UTF-8 name decodes to exactly these code points.
bool ExactEqualsUtf8(const char* text, std::size_t size, const std::u32string& decoded);

// The code points of UTF-8 text (U+FFFD for each byte that starts no valid
// sequence), and the same folded.
std::u32string DecodeUtf8(std::string_view text);
std::u32string FoldUtf8(std::string_view text);
std::u32string FoldWide(const std::wstring& text);

}  // namespace sorvanta
