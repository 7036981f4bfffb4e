#include "QueryProgram.h"

#include <CLI/CLI.hpp>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <new>
#include <optional>
#include <vector>

#include "AddressRule.h"
#include "IDiaEnumSymbols.h"
#include "NameMatch.h"
#include "PdbDataSource.h"
#include "QueryOutput.h"
#include "SymTag.h"
#include "Utf8.h"

#ifndef SORVANTA_VERSION
#error "SORVANTA_VERSION must be defined by the build"
#endif

namespace sorvanta {

namespace {

constexpr const char* kProgram = "sorvanta-query";

constexpr const char* kUsage =
    "usage: sorvanta-query list FILE.pdb [--name NAME] [--match exact|substring|glob|regex]\n"
    "                           [--base ADDR] [--format tsv|json] [--publics]\n"
    "       sorvanta-query addr FILE.pdb [--base ADDR] [--format tsv|json] [--publics] [ADDR...]\n"
    "       sorvanta-query --help | --version\n";

// The superblock's first bytes in every PDB (MSF 7.0) file.
constexpr char kMsfMagic[] = "Microsoft C/C++ MSF 7.00\r\n\x1a" "DS";

bool StartsWithMsfMagic(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char head[sizeof(kMsfMagic) - 1] = {};
  in.read(head, sizeof(head));
  return in.gcount() == static_cast<std::streamsize>(sizeof(head)) &&
         std::memcmp(head, kMsfMagic, sizeof(head)) == 0;
}

struct Options {
  std::string file;
  bool publics = false;
  std::string base;
  std::string format = "tsv";
  // list
  std::optional<std::string> name;
  std::string match = "exact";
  // addr
  std::vector<std::string> addresses;
};

int Usage(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n%s", kProgram, message.c_str(), kUsage);
  return kExitUsage;
}

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
int Prepare(const Options& o, DiaRef<IDiaSession>* session) {
  const HRESULT opened = OpenPdb(o.file, o.publics, session);
  if (Failed(opened)) {
    std::fprintf(stderr, "%s: cannot open %s: %s\n", kProgram, o.file.c_str(),
                 OpenFailureReason(opened, o.file).c_str());
    return kExitCannotOpen;
  }
  // The window's rule: a base that reads as 0 leaves the image's own.
  const std::uint64_t base = ReadAddress(Utf8ToWide(o.base));
  if (base != 0 && Failed((*session)->put_loadAddress(base))) {
    return Usage("base address " + o.base + " would put some function past 64 bits");
  }
  return kExitOk;
}

// Streams every symbol of the enumeration that passes the filter.
void ListAll(IDiaEnumSymbols* symbols, const std::optional<NameMatcher>& filter,
             OutputFormat format, Output& out) {
  if (!symbols) return;
  SymbolRef item;
  std::uint32_t fetched = 0;
  std::wstring name;
  while (Succeeded(symbols->Next(1, &item, &fetched)) && fetched == 1) {
    if (item) {
      name.clear();
      if (!filter || (item->get_name(&name), filter->Matches(name))) {
        AppendListLine(*item, format, &out.buffer());
        out.EndRecord();
      }
    }
    item.reset();
  }
}

// Runs work on a thread with a large stack, or here when no such thread
// can be made. The regex engine recurses once per character for patterns
// such as (a|b)*: a name of 60,000 characters, which a crafted file can
// hold, overflows the usual 8 MiB stack. The stack's pages are only
// committed as they are touched.
int RunWithLargeStack(int (*work)(const Options&), const Options& o) {
  struct Call {
    int (*work)(const Options&);
    const Options* options;
    int status;
  } call{work, &o, kExitOk};
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return work(o);
  pthread_t thread;
  const bool started =
      pthread_attr_setstacksize(&attributes, std::size_t{512} << 20) == 0 &&
      pthread_create(&thread, &attributes, [](void* p) -> void* {
        auto* c = static_cast<Call*>(p);
        try {
          c->status = c->work(*c->options);
        } catch (const std::bad_alloc&) {
          std::fprintf(stderr, "%s: out of memory\n", kProgram);
          c->status = kExitOutputFailed;
        } catch (const std::regex_error& e) {
          std::fprintf(stderr, "%s: the regex failed on a name: %s\n", kProgram, e.what());
          c->status = kExitOutputFailed;
        }
        return nullptr;
      }, &call) == 0;
  pthread_attr_destroy(&attributes);
  if (!started) return work(o);
  pthread_join(thread, nullptr);
  return call.status;
}

int RunList(const Options& o) {
  const MatchMode mode = MatchOf(o.match);
  std::optional<NameMatcher> filter;
  if (o.name && mode != MatchMode::kExact) {
    std::string error;
    filter = NameMatcher::Make(mode, Utf8ToWide(*o.name), &error);
    if (!filter) return Usage("--name is no valid regex: " + error);
  }

  DiaRef<IDiaSession> session;
  if (const int status = Prepare(o, &session); status != kExitOk) return status;
  DiaRef<IDiaSymbol> scope;
  session->get_globalScope(&scope);

  Output out(stdout);
  // Exact matching is the window's own search: the name goes to the symbol
  // component as typed, compared without regard to case; no name (or an
  // empty one) lists everything.
  const std::wstring exact = o.name && mode == MatchMode::kExact ? Utf8ToWide(*o.name) : L"";
  const std::wstring* query = exact.empty() ? nullptr : &exact;
  const std::uint32_t flags = nsfCaseInsensitive | nsfUndecoratedName;
  std::vector<std::uint32_t> tags{SymTagFunction};
  if (o.publics) tags.push_back(SymTagPublicSymbol);
  for (const std::uint32_t tag : tags) {
    DiaRef<IDiaEnumSymbols> symbols;
    if (scope) scope->findChildren(tag, query, flags, &symbols);
    ListAll(symbols.get(), filter, FormatOf(o), out);
  }
  return out.Flush() ? kExitOk : kExitOutputFailed;
}

bool IsRegularFile(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

// Reads addresses from stdin, one per line, and answers each. Everything
// answered is written out before the program waits for more input unless
// stdin is a regular file, so a caller that writes one line and waits
// (a coprocess) gets its answer at once, while a large batch still goes
// out in large writes.
bool AnswerStdin(AddressAnswerer& answerer, Output& out) {
  const bool flushBeforeWaiting = !IsRegularFile(STDIN_FILENO);
  std::vector<char> chunk(1 << 16);
  std::string pending;  // an unfinished line
  for (;;) {
    const ssize_t got = ::read(STDIN_FILENO, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      out.Flush();
      std::fprintf(stderr, "%s: cannot read standard input: %s\n", kProgram, std::strerror(errno));
      return false;
    }
    if (got == 0) break;  // end of input
    const char* p = chunk.data();
    const char* end = p + got;
    while (p < end) {
      const char* newline = static_cast<const char*>(std::memchr(p, '\n', end - p));
      if (!newline) {
        pending.append(p, end);
        break;
      }
      const char* text = p;
      std::size_t size = newline - p;
      if (!pending.empty()) {
        pending.append(p, size);
        text = pending.data();
        size = pending.size();
      }
      if (size > 0 && text[size - 1] == '\r') --size;
      answerer.AnswerText(text, size, &out.buffer());
      out.EndRecord();
      pending.clear();
      p = newline + 1;
    }
    if (flushBeforeWaiting && !out.Flush()) return false;
    if (out.failed()) return false;
  }
  if (!pending.empty()) {
    std::size_t size = pending.size();
    if (pending[size - 1] == '\r') --size;
    answerer.AnswerText(pending.data(), size, &out.buffer());
  }
  return out.Flush();
}

int RunAddr(const Options& o) {
  DiaRef<IDiaSession> session;
  if (const int status = Prepare(o, &session); status != kExitOk) return status;
  AddressAnswerer answerer(session, o.publics, FormatOf(o));
  Output out(stdout);
  if (o.addresses.empty()) return AnswerStdin(answerer, out) ? kExitOk : kExitOutputFailed;
  for (const std::string& address : o.addresses) {
    answerer.AnswerText(address.data(), address.size(), &out.buffer());
    out.EndRecord();
  }
  return out.Flush() ? kExitOk : kExitOutputFailed;
}

}  // namespace

HRESULT OpenPdb(const std::string& path, bool publics, DiaRef<IDiaSession>* session) {
  session->reset();
  try {
    auto source = std::make_shared<PdbDataSource>(LoadOptions{publics});
    const HRESULT loaded = source->loadDataFromPdb(Utf8ToWide(path));
    if (Failed(loaded)) return loaded;
    return source->openSession(session);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

std::string OpenFailureReason(HRESULT result, const std::string& path) {
  switch (result) {
    case E_PDB_NOT_FOUND:
      return "no such file";
    case E_INVALIDARG:
      return "not a regular file";
    case E_OUTOFMEMORY:
      return "out of memory";
    case E_PDB_FORMAT:
      // The symbol component has one code for both; the file's first bytes
      // tell a PDB that is damaged from a file that is none.
      return StartsWithMsfMagic(path) ? "damaged PDB file" : "not a PDB file";
    default:
      return std::string("read error: ") + std::strerror(errno ? errno : EIO);
  }
}

int RunQuery(int argc, char** argv) {
  Options o;
  CLI::App app("Lists the functions of a Windows PDB file and finds the function at an address.",
               kProgram);
  app.set_version_flag("--version", std::string(kProgram) + " " + SORVANTA_VERSION);
  app.require_subcommand(1, 1);
  app.footer(
      "Addresses are hexadecimal (401000, 0x401000, 401000h), read as the window reads them.\n"
      "Exit status: 0 when every query ran, 2 for bad usage, 3 when the file cannot be opened.");

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
                   "(ECMAScript); case never matters")
      ->check(CLI::IsMember({"exact", "substring", "glob", "regex"}));
  CLI::App* addr = app.add_subcommand(
      "addr", "Print the function that holds each address (from stdin, one per line, when none "
              "are given): address, name, start, offset, source file, object file; ?? for none.");
  addCommon(addr);
  addr->add_option("addresses", o.addresses, "hexadecimal addresses");

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e, std::cout, std::cerr);  // --help, --version
  } catch (const CLI::ParseError& e) {
    return Usage(e.what());
  }

  try {
    if (list->parsed()) {
      return MatchOf(o.match) == MatchMode::kRegex ? RunWithLargeStack(RunList, o) : RunList(o);
    }
    return RunAddr(o);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: out of memory\n", kProgram);
    return kExitOutputFailed;
  } catch (const std::regex_error& e) {
    std::fprintf(stderr, "%s: the regex failed on a name: %s\n", kProgram, e.what());
    return kExitOutputFailed;
  }
}

}  // namespace sorvanta
