#include "QueryProgram.h"

#include <CLI/CLI.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <iostream>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "AddressBatch.h"
#include "AddressText.h"
#include "InputLines.h"
#include "NameMatch.h"
#include "OrderedWriter.h"
#include "PdbImage.h"
#include "QueryOutput.h"
#include "Symbolize.h"

#ifndef SORVANTA_VERSION
#error "SORVANTA_VERSION must be defined by the build"
#endif

namespace sorvanta {

namespace {

constexpr const char* kProgram = "sorvanta-query";
// Functions listed by one thread at a time: up to 8192, and about a
// megabyte of stored text, so that a file of long names or paths cannot
// make a chunk's text large.
constexpr std::size_t kFunctionsPerChunk = 8192;
constexpr std::size_t kBytesPerChunk = std::size_t{1} << 20;

constexpr const char* kUsage =
    "usage: sorvanta-query list FILE.pdb [--name NAME] [--match exact|substring|glob|regex]\n"
    "                           [--base ADDR] [--format tsv|json] [--publics]\n"
    "       sorvanta-query addr FILE.pdb [--base ADDR] [--format tsv|json] [--publics] [ADDR...]\n"
    "       sorvanta-query symbolize FILE [--output-style LLVM|GNU|JSON] [--no-inlines]\n"
    "                           [--relative-address] [--base ADDR] [--symbol-path DIR]...\n"
    "                           [--ignore-mismatch] [ADDR...]\n"
    "       sorvanta-query --help | --version\n";

struct Options {
  std::string file;
  bool publics = false;
  std::optional<std::string> base;
  std::string format = "tsv";
  // list
  std::optional<std::string> name;
  std::string match = "exact";
  // addr
  std::vector<std::string> addresses;
};

OutputFormat FormatOf(const Options& o) {
  return o.format == "json" ? OutputFormat::kJson : OutputFormat::kTsv;
}

MatchMode MatchOf(const std::string& text) {
  if (text == "substring") return MatchMode::kSubstring;
  if (text == "glob") return MatchMode::kGlob;
  if (text == "regex") return MatchMode::kRegex;
  return MatchMode::kExact;
}

// Opens the file and sets the base. Returns an exit status other than
// kExitOk when that failed (the message is written already).
int Prepare(const Options& o, std::shared_ptr<PdbImage>* image) {
  const HRESULT opened = OpenPdb(o.file, o.publics, image);
  if (Failed(opened)) {
    std::fprintf(stderr, "%s: cannot open %s: %s\n", kProgram, o.file.c_str(),
                 OpenFailureReason(opened).c_str());
    return kExitCannotOpen;
  }
  // Publics that cannot be read are an error, never an empty list.
  if (o.publics && Failed((*image)->publicsStatus())) {
    std::fprintf(stderr, "%s: cannot read the public symbols of %s: %s\n", kProgram, o.file.c_str(),
                 OpenFailureReason((*image)->publicsStatus()).c_str());
    return kExitCannotOpen;
  }
  if (!o.base) return kExitOk;
  std::uint64_t base = 0;
  if (!ParseAddress(*o.base, &base)) return Usage("--base " + *o.base + " is not an address");
  if (Failed((*image)->SetLoadAddress(base))) {
    return Usage("base address " + *o.base + " would put some function past 64 bits");
  }
  return kExitOk;
}

// Where each chunk of the listing ends: after kFunctionsPerChunk
// functions, or once their names, source and object files pass
// kBytesPerChunk (a line's text is at most a few times those).
std::vector<std::size_t> ChunkEnds(const PdbImage& image) {
  std::vector<std::size_t> ends;
  std::size_t functions = 0;
  std::size_t bytes = 0;
  for (std::uint32_t i = 0; i < image.functionCount(); ++i) {
    ++functions;
    bytes += 64 + image.FunctionName(i).size() + image.SourceFile(i).size() + image.ObjectFile(i).size();
    if (functions == kFunctionsPerChunk || bytes >= kBytesPerChunk) {
      ends.push_back(i + std::size_t{1});
      functions = bytes = 0;
    }
  }
  if (functions > 0) ends.push_back(image.functionCount());
  return ends;
}

int RunList(const Options& o) {
  const MatchMode mode = MatchOf(o.match);
  std::optional<NameMatcher> filter;
  if (o.name && mode != MatchMode::kExact) {
    std::string error;
    filter = NameMatcher::Make(mode, *o.name, &error);
    if (!filter) return Usage("--name is no valid regex: " + error);
  }

  std::shared_ptr<PdbImage> image;
  if (const int status = Prepare(o, &image); status != kExitOk) return status;

  Output out(stdout);
  const OutputFormat format = FormatOf(o);
  // Exact matching is the window's own search: the name as typed, compared
  // without regard to case; no name (or an empty one) lists everything.
  const bool exact = o.name && mode == MatchMode::kExact && !o.name->empty();
  if (exact) {
    for (const std::uint32_t i : image->FindFunctions(*o.name, true)) {
      AppendFunctionLine(*image, i, format, &out.buffer());
      out.EndRecord();
    }
  } else {
    // Every function, or each that passes the filter: in chunks on every
    // core, written in order.
    const NameMatcher* matcher = filter ? &*filter : nullptr;
    const bool written = WriteChunksInOrder(
        ChunkEnds(*image), std::thread::hardware_concurrency(),
        [&](std::size_t begin, std::size_t end, TextBuffer* text) {
          AppendFunctionLines(*image, matcher, format, static_cast<std::uint32_t>(begin),
                              static_cast<std::uint32_t>(end), text);
        },
        out);
    if (!written) return kExitOutputFailed;
  }
  if (o.publics) {
    std::string scratch;
    auto listPublic = [&](std::uint32_t i) {
      if (filter && !filter->Matches(image->PublicName(i, &scratch))) return;
      AppendPublicLine(*image, i, format, &scratch, &out.buffer());
      out.EndRecord();
    };
    if (exact) {
      for (const std::uint32_t i : image->FindPublics(*o.name, true)) listPublic(i);
    } else {
      for (std::uint32_t i = 0; i < image->publicCount(); ++i) listPublic(i);
    }
  }
  return out.Flush() ? kExitOk : kExitOutputFailed;
}

int RunAddr(const Options& o) {
  std::shared_ptr<PdbImage> image;
  if (const int status = Prepare(o, &image); status != kExitOk) return status;
  AddressAnswerer answerer(image, o.publics, FormatOf(o));
  Output out(stdout);
  bool written;
  if (o.addresses.empty()) {
    // One answerer for each thread that answers.
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    // A cache line each, as each thread writes its own all the time.
    struct alignas(64) Other {
      Other(std::shared_ptr<PdbImage> image, bool publics, OutputFormat format)
          : answerer(std::move(image), publics, format) {}
      AddressAnswerer answerer;
    };
    std::deque<Other> others;
    std::vector<AddressBatch::Answer> answering = {
        [&](std::uint64_t va, TextBuffer* text) { answerer.Answer(va, text); }};
    while (answering.size() < threads) {
      AddressAnswerer& other = others.emplace_back(image, o.publics, FormatOf(o)).answerer;
      answering.push_back([&other](std::uint64_t va, TextBuffer* text) { other.Answer(va, text); });
    }
    AddressBatch batch(std::move(answering),
                       [&](std::string_view line, TextBuffer* text) { answerer.AnswerNotAnAddress(line, text); },
                       AddressBatch::HeldLimitFor(image->functionCount()),
                       [&image] { image->PrepareConcurrentLookups(); });
    written = AnswerLineBatches(
        out, [&](const std::vector<std::string_view>& lines, Output& batchOut) { batch.AnswerAll(lines, batchOut); });
  } else {
    for (const std::string& address : o.addresses) {
      answerer.AnswerText(address, &out.buffer());
      out.EndRecord();
    }
    written = out.Flush();
  }
  if (!written) return kExitOutputFailed;
  return answerer.allAddresses() ? kExitOk : kExitOutputFailed;
}

}  // namespace

int Usage(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n%s", kProgram, message.c_str(), kUsage);
  return kExitUsage;
}

HRESULT OpenPdb(const std::string& path, bool publics, std::shared_ptr<PdbImage>* image) {
  LoadOptions options = PdbImage::DefaultLoadOptions();
  options.publics = publics;
  return PdbImage::Load(path, options, image);
}

std::string OpenFailureReason(HRESULT result) {
  switch (result) {
    case E_PDB_NOT_FOUND:
      return "no such file";
    case E_INVALIDARG:
      return "not a regular file";
    case E_OUTOFMEMORY:
      return "out of memory";
    case E_PDB_FORMAT:
      return "not a PDB file";
    case E_PDB_CORRUPT:
      return "damaged PDB file";
    case E_FILE_CHANGED:
      return "the file changed on disk while it was read";
    default:
      if (const int error = ErrnoOf(result)) return std::strerror(error);
      return "read error";
  }
}

int RunQuery(int argc, char** argv) {
  Options o;
  CLI::App app("Lists the functions of a Windows PDB file and finds the function at an address.",
               kProgram);
  app.set_version_flag("--version", std::string(kProgram) + " " + SORVANTA_VERSION);
  app.require_subcommand(1, 1);
  app.footer(
      "Addresses are hexadecimal: 401000, 0x401000 or 401000h.\n"
      "Exit status: 0 when every query ran, 1 when an input line was no address or the output\n"
      "failed, 2 for bad usage, 3 when the file cannot be opened or symbolized.");

  const std::vector<std::string> formats{"tsv", "json"};
  auto addCommon = [&](CLI::App* command) {
    command->add_option("file", o.file, "the PDB file")->required();
    command->add_option("--base", o.base, "load address the virtual addresses are computed from");
    command->add_option("--format", o.format, "tsv (default) or json: one object per line")
        ->check(CLI::IsMember(formats));
    command->add_flag("--publics", o.publics,
                      "also use the public symbols that mark functions (stripped PDBs)");
  };
  CLI::App* list = app.add_subcommand(
      "list", "Print every function (matching --name), one per line: name, type, address, "
              "length, source file, object file.");
  addCommon(list);
  list->add_option("--name", o.name, "the name to look for");
  list->add_option("--match", o.match,
                   "exact (default; the window's search), substring, glob (* and ?) or regex "
                   "(RE2 syntax); case never matters")
      ->check(CLI::IsMember({"exact", "substring", "glob", "regex"}));
  CLI::App* addr = app.add_subcommand(
      "addr", "Print the function that holds each address (from stdin, one per line, when none "
              "are given): address, name, start, offset, source file, object file; ?? for none.");
  addCommon(addr);
  addr->add_option("addresses", o.addresses, "hexadecimal addresses");

  SymbolizeOptions symbols;
  std::string style = "LLVM";
  bool noInlines = false;
  CLI::App* symbolize = app.add_subcommand(
      "symbolize", "Print the frames at each address (from stdin, one per line, when none are "
                   "given): the function, its source line and the calls inlined there, as "
                   "llvm-symbolizer does. FILE is a PDB, or an image (exe, dll, sys, node) whose "
                   "PDB is found beside it, at its recorded path or in the symbol paths.");
  symbolize->add_option("file", symbols.file, "a PDB file, or a Windows image")->required();
  symbolize->add_option("addresses", symbols.addresses, "hexadecimal addresses");
  symbolize->add_option("--output-style", style, "LLVM (default), GNU (addr2line -f -i) or JSON")
      ->check(CLI::IsMember({"LLVM", "GNU", "JSON"}));
  symbolize->add_flag("--no-inlines", noInlines, "one frame per address: the function itself");
  symbolize->add_flag("--relative-address", symbols.relative,
                      "addresses are relative to the image's base, not virtual addresses");
  symbolize->add_option("--base", symbols.base, "the load address, instead of the image's preferred base");
  symbolize->add_option("--symbol-path", symbols.symbolPaths,
                        "a folder to look for the image's PDB in, flat or as a symbol store; "
                        "repeatable (then the folders of _NT_SYMBOL_PATH)")
      ->allow_extra_args(false);  // one folder each time: the file and addresses follow
  symbolize->add_flag("--ignore-mismatch", symbols.ignoreMismatch,
                      "take the first PDB found even when its GUID and age are not the image's");

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e, std::cout, std::cerr);  // --help, --version
  } catch (const CLI::ParseError& e) {
    return Usage(e.what());
  }

  try {
    if (symbolize->parsed()) {
      symbols.style = style == "GNU" ? OutputStyle::kGnu : style == "JSON" ? OutputStyle::kJson : OutputStyle::kLlvm;
      symbols.inlines = !noInlines;
      return RunSymbolize(symbols);
    }
    return list->parsed() ? RunList(o) : RunAddr(o);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: out of memory\n", kProgram);
    return kExitOutputFailed;
  }
}

}  // namespace sorvanta
