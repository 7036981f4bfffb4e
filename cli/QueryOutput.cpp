#include "QueryOutput.h"

#include <nlohmann/json.hpp>

#include <utility>

#include "AddressRule.h"
#include "PdbImage.h"
#include "PdbSession.h"
#include "RowTexts.h"
#include "SymTag.h"
#include "SymTagName.h"
#include "Utf8.h"

namespace sorvanta {

namespace {

using Json = nlohmann::ordered_json;

void AppendJsonLine(const Json& value, std::string* out) {
  // Texts are already valid UTF-8 (Utf8/WideToUtf8 never fail); replace
  // guards anyway, so a stray byte can never abort the program.
  out->append(value.dump(-1, ' ', false, Json::error_handler_t::replace));
  out->push_back('\n');
}

void AppendHex(std::uint64_t value, std::string* out) {
  char digits[16];
  int n = 0;
  do {
    digits[n++] = "0123456789abcdef"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  out->append("0x");
  while (n > 0) out->push_back(digits[--n]);
}

Json TextOrNull(bool present, const std::wstring& text) {
  return present ? Json(WideToUtf8(text)) : Json(nullptr);
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

void AppendAddress(std::uint64_t value, std::string* out) {
  char digits[16];
  int n = 0;
  do {
    digits[n++] = "0123456789ABCDEF"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  out->append("0X");
  for (int pad = n; pad < 8; ++pad) out->push_back('0');
  while (n > 0) out->push_back(digits[--n]);
}

void AppendTsvField(const std::wstring& text, std::string* out) {
  const std::size_t start = out->size();
  out->append(WideToUtf8(text));
  std::string& s = *out;
  for (std::size_t i = start; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c == 0x7F) {
      s.replace(i, 1, "\xEF\xBF\xBD");
      i += 2;
    }
  }
}

void AppendListLine(IDiaSymbol& symbol, OutputFormat format, std::string* out) {
  const RowTexts row = ReadRowTexts(&symbol);
  // The row's texts stand for values the symbol may not have; ask which
  // ones it has, so that "none" is not printed as 0.
  std::uint64_t value = 0;
  const bool hasAddress = symbol.get_virtualAddress(&value) == S_OK;
  const bool hasLength = symbol.get_length(&value) == S_OK;

  if (format == OutputFormat::kJson) {
    Json line = Json::object();
    line["name"] = WideToUtf8(row.name);
    line["type"] = WideToUtf8(row.tag);
    line["address"] = TextOrNull(hasAddress, row.address);
    line["length"] = hasLength ? Json(value) : Json(nullptr);
    line["source"] = WideToUtf8(row.sourceFile);
    line["object"] = WideToUtf8(row.objectFile);
    AppendJsonLine(line, out);
    return;
  }
  AppendTsvField(row.name, out);
  out->push_back('\t');
  AppendTsvField(row.tag, out);
  out->push_back('\t');
  if (hasAddress) AppendTsvField(row.address, out);
  out->push_back('\t');
  if (hasLength) AppendTsvField(row.length, out);
  out->push_back('\t');
  AppendTsvField(row.sourceFile, out);
  out->push_back('\t');
  AppendTsvField(row.objectFile, out);
  out->push_back('\n');
}

AddressAnswerer::AddressAnswerer(DiaRef<IDiaSession> session, bool publics, OutputFormat format,
                                 bool throughDia)
    : session_(std::move(session)), publics_(publics), format_(format) {
  if (throughDia || format_ != OutputFormat::kTsv) return;
  if (const auto* own = dynamic_cast<const PdbSession*>(session_.get())) image_ = own->image();
}

namespace {

// AppendTsvField of the name get_name gives for these UTF-8 bytes. Plain
// ASCII converts to itself, so it is copied; anything else takes the
// conversion.
void AppendTsvUtf8(const char* text, std::size_t size, std::string* out) {
  for (std::size_t i = 0; i < size; ++i) {
    if (static_cast<unsigned char>(text[i]) >= 0x80) {
      AppendTsvField(Utf8ToWide(text, size), out);
      return;
    }
  }
  const std::size_t start = out->size();
  out->append(text, size);
  for (std::size_t i = start; i < out->size(); ++i) {
    const auto c = static_cast<unsigned char>((*out)[i]);
    if (c < 0x20 || c == 0x7F) {
      out->replace(i, 1, "\xEF\xBF\xBD");
      i += 2;
    }
  }
}

}  // namespace

bool AddressAnswerer::AnswerFromImage(std::uint64_t va, std::string* out) {
  PdbImage& image = *image_;
  const std::optional<std::uint32_t> found = image.FindByVirtualAddress(va);
  if (!found) return false;
  const PdbFunctionSymbol& f = image.function(*found);
  const std::uint32_t module = f.module();
  // The record (address, name) is far away in a large file: have it on the
  // way while the module's texts are looked up.
  const std::uint8_t* record = image.ModuleSymbols(module) + f.record();
  __builtin_prefetch(record);
  __builtin_prefetch(record + 64);

  if (objectTexts_.empty()) {
    objectTexts_.resize(image.moduleCount());
    sourceTexts_.resize(image.moduleCount());
  }
  std::optional<std::string>& object = objectTexts_[module];
  if (!object) {
    object.emplace();
    const std::string* name = image.ObjectFile(f);
    if (name) AppendTsvField(Utf8ToWide(*name), &*object);
  }
  const std::uint32_t file = image.SourceFileIndex(*found);
  const std::string* source = nullptr;
  if (file != ModuleLineTable::kNoFile) {
    std::vector<std::optional<std::string>>& texts = sourceTexts_[module];
    const ModuleLineTable& lines = image.ModuleLines(module);
    if (texts.empty()) texts.resize(lines.fileCount());
    std::optional<std::string>& text = texts[file];
    if (!text) {
      text.emplace();
      AppendTsvField(lines.file(file), &*text);
    }
    source = &*text;
  }

  const std::optional<std::uint32_t> rva = image.Rva(f);
  if (!rva) return false;
  const std::uint64_t start = image.loadAddress() + *rva;
  if (va < start) return false;

  AppendAddress(va, out);
  out->push_back('\t');
  AppendTsvUtf8(f.name(), f.nameLength(), out);
  out->push_back('\t');
  AppendAddress(start, out);
  out->push_back('\t');
  AppendHex(va - start, out);
  out->push_back('\t');
  if (source) out->append(*source);
  out->push_back('\t');
  out->append(*object);
  out->push_back('\n');
  return true;
}

namespace {

// The usual batch line, [0x]HEXDIGITS and nothing else with at most 16
// significant digits, read directly; the address rule reads it the same
// way, only slower. Anything else goes to the rule itself.
bool ReadPlainHex(const char* text, std::size_t size, std::uint64_t* value) {
  std::size_t i = 0;
  if (size >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) i = 2;
  if (i == size) return false;
  while (i + 1 < size && text[i] == '0') ++i;
  if (size - i > 16) return false;
  std::uint64_t v = 0;
  for (; i < size; ++i) {
    const char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return false;
    }
    v = v << 4 | digit;
  }
  *value = v;
  return true;
}

}  // namespace

std::uint64_t ReadAddressText(const char* text, std::size_t size) {
  std::uint64_t value = 0;
  if (ReadPlainHex(text, size, &value)) return value;
  return ReadAddress(Utf8ToWide(text, size));
}

void AddressAnswerer::AnswerText(const char* text, std::size_t size, std::string* out) {
  Answer(ReadAddressText(text, size), out);
}

void AddressAnswerer::Answer(std::uint64_t va, std::string* out) {
  if (image_ && AnswerFromImage(va, out)) return;
  SymbolRef symbol;
  session_->findSymbolByVA(va, SymTagFunction, &symbol);
  bool isPublic = false;
  if (!symbol && publics_) {
    session_->findSymbolByVA(va, SymTagPublicSymbol, &symbol);
    isPublic = symbol != nullptr;
  }
  std::uint64_t start = 0;
  if (symbol && symbol->get_virtualAddress(&start) != S_OK) symbol.reset();
  if (!symbol || va < start) {
    if (format_ == OutputFormat::kJson) {
      Json line = Json::object();
      line["address"] = [&] { std::string s; AppendAddress(va, &s); return s; }();
      line["name"] = nullptr;
      AppendJsonLine(line, out);
      return;
    }
    AppendAddress(va, out);
    out->append("\t??\n");
    return;
  }

  const std::uint64_t offset = va - start;
  name_.clear();
  source_.clear();
  object_.clear();
  symbol->get_name(&name_);
  symbol->get_sourceFileName(&source_);
  symbol->get_objectFileName(&object_);

  if (format_ == OutputFormat::kJson) {
    Json line = Json::object();
    std::string text;
    AppendAddress(va, &text);
    line["address"] = text;
    line["name"] = WideToUtf8(name_);
    line["type"] = WideToUtf8(SymTagName(isPublic ? SymTagPublicSymbol : SymTagFunction));
    text.clear();
    AppendAddress(start, &text);
    line["start"] = text;
    line["offset"] = offset;
    line["source"] = WideToUtf8(source_);
    line["object"] = WideToUtf8(object_);
    AppendJsonLine(line, out);
    return;
  }
  AppendAddress(va, out);
  out->push_back('\t');
  AppendTsvField(name_, out);
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
  AppendTsvField(source_, out);
  out->push_back('\t');
  AppendTsvField(object_, out);
  out->push_back('\n');
}

}  // namespace sorvanta
