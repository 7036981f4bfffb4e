// Benchmarks of what a user waits for on a huge PDB: opening it and listing
// every function, searching by name, looking up addresses, showing a page,
// and rebuilding the result list on the real widgets.
//
//   sorvanta_bench --pdb=PATH [--pdb=PATH ...] [--sparse=PATH ...] [google benchmark flags]
//   sorvanta_bench --write-sparse=FIXTURE OUT
//                  (FIXTURE's streams behind 4.5 GiB of type-stream holes)
//   sorvanta_bench [--threads=N] --memory=PATH
//                  (peak memory after open + list all, with N loader threads)
//   sorvanta_bench [--threads=N] --fresh=MEASURE --pdb=PATH
//                  (one measurement, timed inside this fresh process, as
//                  JSON: floor, open_list_refs or open_list_texts)

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QTableWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "AddressText.h"
#include "DiaSymbol.h"
#include "DbiStream.h"
#include "MsfFile.h"
#include "MsfImage.h"
#include "PageBuffer.h"
#include "PdbImage.h"
#include "QtResultView.h"
#include "QueryOutput.h"
#include "QueryProgram.h"
#include "ResultList.h"
#include "ResultView.h"
#include "Utf8.h"

namespace sorvanta {
namespace {

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

using Bytes = std::unique_ptr<char, decltype(&std::free)>;

// Reads the whole file into fresh memory: what any reader that does not
// map the file must pay at least.
Bytes ReadWholeFile(const std::string& path, std::size_t* size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info {};
  ::fstat(fd, &info);
  *size = static_cast<std::size_t>(info.st_size);
  Bytes bytes(static_cast<char*>(std::malloc(*size)), &std::free);
  std::size_t done = 0;
  while (done < *size) {
    const ssize_t n = ::read(fd, bytes.get() + done, *size - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return bytes;
}

void Floor(benchmark::State& state, const std::string& path) {
  std::size_t total = 0;
  for (auto _ : state) {
    Bytes bytes = ReadWholeFile(path, &total);
    benchmark::DoNotOptimize(bytes.get());
    state.PauseTiming();
    bytes.reset();
    state.ResumeTiming();
  }
  state.counters["MB"] = static_cast<double>(total) / 1e6;
}

// Reads the streams a load keeps (info, DBI, section headers, names and
// every module's symbols and lines) into fresh page memory, with nothing
// parsed beyond finding them: what any reader that keeps those bytes pays
// at least. Returns the bytes read.
std::size_t ReadNeededStreams(const std::string& path, PageBuffer* kept) {
  MsfFile file;
  if (Failed(file.Open(path))) return 0;
  std::vector<std::uint32_t> streams{1, 3};
  DbiStream dbi;
  std::vector<std::uint8_t> dbiBytes(file.StreamSize(3));
  if (Failed(file.Claim({3})) || Failed(file.Read(3, 0, dbiBytes.size(), dbiBytes.data())) ||
      Failed(DbiStream::Parse(std::move(dbiBytes), &dbi))) {
    return 0;
  }
  std::uint64_t total = 0;
  std::vector<std::pair<std::uint32_t, std::uint64_t>> wanted;  // stream, bytes
  for (const ModuleDescriptor& m : dbi.modules()) {
    if (m.stream >= file.streamCount()) continue;
    const std::uint64_t size = std::min<std::uint64_t>(
        file.StreamSize(m.stream), std::uint64_t{m.symbolBytes} + m.c11Bytes + m.c13Bytes);
    wanted.emplace_back(m.stream, size);
    total += size;
  }
  std::vector<std::uint32_t> claim;
  for (const auto& w : wanted) claim.push_back(w.first);
  if (Failed(file.Claim(claim)) || !kept->Allocate(total)) return 0;
  std::uint64_t at = 0;
  for (const auto& [stream, size] : wanted) {
    if (Failed(file.Read(stream, 0, size, kept->data() + at))) return 0;
    at += size;
  }
  return static_cast<std::size_t>(total);
}

// The least any reader that does not map the file pays for those streams:
// each thread reads its share of them, in stream order, through one small
// buffer of its own that it reuses, so no fresh page is touched.
std::size_t ReadNeededReused(const std::string& path) {
  MsfFile file;
  if (Failed(file.Open(path))) return 0;
  DbiStream dbi;
  std::vector<std::uint8_t> dbiBytes(file.StreamSize(3));
  if (Failed(file.Claim({3})) || Failed(file.Read(3, 0, dbiBytes.size(), dbiBytes.data())) ||
      Failed(DbiStream::Parse(std::move(dbiBytes), &dbi))) {
    return 0;
  }
  std::vector<std::pair<std::uint32_t, std::uint64_t>> wanted;  // stream, bytes
  std::vector<std::uint32_t> claim;
  for (const ModuleDescriptor& m : dbi.modules()) {
    if (m.stream >= file.streamCount()) continue;
    wanted.emplace_back(m.stream, std::min<std::uint64_t>(file.StreamSize(m.stream),
                                                          std::uint64_t{m.symbolBytes} + m.c11Bytes + m.c13Bytes));
    claim.push_back(m.stream);
  }
  if (Failed(file.Claim(claim))) return 0;
  unsigned threads = PdbImage::DefaultLoadOptions().threads;
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::uint64_t> done(threads);
  auto share = [&](unsigned t) {
    std::vector<std::uint8_t> buffer;
    const std::size_t first = wanted.size() * t / threads, end = wanted.size() * (t + 1) / threads;
    for (std::size_t i = first; i < end; ++i) {
      if (buffer.size() < wanted[i].second) buffer.resize(wanted[i].second);
      if (Succeeded(file.Read(wanted[i].first, 0, wanted[i].second, buffer.data()))) done[t] += wanted[i].second;
    }
  };
  std::vector<std::thread> helpers;
  for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(share, t);
  share(0);
  for (std::thread& helper : helpers) helper.join();
  std::uint64_t total = 0;
  for (std::uint64_t d : done) total += d;
  return static_cast<std::size_t>(total);
}

// Every function's six texts, as sorvanta-query's list writes them: the
// name, type, source and object as the image's views, the address and
// length formatted. Returns their total size, so nothing is left out.
std::size_t ListTexts(PdbImage& image) {
  std::size_t total = 0;
  std::string numbers;
  for (std::uint32_t i = 0; i < image.functionCount(); ++i) {
    numbers.clear();
    if (const std::optional<std::uint64_t> va = image.FunctionAddress(i)) AppendAddress(*va, &numbers);
    numbers += std::to_string(image.FunctionLength(i));
    total += image.FunctionName(i).size() + sizeof("Function") + numbers.size() +
             image.SourceFile(i).size() + image.ObjectFile(i).size();
  }
  return total;
}

// threads: how many threads the loader may use (0: one per core).
void OpenAndListAll(benchmark::State& state, const std::string& path, unsigned threads) {
  PdbImage::DefaultLoadOptions().threads = threads;
  std::size_t count = 0;
  for (auto _ : state) {
    auto dia = std::make_unique<DiaSymbol>();
    if (!dia->Open(Utf8ToWide(path))) {
      state.SkipWithError("open failed");
      return;
    }
    SymbolList all = dia->FindFunctionsByName(L"");
    count = all.size();
    state.PauseTiming();
    all = SymbolList();
    dia.reset();
    state.ResumeTiming();
  }
  state.counters["functions"] = static_cast<double>(count);
  state.counters["threads"] = threads ? threads : std::thread::hardware_concurrency();
  PdbImage::DefaultLoadOptions().threads = 0;
}

// An open file with every function listed once, shared by the benchmarks
// that measure what comes after the first search.
struct Opened {
  std::unique_ptr<DiaSymbol> dia = std::make_unique<DiaSymbol>();
  SymbolList all;
  std::wstring someName;
  std::vector<std::uint64_t> addresses;  // random VAs within the code

  explicit Opened(const std::string& path) {
    if (!dia->Open(Utf8ToWide(path))) return;
    all = dia->FindFunctionsByName(L"");
    if (all.empty()) return;
    all[all.size() * 2 / 3]->get_name(&someName);
    std::uint64_t low = ~0ull, high = 0;
    for (std::size_t i = 0; i < all.size(); i += 97) {
      std::uint64_t va = 0;
      if (Succeeded(all[i]->get_virtualAddress(&va))) {
        low = std::min(low, va);
        high = std::max(high, va);
      }
    }
    std::mt19937_64 random(42);
    std::uniform_int_distribution<std::uint64_t> pick(low, high);
    for (int i = 0; i < 4096; ++i) addresses.push_back(pick(random));
  }
};

Opened& OpenedFor(const std::string& path) {
  static std::string openedPath;
  static std::unique_ptr<Opened> opened;
  if (openedPath != path) {
    opened.reset();  // one huge file in memory at a time
    opened = std::make_unique<Opened>(path);
    openedPath = path;
  }
  return *opened;
}

void SearchName(benchmark::State& state, const std::string& path, bool hit) {
  Opened& o = OpenedFor(path);
  std::wstring query = o.someName;
  for (wchar_t& c : query) c = static_cast<wchar_t>(std::towupper(c));
  if (!hit) query += L"_missing";
  std::size_t found = 0;
  for (auto _ : state) found = o.dia->FindFunctionsByName(query).size();
  state.counters["found"] = static_cast<double>(found);
}

void LookupVA(benchmark::State& state, const std::string& path) {
  Opened& o = OpenedFor(path);
  std::size_t i = 0, hits = 0;
  for (auto _ : state) {
    SymbolRef s = o.dia->FindFunctionByVA(o.addresses[i++ & 4095]);
    hits += s != nullptr;
    benchmark::DoNotOptimize(s);
  }
  state.counters["hit%"] = 100.0 * static_cast<double>(hits) / static_cast<double>(state.iterations());
}

// sorvanta-query addr in batch: each line read with the address rule,
// looked up, formatted as TSV and written through the program's own output
// buffer to /dev/null. The file is opened once, outside the timing.
void QueryAddrBatch(benchmark::State& state, const std::string& path) {
  Opened& o = OpenedFor(path);
  std::shared_ptr<PdbImage> image;
  if (Failed(OpenPdb(path, false, &image))) {
    state.SkipWithError("open failed");
    return;
  }
  std::vector<std::string> lines;
  for (const std::uint64_t va : o.addresses) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(va));
    lines.emplace_back(text);
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> null(std::fopen("/dev/null", "w"), std::fclose);
  Output out(null.get());
  AddressAnswerer answerer(image, false, OutputFormat::kTsv);
  // Each module's line table is built the first time one of its functions
  // is asked for (about a millisecond each); one pass over the addresses
  // first, so the figure is the steady rate of a long batch.
  for (const std::string& line : lines) answerer.AnswerText(line, &out.buffer());
  out.Flush();
  std::size_t i = 0;
  for (auto _ : state) {
    const std::string& line = lines[i++ & 4095];
    answerer.AnswerText(line, &out.buffer());
    out.EndRecord();
  }
  out.Flush();
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

// The real widgets, on the offscreen platform.
struct Widgets {
  QTableWidget list;
  QComboBox selector;
  QLabel summary;
  QtResultView view{&list, &selector, &summary};
  Widgets() {
    SetReportStyle(&list);
    list.resize(1000, 510);
  }
};

// A page in the middle, the first time it is shown after the file was
// opened (line tables of its module not yet read), and again.
void PageFirst(benchmark::State& state, const std::string& path) {
  Widgets w;
  for (auto _ : state) {
    state.PauseTiming();
    auto dia = std::make_unique<DiaSymbol>();
    dia->Open(Utf8ToWide(path));
    SymbolList all = dia->FindFunctionsByName(L"");
    RebuildResults({}, w.view);
    RebuildResults(SymbolList(all.begin(), all.begin() + std::min<std::size_t>(all.size(), 45)), w.view);
    const int page = static_cast<int>(all.size() / 45 / 2);
    state.ResumeTiming();
    ShowPage(all, w.view, page);
    state.PauseTiming();
    all = SymbolList();
    dia.reset();
    state.ResumeTiming();
  }
}

void PageAgain(benchmark::State& state, const std::string& path) {
  Opened& o = OpenedFor(path);
  Widgets w;
  RebuildResults(o.all, w.view);
  const int page = static_cast<int>(o.all.size() / 45 / 2);
  ShowPage(o.all, w.view, page);
  for (auto _ : state) ShowPage(o.all, w.view, page);
}

void RebuildAll(benchmark::State& state, const std::string& path) {
  Opened& o = OpenedFor(path);
  Widgets w;
  for (auto _ : state) RebuildResults(o.all, w.view);
  state.counters["pages"] = w.selector.count();
}

long PeakRssKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// Peak resident memory after the first search, and the heap that the list
// of references itself takes per reference.
int Memory(const std::string& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  const long baselineKiB = PeakRssKiB();
  DiaSymbol dia;
  if (!dia.Open(Utf8ToWide(path))) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    return 1;
  }
  // Heap in use, small blocks and mapped ones alike.
  auto heapInUse = [] {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
  };
  const std::size_t heapBefore = heapInUse();
  SymbolList all = dia.FindFunctionsByName(L"");
  const std::size_t heapAfter = heapInUse();
  const long peakKiB = PeakRssKiB();
  const double n = static_cast<double>(all.size());
  // The bytes of the streams the reader keeps, from a second load once the
  // peak was taken.
  all = SymbolList();
  dia.session.reset();
  std::shared_ptr<PdbImage> image;
  const std::size_t streamBytes =
      Succeeded(PdbImage::Load(path, &image)) ? image->StreamMemoryBytes() : 0;
  std::printf("{\"name\": \"%s\", \"threads\": %u, \"file_bytes\": %lld, \"functions\": %zu, "
              "\"stream_bytes\": %zu, \"baseline_rss_bytes\": %ld, \"peak_rss_bytes\": %ld, "
              "\"reference_bytes\": %.2f}\n",
              BaseName(path).c_str(), PdbImage::DefaultLoadOptions().threads, static_cast<long long>(info.st_size),
              static_cast<std::size_t>(n), streamBytes, baselineKiB * 1024, peakKiB * 1024,
              n > 0 ? static_cast<double>(heapAfter - heapBefore) / n : 0.0);
  return 0;
}

// One measurement in this process, which the caller started for it alone:
// the heap is fresh and every page it uses is touched for the first time,
// as when a user starts the program.
int Fresh(const std::string& measure, const std::string& path) {
  using Clock = std::chrono::steady_clock;
  // What a measurement made is kept past the clock: tearing it down is no
  // part of what a user waits for.
  Bytes bytes(nullptr, &std::free);
  DiaSymbol dia;
  SymbolList all;
  std::shared_ptr<PdbImage> image;
  std::size_t count = 0;
  const Clock::time_point start = Clock::now();
  PageBuffer kept;
  if (measure == "floor") {
    bytes = ReadWholeFile(path, &count);
  } else if (measure == "read_needed") {
    count = ReadNeededStreams(path, &kept);
  } else if (measure == "read_needed_reused") {
    count = ReadNeededReused(path);
  } else if (measure == "open") {
    if (Failed(PdbImage::Load(path, &image))) return 1;
    count = image->functionCount();
  } else if (measure == "open_list_refs") {
    if (!dia.Open(Utf8ToWide(path))) return 1;
    all = dia.FindFunctionsByName(L"");
    count = all.size();
  } else if (measure == "open_list_texts") {
    if (Failed(PdbImage::Load(path, &image))) return 1;
    count = ListTexts(*image);
  } else {
    std::fprintf(stderr, "no such measurement: %s\n", measure.c_str());
    return 2;
  }
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  benchmark::DoNotOptimize(bytes.get());
  std::printf("{\"measure\": \"%s\", \"name\": \"%s\", \"threads\": %u, \"ms\": %.3f, \"count\": %zu}\n",
              measure.c_str(), BaseName(path).c_str(), PdbImage::DefaultLoadOptions().threads, ms, count);
  // The process ends as a user's would end, without tearing anything down.
  std::fflush(stdout);
  std::_Exit(0);
}

}  // namespace
}  // namespace sorvanta

int main(int argc, char** argv) {
  using namespace sorvanta;
  std::vector<std::string> pdbs;
  std::vector<std::string> sparse;  // huge files, mostly holes: only opened
  std::vector<char*> rest;
  std::string fresh;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--threads=", 0) == 0) {
      PdbImage::DefaultLoadOptions().threads = static_cast<unsigned>(std::stoul(arg.substr(10)));
      continue;
    }
    if (arg.rfind("--memory=", 0) == 0) return Memory(arg.substr(9));
    if (arg.rfind("--fresh=", 0) == 0) {
      fresh = arg.substr(8);
      continue;
    }
    if (arg.rfind("--write-sparse=", 0) == 0 && i + 1 < argc) {
      std::string error;
      if (msf::WriteSparseLargePdb(arg.substr(15), argv[i + 1], &error)) return 0;
      std::fprintf(stderr, "cannot write %s: %s\n", argv[i + 1], error.c_str());
      return 1;
    }
    if (arg.rfind("--sparse=", 0) == 0) {
      sparse.push_back(arg.substr(9));
    } else if (arg.rfind("--pdb=", 0) == 0) {
      pdbs.push_back(arg.substr(6));
    } else {
      rest.push_back(argv[i]);
    }
  }
  if (!fresh.empty() && pdbs.size() == 1) return Fresh(fresh, pdbs[0]);
  if (pdbs.empty()) {
    std::fprintf(stderr,
                 "usage: %s --pdb=PATH [--pdb=PATH ...] [--sparse=PATH ...]\n"
                 "       %s [--threads=N] --memory=PATH\n"
                 "       %s --write-sparse=FIXTURE OUT\n",
                 argv[0], argv[0], argv[0]);
    return 2;
  }
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);

  for (const std::string& pdb : pdbs) {
    const std::string n = BaseName(pdb);
    auto ms = benchmark::kMillisecond;
    benchmark::RegisterBenchmark(("floor/" + n).c_str(), Floor, pdb)->Unit(ms)->MinTime(2);
    benchmark::RegisterBenchmark(("open_and_list_all_1t/" + n).c_str(), OpenAndListAll, pdb, 1u)->Unit(ms)->MinTime(2);
    benchmark::RegisterBenchmark(("open_and_list_all/" + n).c_str(), OpenAndListAll, pdb, 0u)->Unit(ms)->MinTime(2);
    benchmark::RegisterBenchmark(("search_name_hit/" + n).c_str(), SearchName, pdb, true)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("search_name_miss/" + n).c_str(), SearchName, pdb, false)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("lookup_va/" + n).c_str(), LookupVA, pdb)->Unit(benchmark::kNanosecond);
    benchmark::RegisterBenchmark(("query_addr_batch/" + n).c_str(), QueryAddrBatch, pdb)->Unit(benchmark::kNanosecond);
    benchmark::RegisterBenchmark(("page_first/" + n).c_str(), PageFirst, pdb)->Unit(ms)->Iterations(5);
    benchmark::RegisterBenchmark(("page_again/" + n).c_str(), PageAgain, pdb)->Unit(ms);
    benchmark::RegisterBenchmark(("rebuild_all/" + n).c_str(), RebuildAll, pdb)->Unit(ms);
  }
  for (const std::string& pdb : sparse) {
    // Reading a file of 4.5 GiB whole is no useful floor: its open is
    // compared with the open of the file its streams came from.
    const std::string n = BaseName(pdb);
    auto ms = benchmark::kMillisecond;
    benchmark::RegisterBenchmark(("open_and_list_all_1t/" + n).c_str(), OpenAndListAll, pdb, 1u)->Unit(ms)->MinTime(1);
    benchmark::RegisterBenchmark(("open_and_list_all/" + n).c_str(), OpenAndListAll, pdb, 0u)->Unit(ms)->MinTime(1);
  }
  int benchArgc = static_cast<int>(rest.size());
  benchmark::Initialize(&benchArgc, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
