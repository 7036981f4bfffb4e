#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "TextBuffer.h"

namespace sorvanta {

class NameMatcher;
class PdbImage;

enum class OutputFormat { kTsv, kJson };

// Buffered output to a file. Records are appended to buffer() and handed
// over in large writes; Flush() writes whatever is pending.
class Output {
 public:
  explicit Output(std::FILE* file) : file_(file) {}
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  TextBuffer& buffer() { return buffer_; }
  // Call after each record: writes once enough has gathered.
  void EndRecord() {
    if (buffer_.size() >= kChunk) Flush();
  }
  // Writes text now, after whatever is pending.
  bool Write(std::string_view text);
  // False once any write failed (a full disk, a closed pipe).
  bool Flush();
  bool failed() const { return failed_; }

 private:
  static constexpr std::size_t kChunk = 1 << 16;
  std::FILE* file_;
  TextBuffer buffer_;
  bool failed_ = false;
};

// Appends text (UTF-8 as stored, or any bytes) as a TSV field: each byte
// that starts no valid sequence, and each control character (a tab or a
// line break would break the line's framing), becomes U+FFFD.
void AppendTsvText(std::string_view text, TextBuffer* out);

// One line of `list`: name, symbol type, address, length, source file and
// object file, the window's row texts, except that a value the symbol does
// not have is left empty (null in JSON) rather than shown as 0.
void AppendFunctionLine(const PdbImage& image, std::uint32_t function, OutputFormat format,
                        TextBuffer* out);
// The same for a public symbol, with its demangled name; scratch holds a
// name the image does not keep.
void AppendPublicLine(const PdbImage& image, std::uint32_t index, OutputFormat format,
                      std::string* scratch, TextBuffer* out);

// The lines of functions [begin, end) whose names pass filter (every one
// when it is null).
void AppendFunctionLines(const PdbImage& image, const NameMatcher* filter, OutputFormat format,
                         std::uint32_t begin, std::uint32_t end, TextBuffer* out);

// Answers `addr` for one address: the function that holds it, else (with
// publics) the nearest public at or below it as name+offset, else "??".
// JSON lines carry the numbers as numbers too: the address as "va", its
// RVA as "rva" and the symbol's length.
class AddressAnswerer {
 public:
  AddressAnswerer(std::shared_ptr<PdbImage> image, bool publics, OutputFormat format);

  void Answer(std::uint64_t va, TextBuffer* out);
  // One line of text, read with the strict address rule.
  void AnswerText(std::string_view text, TextBuffer* out);
  // Text that is no address: "TEXT\t?? (not an address)" (an Error in
  // JSON), with a message on standard error.
  void AnswerNotAnAddress(std::string_view text, TextBuffer* out);
  // False once some text was no address.
  bool allAddresses() const { return allAddresses_; }

 private:
  void AppendFound(std::uint64_t va, std::string_view name, bool isPublic, std::uint64_t start,
                   std::optional<std::uint64_t> length, std::string_view source,
                   std::string_view object, TextBuffer* out);

  std::shared_ptr<PdbImage> image_;
  bool publics_;
  OutputFormat format_;
  std::string scratch_;
  bool allAddresses_ = true;
};

}  // namespace sorvanta
