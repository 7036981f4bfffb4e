#include "SymbolWorkout.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DiaSymbol.h"
#include "FrameFinder.h"
#include "FrameOutput.h"
#include "IDiaEnumSymbols.h"
#include "IDiaSymbol.h"
#include "NameMatch.h"
#include "PdbDataSource.h"
#include "PdbImage.h"
#include "QueryOutput.h"
#include "QueryProgram.h"
#include "SymTag.h"
#include "TextBuffer.h"
#include "Utf8.h"

namespace sorvanta {

namespace {

constexpr std::size_t kSymbolsRead = 300;

void ReadEverything(IDiaSymbol& symbol) {
  std::wstring text;
  std::uint32_t tag = 0;
  std::uint64_t value = 0;
  symbol.get_name(&text);
  symbol.get_symTag(&tag);
  symbol.get_virtualAddress(&value);
  symbol.get_length(&value);
  symbol.get_sourceFileName(&text);
  symbol.get_objectFileName(&text);
}

// The file read again with its public symbols (what sorvanta-query
// --publics does): list them, search one by name, find the nearest ones.
void WorkOutPublics(const std::string& path, std::uint64_t seed) {
  PdbDataSource source(LoadOptions{true});
  DiaRef<IDiaSession> session;
  if (Failed(source.loadDataFromPdb(Utf8ToWide(path))) || Failed(source.openSession(&session))) return;
  DiaRef<IDiaSymbol> scope;
  session->get_globalScope(&scope);
  DiaRef<IDiaEnumSymbols> publics;
  if (scope) scope->findChildren(SymTagPublicSymbol, nullptr, nsNone, &publics);
  SymbolList listed;
  SymbolRef item;
  std::uint32_t fetched = 0;
  while (publics && listed.size() < kSymbolsRead && Succeeded(publics->Next(1, &item, &fetched)) &&
         fetched == 1) {
    ReadEverything(*item);
    listed.push_back(std::move(item));
  }
  if (!listed.empty()) {
    std::wstring name;
    listed[seed % listed.size()]->get_name(&name);
    DiaRef<IDiaEnumSymbols> found;
    scope->findChildren(SymTagPublicSymbol, &name, nsfCaseInsensitive, &found);
  }
  const std::uint64_t addresses[] = {0, 0x1000, seed, seed >> 16, ~std::uint64_t{0}};
  for (const std::uint64_t va : addresses) {
    SymbolRef nearest;
    session->findSymbolByVA(va, SymTagPublicSymbol, &nearest);
    if (nearest) ReadEverything(*nearest);
  }
  session->put_loadAddress(~0ull - (seed & 0xFFFF));
  for (const SymbolRef& s : listed) ReadEverything(*s);
}

// A regex that matches text literally: ASCII punctuation escaped, other
// bytes as they are (the matcher reads bytes that start no valid sequence
// as U+FFFD, in the pattern as in the names).
std::string LiteralRegex(std::string_view text) {
  std::string regex;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      const char hex[] = "0123456789abcdef";
      regex += "\\x";
      regex += hex[u >> 4];
      regex += hex[u & 0xF];
      continue;
    }
    if (u < 0x80 && !std::isalnum(u) && c != '_') regex += '\\';
    regex += c;
  }
  return regex;
}

// A piece of name from about its middle, up to 16 bytes.
std::string_view Middle(std::string_view name, std::uint64_t seed) {
  if (name.empty()) return name;
  const std::size_t at = (name.size() / 2) % name.size();
  return name.substr(at, 1 + seed % 16);
}

// What sorvanta-query does with the file: list every function and the
// publics in TSV and JSON, filter the names in each match mode with a
// pattern made from a listed name, and answer addresses with and without
// the publics. The text is dropped as it is made.
void WorkOutQuery(const std::string& path, std::uint64_t seed) {
  std::shared_ptr<PdbImage> image;
  if (Failed(OpenPdb(path, true, &image))) return;
  TextBuffer text;
  const auto functions = static_cast<std::uint32_t>(image->functionCount());
  const OutputFormat formats[] = {OutputFormat::kTsv, OutputFormat::kJson};
  for (const OutputFormat format : formats) {
    AppendFunctionLines(*image, nullptr, format, 0, functions, &text);
    text.clear();
    std::string scratch;
    const auto publics = static_cast<std::uint32_t>(std::min<std::size_t>(image->publicCount(), kSymbolsRead));
    for (std::uint32_t i = 0; i < publics; ++i) {
      AppendPublicLine(*image, i, format, &scratch, &text);
      text.clear();
    }
  }

  if (functions > 0) {
    const std::string_view name = image->FunctionName(static_cast<std::uint32_t>(seed % functions));
    const std::string_view piece = Middle(name, seed);
    for (const std::uint32_t i : image->FindFunctions(name, true)) {
      AppendFunctionLine(*image, i, OutputFormat::kTsv, &text);
    }
    text.clear();
    const std::pair<MatchMode, std::string> patterns[] = {
        {MatchMode::kSubstring, std::string(piece)},
        {MatchMode::kGlob, "*" + std::string(piece) + "*?"},
        {MatchMode::kGlob, std::string(name)},
        {MatchMode::kRegex, LiteralRegex(piece)},
        {MatchMode::kRegex, "^" + LiteralRegex(name) + "$"},
    };
    for (const auto& [mode, pattern] : patterns) {
      std::string error;
      const std::optional<NameMatcher> matcher = NameMatcher::Make(mode, pattern, &error);
      if (!matcher) continue;
      AppendFunctionLines(*image, &*matcher, formats[seed % 2], 0, functions, &text);
      text.clear();
    }
  }

  const char* const typed[] = {"401000", "0x1010", "1010h", "0X7FFFFFFF", "ffffffffffffffff", "zz", ""};
  for (const bool withPublics : {false, true}) {
    AddressAnswerer answerer(image, withPublics, formats[withPublics]);
    for (const char* t : typed) answerer.AnswerText(t, &text);
    for (std::uint32_t i = 0; i < functions && i < kSymbolsRead; i += 7) {
      if (const std::optional<std::uint64_t> va = image->FunctionAddress(i)) {
        answerer.Answer(*va + seed % 64, &text);
      }
    }
    for (std::uint32_t i = 0; i < image->publicCount() && i < kSymbolsRead; i += 7) {
      if (const std::optional<std::uint64_t> va = image->PublicAddress(i)) answerer.Answer(*va + 1, &text);
    }
    answerer.Answer(seed, &text);
    text.clear();
  }
  if (Succeeded(image->SetLoadAddress(seed & ~0xFFFull))) {
    AddressAnswerer answerer(image, true, OutputFormat::kTsv);
    answerer.Answer(seed, &text);
    AppendFunctionLines(*image, nullptr, OutputFormat::kJson, 0, std::min(functions, 64u), &text);
  }
}

// What sorvanta-query symbolize does: the file read with its line and
// inline facts, and the frames at the first, middle, last and past-the-end
// byte of some functions, and at a few other addresses, written in every
// output style.
void WorkOutFrames(const std::string& path, std::uint64_t seed) {
  LoadOptions options = PdbImage::DefaultLoadOptions();
  options.publics = true;
  options.lines = true;
  options.publicNames = DemangleStyle::kSymbolizer;
  std::shared_ptr<PdbImage> image;
  if (Failed(PdbImage::Load(path, options, &image))) return;
  FrameFinder finder(*image);
  std::vector<Frame> frames;
  TextBuffer text;
  const OutputStyle styles[] = {OutputStyle::kLlvm, OutputStyle::kGnu, OutputStyle::kJson};
  auto answer = [&](std::uint64_t va) {
    const OutputStyle style = styles[(va ^ seed) % 3];
    finder.FramesAt(va, FrameFinder::Wanted{(va & 1) == 0, style == OutputStyle::kJson}, &frames);
    AppendFrames(style, va, path, frames, &text);
    text.clear();
  };
  const auto functions = static_cast<std::uint32_t>(image->functionCount());
  for (std::uint32_t i = 0; i < functions && i < kSymbolsRead; ++i) {
    const std::optional<std::uint64_t> va = image->FunctionAddress(i);
    if (!va) continue;
    const std::uint32_t length = image->FunctionLength(i);
    for (const std::uint64_t offset : {std::uint64_t{0}, std::uint64_t{length / 2},
                                       std::uint64_t{length} - 1, std::uint64_t{length}, seed % 97}) {
      answer(*va + offset);
    }
  }
  for (const std::uint64_t va : {std::uint64_t{0}, std::uint64_t{0x1000}, seed, seed >> 20, ~std::uint64_t{0}}) {
    answer(va);
  }
}

}  // namespace

std::size_t WorkOutSymbolFile(const std::string& path, std::uint64_t seed) {
  DiaSymbol dia;
  if (!dia.Open(Utf8ToWide(path))) return 0;

  const SymbolList all = dia.FindFunctionsByName(L"");
  const std::size_t count = std::min(all.size(), kSymbolsRead);
  for (std::size_t i = 0; i < count; ++i) ReadEverything(*all[i]);

  // A name that exists (when any does), case changed, and one that does not.
  if (!all.empty()) {
    std::wstring name;
    all[seed % all.size()]->get_name(&name);
    for (wchar_t& c : name) c = static_cast<wchar_t>(FoldCase(static_cast<char32_t>(c)));
    dia.FindFunctionsByName(name);
  }
  dia.FindFunctionsByName(L"\u00DCBER::STRA\u1E9EE");

  // Addresses around the listed functions and a few from the seed.
  std::uint64_t addresses[] = {0, 0x1000, seed, seed >> 16, ~0ull, 0x401000};
  for (std::uint64_t va : addresses) {
    if (SymbolRef s = dia.FindFunctionByVA(va)) ReadEverything(*s);
  }
  for (std::size_t i = 0; i < count; i += 17) {
    std::uint64_t va = 0;
    if (Succeeded(all[i]->get_virtualAddress(&va))) {
      if (SymbolRef s = dia.FindFunctionByVA(va)) ReadEverything(*s);
    }
  }

  dia.session->put_loadAddress(seed | 0x400000);
  dia.session->put_loadAddress(~0ull - (seed & 0xFFFF));
  for (std::size_t i = 0; i < count; ++i) ReadEverything(*all[i]);

  // Dropping the session (a failed open does) must leave the symbols readable.
  dia.Open(L"");
  for (std::size_t i = 0; i < count; ++i) ReadEverything(*all[i]);

  WorkOutPublics(path, seed);
  WorkOutQuery(path, seed);
  WorkOutFrames(path, seed);
  return all.size();
}

}  // namespace sorvanta
