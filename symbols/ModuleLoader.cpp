#include "ModuleLoader.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <utility>

#include "ModuleStream.h"
#include "MsfFile.h"

namespace sorvanta {

namespace {

// Threads are a help, not a need: past this many the modules are too few
// and small for more to pay.
constexpr unsigned kMaxThreads = 16;
// The smallest procedure record: length, kind and a body up to its name.
constexpr std::uint32_t kMinProcedureBytes = 4 + 35;

// Where one module's bytes lie in its stream.
struct Plan {
  std::uint32_t stream = 0;
  std::uint64_t c13At = 0;  // in the stream
};

// A run of modules that one thread reads and walks, and where its records go.
struct Run {
  std::size_t firstModule = 0;
  std::size_t endModule = 0;
  std::size_t firstSlot = 0;  // in the records' room
  std::size_t count = 0;      // records made
  std::uint32_t maxRva = 0;
};

std::vector<Run> ShareOut(const std::vector<LoadedModule>& modules, unsigned threads) {
  std::uint64_t total = 0;
  for (const LoadedModule& m : modules) total += m.symbolBytes + m.c13Bytes;
  std::vector<Run> runs;
  std::size_t first = 0;
  std::uint64_t done = 0;
  for (unsigned t = 0; t < threads; ++t) {
    const std::uint64_t goal = total * (t + 1) / threads;
    std::size_t end = first;
    while (end < modules.size() && (done < goal || t + 1 == threads)) {
      done += modules[end].symbolBytes + modules[end].c13Bytes;
      ++end;
    }
    runs.push_back({first, end, 0, 0});
    first = end;
  }
  return runs;
}

}  // namespace

HRESULT LoadModules(MsfFile& file, const DbiStream& dbi, const SectionTable& sections,
                    unsigned threads, std::uint64_t bytesPerThread, std::uint16_t imageHandle,
                    LoadedModules* out) {
  try {
    // What to read of each module: its symbol records and its C13 lines, no
    // further than the stream goes. A stream that an earlier module (or any
    // other reader) already claimed is not read or walked again.
    std::vector<LoadedModule> modules;
    std::vector<Plan> plans;
    modules.reserve(dbi.modules().size());
    plans.reserve(dbi.modules().size());
    std::vector<std::uint32_t> streams;
    std::vector<bool> taken(file.streamCount());
    std::uint64_t total = 0;
    std::uint64_t maxFunctions = 0;
    for (const ModuleDescriptor& d : dbi.modules()) {
      LoadedModule module;
      module.name = d.name;
      module.isLinker = d.name == "* Linker *";
      Plan plan;
      if (d.stream < file.streamCount() && !file.claimed(d.stream) && !taken[d.stream]) {
        const std::uint32_t size = file.StreamSize(d.stream);
        const std::uint64_t c13At = std::uint64_t{d.symbolBytes} + d.c11Bytes;
        module.symbolBytes = std::min(d.symbolBytes, size);
        module.c13Bytes = d.c13Bytes > 0 && c13At + d.c13Bytes <= size ? d.c13Bytes : 0;
        if (module.symbolBytes + std::uint64_t{module.c13Bytes} > 0) {
          taken[d.stream] = true;
          streams.push_back(d.stream);
          module.bytesAt = total;
          total += module.symbolBytes + std::uint64_t{module.c13Bytes};
          maxFunctions += module.symbolBytes / kMinProcedureBytes;
          plan = {d.stream, c13At};
        }
      }
      modules.push_back(module);
      plans.push_back(plan);
    }
    if (const HRESULT hr = file.Claim(streams); Failed(hr)) return hr;
    PageBuffer bytes;
    FunctionRecords functions;
    if (!bytes.Allocate(total) || !functions.Reserve(maxFunctions)) return E_OUTOFMEMORY;

    unsigned wanted = threads ? threads : std::thread::hardware_concurrency();
    wanted = std::clamp(wanted, 1u, kMaxThreads);
    const std::uint64_t perThread = std::max<std::uint64_t>(1, bytesPerThread);
    wanted = static_cast<unsigned>(std::max<std::uint64_t>(
        1, std::min<std::uint64_t>({wanted, modules.size(), total / perThread})));
    std::vector<Run> runs = ShareOut(modules, wanted);
    std::size_t slot = 0;
    for (Run& run : runs) {
      run.firstSlot = slot;
      for (std::size_t m = run.firstModule; m < run.endModule; ++m) {
        slot += modules[m].symbolBytes / kMinProcedureBytes;
      }
    }

    std::atomic<HRESULT> failure{S_OK};
    auto work = [&](Run& run) {
      std::size_t made = run.firstSlot;
      for (std::size_t m = run.firstModule; m < run.endModule && failure.load() == S_OK; ++m) {
        LoadedModule& module = modules[m];
        module.firstFunction = static_cast<std::uint32_t>(made - run.firstSlot);
        if (module.symbolBytes + std::uint64_t{module.c13Bytes} == 0) continue;
        std::uint8_t* at = bytes.data() + module.bytesAt;
        const Plan& plan = plans[m];
        HRESULT hr = file.Read(plan.stream, 0, module.symbolBytes, at);
        if (Succeeded(hr) && module.c13Bytes > 0) {
          hr = file.Read(plan.stream, plan.c13At, module.c13Bytes, at + module.symbolBytes);
        }
        if (Failed(hr)) {
          failure = hr;
          break;
        }
        const ModuleStream stream(ByteView{at, module.symbolBytes}, ByteView{});
        const auto index = static_cast<std::uint32_t>(m);
        stream.ForEachProcedure([&](const ProcedureRecord& p) {
          const std::optional<std::uint32_t> rva = sections.Rva(p.segment, p.codeOffset);
          if (rva) run.maxRva = std::max(run.maxRva, *rva);
          new (functions.slot(made++))
              PdbFunctionSymbol(imageHandle, index, p.nameOffset, p.nameLength, rva, p.codeSize);
        });
      }
      run.count = made - run.firstSlot;
    };
    std::vector<std::thread> helpers;
    std::size_t started = 1;
    for (; started < runs.size(); ++started) {
      try {
        helpers.emplace_back(work, std::ref(runs[started]));
      } catch (const std::system_error&) {
        break;  // this thread does the rest
      } catch (const std::bad_alloc&) {
        break;
      }
    }
    work(runs[0]);
    for (std::size_t r = started; r < runs.size(); ++r) work(runs[r]);
    for (std::thread& helper : helpers) helper.join();

    // The runs' records, one after another; then each module's first
    // function as an index of the whole.
    std::size_t count = 0;
    std::uint32_t maxRva = 0;
    for (const Run& run : runs) {
      maxRva = std::max(maxRva, run.maxRva);
      functions.Move(run.firstSlot, count, run.count);
      for (std::size_t m = run.firstModule; m < run.endModule; ++m) {
        modules[m].firstFunction += static_cast<std::uint32_t>(count);
      }
      count += run.count;
    }
    functions.Close(count);
    if (Failed(failure.load())) return failure.load();

    out->bytes = std::move(bytes);
    out->modules = std::move(modules);
    out->functions = std::move(functions);
    out->maxRva = maxRva;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace sorvanta
