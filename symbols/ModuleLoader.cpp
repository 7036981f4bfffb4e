#include "ModuleLoader.h"

#include <algorithm>
#include <cstring>
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
                    const StringTable& strings, const LoadOptions& options,
                    std::uint16_t imageHandle, LoadedModules* out) {
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
    if ((options.lines && !bytes.Allocate(total)) || !functions.Reserve(maxFunctions)) {
      return E_OUTOFMEMORY;
    }

    unsigned wanted = options.threads ? options.threads : std::thread::hardware_concurrency();
    wanted = std::clamp(wanted, 1u, kMaxThreads);
    const std::uint64_t perThread = std::max<std::uint64_t>(1, options.bytesPerThread);
    wanted = static_cast<unsigned>(std::max<std::uint64_t>(
        1, std::min<std::uint64_t>({wanted, modules.size(), total / perThread})));
    std::vector<Run> runs = ShareOut(modules, wanted);
    // Each run's names fit in its modules' symbols; the room is reserved
    // and only what is written costs memory.
    std::vector<PageBuffer> names(runs.size());
    std::size_t slot = 0;
    for (std::size_t r = 0; r < runs.size(); ++r) {
      Run& run = runs[r];
      run.firstSlot = slot;
      std::uint64_t symbols = 0;
      for (std::size_t m = run.firstModule; m < run.endModule; ++m) {
        slot += modules[m].symbolBytes / kMinProcedureBytes;
        symbols += modules[m].symbolBytes;
      }
      if (!names[r].Allocate(symbols)) return E_OUTOFMEMORY;
    }

    std::atomic<HRESULT> failure{S_OK};
    auto work = [&](Run& run, PageBuffer& runNames) {
      std::size_t made = run.firstSlot;
      std::size_t named = 0;  // bytes of runNames written
      std::vector<std::uint8_t> reused;  // the module being read, when its bytes are not kept
      std::vector<CodeStart> starts;     // of the module's functions, for their files
      std::vector<std::uint32_t> files;
      try {
        for (std::size_t m = run.firstModule; m < run.endModule && failure.load() == S_OK; ++m) {
          LoadedModule& module = modules[m];
          module.firstFunction = static_cast<std::uint32_t>(made - run.firstSlot);
          module.names = reinterpret_cast<const char*>(runNames.data()) + named;
          const std::size_t size = module.symbolBytes + std::size_t{module.c13Bytes};
          if (size == 0) continue;
          std::uint8_t* at;
          if (options.lines) {
            at = bytes.data() + module.bytesAt;
          } else {
            if (reused.size() < size) reused.resize(size);
            at = reused.data();
          }
          const Plan& plan = plans[m];
          HRESULT hr = file.Read(plan.stream, 0, module.symbolBytes, at);
          if (Succeeded(hr) && module.c13Bytes > 0) {
            hr = file.Read(plan.stream, plan.c13At, module.c13Bytes, at + module.symbolBytes);
          }
          if (Failed(hr)) {
            failure = hr;
            break;
          }
          const ByteView c13{at + module.symbolBytes, module.c13Bytes};
          const std::size_t first = made;
          const auto index = static_cast<std::uint32_t>(m);
          std::uint32_t nameAt = 0;  // from module.names
          starts.clear();
          ModuleStream(ByteView{at, module.symbolBytes}, c13).ForEachProcedure([&](const ProcedureRecord& p) {
            std::memcpy(runNames.data() + named + nameAt, at + p.nameOffset, p.nameLength);
            const std::optional<std::uint32_t> rva = sections.Rva(p.segment, p.codeOffset);
            if (rva) run.maxRva = std::max(run.maxRva, *rva);
            new (functions.slot(made++))
                PdbFunctionSymbol(imageHandle, index, nameAt, p.nameLength, rva, p.codeSize);
            nameAt += p.nameLength;
            starts.push_back({p.segment, p.codeOffset});
          });
          named += nameAt;
          if (module.c13Bytes > 0) {
            module.files = ModuleFileTable::Build(c13, strings, starts, &files);
            for (std::size_t k = 0; k < files.size(); ++k) functions.slot(first + k)->setFile(files[k]);
          }
        }
      } catch (const std::bad_alloc&) {
        failure = E_OUTOFMEMORY;
      }
      run.count = made - run.firstSlot;
      runNames.Shrink(named);
    };
    std::vector<std::thread> helpers;
    std::size_t started = 1;
    for (; started < runs.size(); ++started) {
      try {
        helpers.emplace_back(work, std::ref(runs[started]), std::ref(names[started]));
      } catch (const std::system_error&) {
        break;  // this thread does the rest
      } catch (const std::bad_alloc&) {
        break;
      }
    }
    work(runs[0], names[0]);
    for (std::size_t r = started; r < runs.size(); ++r) work(runs[r], names[r]);
    for (std::thread& helper : helpers) helper.join();

    // The runs' records count one after another; each module's first
    // function becomes an index of the whole. Parts are added even after a
    // failure, so that every record made is destroyed with the rest.
    functions.ReserveParts(runs.size());
    std::size_t count = 0;
    std::uint32_t maxRva = 0;
    for (const Run& run : runs) {
      maxRva = std::max(maxRva, run.maxRva);
      functions.AddPart(run.firstSlot, run.count);
      for (std::size_t m = run.firstModule; m < run.endModule; ++m) {
        modules[m].firstFunction += static_cast<std::uint32_t>(count);
      }
      count += run.count;
    }
    if (Failed(failure.load())) return failure.load();

    std::uint64_t kept = bytes.size();
    for (const PageBuffer& n : names) kept += n.size();
    out->modules = std::move(modules);
    out->functions = std::move(functions);
    out->names = std::move(names);
    out->bytes = std::move(bytes);
    out->maxRva = maxRva;
    out->bytesKept = kept;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace sorvanta
