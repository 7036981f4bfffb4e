#include "QueryOutput.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cstring>
#include <utility>

#include "AddressText.h"
#include "PdbImage.h"
#include "Utf8.h"

namespace sorvanta {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kFunctionType = "Function";
constexpr std::string_view kPublicType = "PublicSymbol";

// Whether every byte is printable ASCII, which a TSV field takes as it is;
// eight bytes at a time.
bool IsPlainAscii(const char* text, std::size_t size) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, text + i, 8);
    const std::uint64_t control = (w - 0x20 * kOnes) & ~w;          // a byte below 0x20
    const std::uint64_t del = ((w ^ 0x7F * kOnes) - kOnes) & ~(w ^ 0x7F * kOnes);  // a 0x7F byte
    if ((w | control | del) & kHigh) return false;
  }
  for (; i < size; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c >= 0x7F) return false;
  }
  return true;
}

void AppendDecimal(std::uint64_t value, std::string* out) {
  char digits[20];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out->append(digits, end);
}

std::string ValidUtf8(std::string_view text) {
  std::string valid;
  AppendValidUtf8(text, &valid);
  return valid;
}

std::string AddressText(std::uint64_t va) {
  std::string text;
  AppendAddress(va, &text);
  return text;
}

void AppendJsonLine(const Json& value, std::string* out) {
  // Texts are valid UTF-8 already; replace guards anyway, so a stray byte
  // can never abort the program.
  out->append(value.dump(-1, ' ', false, Json::error_handler_t::replace));
  out->push_back('\n');
}

// The fields after the name that `list` writes for every symbol.
void AppendListLine(std::string_view name, std::string_view type,
                    const std::optional<std::uint64_t>& address,
                    const std::optional<std::uint64_t>& length, std::string_view source,
                    std::string_view object, OutputFormat format, std::string* out) {
  if (format == OutputFormat::kJson) {
    Json line = Json::object();
    line["name"] = ValidUtf8(name);
    line["type"] = std::string(type);
    line["address"] = address ? Json(AddressText(*address)) : Json(nullptr);
    line["length"] = length ? Json(*length) : Json(nullptr);
    line["source"] = ValidUtf8(source);
    line["object"] = ValidUtf8(object);
    AppendJsonLine(line, out);
    return;
  }
  AppendTsvText(name, out);
  out->push_back('\t');
  out->append(type);
  out->push_back('\t');
  if (address) AppendAddress(*address, out);
  out->push_back('\t');
  if (length) AppendDecimal(*length, out);
  out->push_back('\t');
  AppendTsvText(source, out);
  out->push_back('\t');
  AppendTsvText(object, out);
  out->push_back('\n');
}

}  // namespace

bool Output::Flush() {
  if (!buffer_.empty() && !failed_) {
    if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) failed_ = true;
  }
  buffer_.clear();
  if (!failed_ && std::fflush(file_) != 0) failed_ = true;
  return !failed_;
}

void AppendTsvText(std::string_view text, std::string* out) {
  if (IsPlainAscii(text.data(), text.size())) {
    out->append(text);
    return;
  }
  for (std::size_t pos = 0; pos < text.size();) {
    char32_t c = DecodeUtf8At(text.data(), text.size(), &pos);
    if (c < 0x20 || c == 0x7F) c = kReplacementChar;
    AppendUtf8(c, out);
  }
}

void AppendFunctionLine(PdbImage& image, std::uint32_t function, OutputFormat format, std::string* out) {
  AppendListLine(image.FunctionName(function), kFunctionType, image.FunctionAddress(function),
                 image.FunctionLength(function), image.SourceFile(function),
                 image.ObjectFile(function), format, out);
}

void AppendPublicLine(const PdbImage& image, std::uint32_t index, OutputFormat format,
                      std::string* scratch, std::string* out) {
  AppendListLine(image.PublicName(index, scratch), kPublicType, image.PublicAddress(index),
                 std::nullopt, {}, {}, format, out);
}

AddressAnswerer::AddressAnswerer(std::shared_ptr<PdbImage> image, bool publics, OutputFormat format)
    : image_(std::move(image)), publics_(publics), format_(format) {}

void AddressAnswerer::AnswerText(const char* text, std::size_t size, std::string* out) {
  Answer(ReadAddress(text, size), out);
}

void AddressAnswerer::Answer(std::uint64_t va, std::string* out) {
  PdbImage& image = *image_;
  if (const std::optional<std::uint32_t> f = image.FindFunction(va)) {
    AppendFound(va, image.FunctionName(*f), false, *image.FunctionAddress(*f), image.SourceFile(*f),
                image.ObjectFile(*f), out);
    return;
  }
  if (publics_) {
    if (const std::optional<std::uint32_t> p = image.FindPublicAtOrBelow(va)) {
      AppendFound(va, image.PublicName(*p, &scratch_), true, *image.PublicAddress(*p), {}, {}, out);
      return;
    }
  }
  if (format_ == OutputFormat::kJson) {
    Json line = Json::object();
    line["address"] = AddressText(va);
    line["name"] = nullptr;
    AppendJsonLine(line, out);
    return;
  }
  AppendAddress(va, out);
  out->append("\t??\n");
}

void AddressAnswerer::AppendFound(std::uint64_t va, std::string_view name, bool isPublic,
                                  std::uint64_t start, std::string_view source,
                                  std::string_view object, std::string* out) {
  const std::uint64_t offset = va - start;
  if (format_ == OutputFormat::kJson) {
    Json line = Json::object();
    line["address"] = AddressText(va);
    line["name"] = ValidUtf8(name);
    line["type"] = std::string(isPublic ? kPublicType : kFunctionType);
    line["start"] = AddressText(start);
    line["offset"] = offset;
    line["source"] = ValidUtf8(source);
    line["object"] = ValidUtf8(object);
    AppendJsonLine(line, out);
    return;
  }
  AppendAddress(va, out);
  out->push_back('\t');
  AppendTsvText(name, out);
  // A public marks only where something starts; like a debugger's nearest
  // symbol, it is shown as name+offset.
  if (isPublic && offset != 0) {
    out->push_back('+');
    AppendHex(offset, out);
  }
  out->push_back('\t');
  AppendAddress(start, out);
  out->push_back('\t');
  AppendHex(offset, out);
  out->push_back('\t');
  AppendTsvText(source, out);
  out->push_back('\t');
  AppendTsvText(object, out);
  out->push_back('\n');
}

}  // namespace sorvanta
