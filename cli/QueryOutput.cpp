#include "QueryOutput.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <utility>

#include "AddressText.h"
#include "NameMatch.h"
#include "PdbImage.h"
#include "Utf8.h"

namespace sorvanta {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kFunctionType = "Function";
constexpr std::string_view kPublicType = "PublicSymbol";
// A byte of a TSV field becomes at most this many: U+FFFD for one that
// starts no valid sequence or is a control character.
constexpr std::size_t kTsvGrowth = 3;
constexpr std::size_t kMaxDecimal = 20;

// Whether every byte is printable ASCII, which a TSV field takes as it is;
// eight bytes at a time.
bool IsPlainAscii(const char* text, std::size_t size) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, text + i, 8);
    const std::uint64_t control = (w - 0x20 * kOnes) & ~w;  // a byte below 0x20
    const std::uint64_t del = w ^ 0x7F * kOnes;             // a 0x7F byte is zero here
    if ((w | control | ((del - kOnes) & ~del)) & kHigh) return false;
  }
  for (; i < size; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c >= 0x7F) return false;
  }
  return true;
}

// Writes a TSV field at out, which has room for kTsvGrowth bytes per byte
// of text; returns the end.
char* WriteTsvText(std::string_view text, char* out) {
  // An empty view may hold no pointer at all, which memcpy must not get.
  if (text.empty()) return out;
  if (IsPlainAscii(text.data(), text.size())) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
  }
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t at = pos;
    const char32_t c = DecodeUtf8At(text.data(), text.size(), &pos);
    const bool replaced = (c == kReplacementChar && pos == at + 1) || c < 0x20 || c == 0x7F;
    if (replaced) {
      std::memcpy(out, "\xEF\xBF\xBD", 3);
      out += 3;
    } else {
      std::memcpy(out, text.data() + at, pos - at);
      out += pos - at;
    }
  }
  return out;
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

void AppendJsonLine(const Json& value, TextBuffer* out) {
  // Texts are valid UTF-8 already; replace guards anyway, so a stray byte
  // can never abort the program.
  out->Append(value.dump(-1, ' ', false, Json::error_handler_t::replace));
  out->Push('\n');
}

// A line of `list`; rva is only for JSON, which carries the address as
// numbers beside its text: the RVA, and the virtual address (the same
// plus the load address).
void AppendListLine(std::string_view name, std::string_view type,
                    const std::optional<std::uint64_t>& address,
                    const std::optional<std::uint64_t>& length, std::string_view source,
                    std::string_view object, OutputFormat format, TextBuffer* out,
                    const std::optional<std::uint64_t>& rva = std::nullopt) {
  if (format == OutputFormat::kJson) {
    Json line = Json::object();
    line["name"] = ValidUtf8(name);
    line["type"] = std::string(type);
    line["address"] = address ? Json(AddressText(*address)) : Json(nullptr);
    line["length"] = length ? Json(*length) : Json(nullptr);
    line["source"] = ValidUtf8(source);
    line["object"] = ValidUtf8(object);
    line["rva"] = rva ? Json(*rva) : Json(nullptr);
    line["va"] = address ? Json(*address) : Json(nullptr);
    AppendJsonLine(line, out);
    return;
  }
  char* at = out->Room(kTsvGrowth * (name.size() + source.size() + object.size()) + type.size() +
                       kMaxAddressText + kMaxDecimal + 6);
  at = WriteTsvText(name, at);
  *at++ = '\t';
  std::memcpy(at, type.data(), type.size());
  at += type.size();
  *at++ = '\t';
  if (address) at += WriteAddress(*address, at);
  *at++ = '\t';
  if (length) at = std::to_chars(at, at + kMaxDecimal, *length).ptr;
  *at++ = '\t';
  at = WriteTsvText(source, at);
  *at++ = '\t';
  at = WriteTsvText(object, at);
  *at++ = '\n';
  out->Commit(at);
}

}  // namespace

bool Output::Write(std::string_view text) {
  if (!Flush()) return false;
  if (!text.empty() && std::fwrite(text.data(), 1, text.size(), file_) != text.size()) failed_ = true;
  return !failed_;
}

bool Output::Flush() {
  if (!buffer_.empty() && !failed_) {
    if (std::fwrite(buffer_.view().data(), 1, buffer_.size(), file_) != buffer_.size()) failed_ = true;
  }
  buffer_.clear();
  if (!failed_ && std::fflush(file_) != 0) failed_ = true;
  return !failed_;
}

void AppendTsvText(std::string_view text, TextBuffer* out) {
  out->Commit(WriteTsvText(text, out->Room(kTsvGrowth * text.size())));
}

void AppendFunctionLine(const PdbImage& image, std::uint32_t function, OutputFormat format,
                        TextBuffer* out) {
  const std::optional<std::uint32_t> rva = image.FunctionRva(function);
  AppendListLine(image.FunctionName(function), kFunctionType, image.FunctionAddress(function),
                 image.FunctionLength(function), image.SourceFile(function),
                 image.ObjectFile(function), format, out,
                 rva ? std::optional<std::uint64_t>(*rva) : std::nullopt);
}

void AppendPublicLine(const PdbImage& image, std::uint32_t index, OutputFormat format,
                      std::string* scratch, TextBuffer* out) {
  const std::optional<std::uint64_t> va = image.PublicAddress(index);
  AppendListLine(image.PublicName(index, scratch), kPublicType, va, std::nullopt, {}, {}, format, out,
                 va ? std::optional<std::uint64_t>(*va - image.loadAddress()) : std::nullopt);
}

void AppendFunctionLines(const PdbImage& image, const NameMatcher* filter, OutputFormat format,
                         std::uint32_t begin, std::uint32_t end, TextBuffer* out) {
  if (format == OutputFormat::kJson) {
    for (std::uint32_t i = begin; i < end; ++i) {
      if (!filter || filter->Matches(image.FunctionName(i))) AppendFunctionLine(image, i, format, out);
    }
    return;
  }
  // Functions come module by module, so a run of lines mostly ends in the
  // same source and object file: that end is made once per run.
  TextBuffer tail;
  std::string_view tailSource;
  std::string_view tailObject;
  bool haveTail = false;
  for (std::uint32_t i = begin; i < end; ++i) {
    const std::string_view name = image.FunctionName(i);
    if (filter && !filter->Matches(name)) continue;
    const std::string_view source = image.SourceFile(i);
    const std::string_view object = image.ObjectFile(i);
    auto same = [](std::string_view a, std::string_view b) { return a.data() == b.data() && a.size() == b.size(); };
    if (!haveTail || !same(source, tailSource) || !same(object, tailObject)) {
      tail.clear();
      tail.Push('\t');
      AppendTsvText(source, &tail);
      tail.Push('\t');
      AppendTsvText(object, &tail);
      tail.Push('\n');
      tailSource = source;
      tailObject = object;
      haveTail = true;
    }
    const std::optional<std::uint64_t> address = image.FunctionAddress(i);
    char* at = out->Room(kTsvGrowth * name.size() + kFunctionType.size() + kMaxAddressText +
                         kMaxDecimal + 3 + tail.size());
    at = WriteTsvText(name, at);
    *at++ = '\t';
    std::memcpy(at, kFunctionType.data(), kFunctionType.size());
    at += kFunctionType.size();
    *at++ = '\t';
    if (address) at += WriteAddress(*address, at);
    *at++ = '\t';
    at = std::to_chars(at, at + kMaxDecimal, image.FunctionLength(i)).ptr;
    std::memcpy(at, tail.view().data(), tail.size());
    out->Commit(at + tail.size());
  }
}

AddressAnswerer::AddressAnswerer(std::shared_ptr<PdbImage> image, bool publics, OutputFormat format)
    : image_(std::move(image)),
      publics_(publics),
      format_(format) {}

void AddressAnswerer::AnswerText(std::string_view text, TextBuffer* out) {
  std::uint64_t va = 0;
  if (ParseAddress(text, &va)) {
    Answer(va, out);
  } else {
    AnswerNotAnAddress(text, out);
  }
}

void AddressAnswerer::AnswerNotAnAddress(std::string_view text, TextBuffer* out) {
  std::fprintf(stderr, "sorvanta-query: not an address: %.*s\n", static_cast<int>(text.size()), text.data());
  allAddresses_ = false;
  if (format_ == OutputFormat::kJson) {
    Json line = Json::object();
    line["input"] = ValidUtf8(text);
    line["Error"] = Json{{"Message", "not an address"}};
    AppendJsonLine(line, out);
    return;
  }
  AppendTsvText(text, out);
  out->Append("\t?? (not an address)\n");
}

void AddressAnswerer::Answer(std::uint64_t va, TextBuffer* out) {
  const PdbImage& image = *image_;
  if (const std::optional<std::uint32_t> f = image.FindFunction(va)) {
    AppendFound(va, image.FunctionName(*f), false, *image.FunctionAddress(*f), image.FunctionLength(*f),
                image.SourceFile(*f), image.ObjectFile(*f), out);
    return;
  }
  if (publics_) {
    if (const std::optional<std::uint32_t> p = image.FindPublicAtOrBelow(va)) {
      AppendFound(va, image.PublicName(*p, &scratch_), true, *image.PublicAddress(*p), std::nullopt, {}, {},
                  out);
      return;
    }
  }
  if (format_ == OutputFormat::kJson) {
    Json line = Json::object();
    line["address"] = AddressText(va);
    line["name"] = nullptr;
    line["va"] = va;
    AppendJsonLine(line, out);
    return;
  }
  char* at = out->Room(kMaxAddressText + 4);
  at += WriteAddress(va, at);
  std::memcpy(at, "\t??\n", 4);
  out->Commit(at + 4);
}

void AddressAnswerer::AppendFound(std::uint64_t va, std::string_view name, bool isPublic,
                                  std::uint64_t start, std::optional<std::uint64_t> length,
                                  std::string_view source, std::string_view object, TextBuffer* out) {
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
    line["va"] = va;
    line["rva"] = va - image_->loadAddress();
    line["length"] = length ? Json(*length) : Json(nullptr);
    AppendJsonLine(line, out);
    return;
  }
  char* at = out->Room(kTsvGrowth * (name.size() + source.size() + object.size()) +
                       4 * kMaxAddressText + 7);
  at += WriteAddress(va, at);
  *at++ = '\t';
  at = WriteTsvText(name, at);
  // A public marks only where something starts; like a debugger's nearest
  // symbol, it is shown as name+offset.
  if (isPublic && offset != 0) {
    *at++ = '+';
    at += WriteHex(offset, at);
  }
  *at++ = '\t';
  at += WriteAddress(start, at);
  *at++ = '\t';
  at += WriteHex(offset, at);
  *at++ = '\t';
  at = WriteTsvText(source, at);
  *at++ = '\t';
  at = WriteTsvText(object, at);
  *at++ = '\n';
  out->Commit(at);
}

}  // namespace sorvanta
