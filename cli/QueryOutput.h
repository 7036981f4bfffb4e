#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "IDiaSession.h"
#include "IDiaSymbol.h"

namespace sorvanta {

enum class OutputFormat { kTsv, kJson };

// Buffered output to a file. Records are appended to buffer() and handed
// over in large writes; Flush() writes whatever is pending.
class Output {
 public:
  explicit Output(std::FILE* file) : file_(file) {}
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  std::string& buffer() { return buffer_; }
  // Call after each record: writes once enough has gathered.
  void EndRecord() {
    if (buffer_.size() >= kChunk) Flush();
  }
  // False once any write failed (a full disk, a closed pipe).
  bool Flush();
  bool failed() const { return failed_; }

 private:
  static constexpr std::size_t kChunk = 1 << 16;
  std::FILE* file_;
  std::string buffer_;
  bool failed_ = false;
};

// One line of `list`: name, symbol type, address, length, source file and
// object file, as the window's row shows them (RowTexts), except that a
// value the symbol does not have is left empty (null in JSON) rather than
// shown as 0.
void AppendListLine(IDiaSymbol& symbol, OutputFormat format, std::string* out);

// Answers `addr` for one address: the function that holds it, else (with
// publics) the nearest public at or below it as name+offset, else "??".
class AddressAnswerer {
 public:
  AddressAnswerer(DiaRef<IDiaSession> session, bool publics, OutputFormat format);

  void Answer(std::uint64_t va, std::string* out);
  // One line of text, read with the window's address rule.
  void AnswerText(const char* text, std::size_t size, std::string* out);

 private:
  DiaRef<IDiaSession> session_;
  bool publics_;
  OutputFormat format_;
  std::wstring name_, source_, object_;  // reused between answers
};

// The address in a line of UTF-8 text, by the window's address rule.
std::uint64_t ReadAddressText(const char* text, std::size_t size);

// "0X%08llX", the window's address format, without going through printf.
void AppendAddress(std::uint64_t value, std::string* out);

// Appends the text as UTF-8 for a TSV field: tabs, line breaks and other
// control characters would break the line's framing and become U+FFFD.
void AppendTsvField(const std::wstring& text, std::string* out);

}  // namespace sorvanta
