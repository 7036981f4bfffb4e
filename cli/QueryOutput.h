#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "IDiaSession.h"
#include "IDiaSymbol.h"

namespace sorvanta {

class PdbImage;

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
  // Lines of TSV for a function found go the direct way (AnswerFromImage)
  // when the session is the symbol component's own, unless throughDia.
  AddressAnswerer(DiaRef<IDiaSession> session, bool publics, OutputFormat format,
                  bool throughDia = false);

  void Answer(std::uint64_t va, std::string* out);
  // One line of text, read with the window's address rule.
  void AnswerText(const char* text, std::size_t size, std::string* out);

 private:
  // The line the session's symbol getters give, read from the image
  // itself: no symbol objects, no wide strings, and each module's source
  // and object file texts converted once. False when no function holds va
  // (the session path then answers).
  bool AnswerFromImage(std::uint64_t va, std::string* out);

  DiaRef<IDiaSession> session_;
  bool publics_;
  OutputFormat format_;
  std::wstring name_, source_, object_;  // reused between answers
  std::shared_ptr<PdbImage> image_;      // null: every answer goes through the session
  // Per module: its object file's TSV text, and its source files' by the
  // line table's file index. Filled as answers need them.
  std::vector<std::optional<std::string>> objectTexts_;
  std::vector<std::vector<std::optional<std::string>>> sourceTexts_;
};

// The address in a line of UTF-8 text, by the window's address rule.
std::uint64_t ReadAddressText(const char* text, std::size_t size);

// "0X%08llX", the window's address format, without going through printf.
void AppendAddress(std::uint64_t value, std::string* out);

// Appends the text as UTF-8 for a TSV field: tabs, line breaks and other
// control characters would break the line's framing and become U+FFFD.
void AppendTsvField(const std::wstring& text, std::string* out);

}  // namespace sorvanta
