// Hostile files built at test time, each opened and used whole in a
// bounded child (BoundedChild.h): whatever they hold, the image costs at
// most the bytes it reads, 48 bytes per function or public and 24 MiB, and
// no step is worse than linear. And running out of memory in an index
// built on first use leaves the image as it was.

#include <sys/resource.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BoundedChild.h"
#include "CraftedPdb.h"
#include "Demangler.h"
#include "DiaSymbol.h"
#include "PdbImage.h"
#include "SymbolFacts.h"
#include "TempDir.h"
#include "TestProcess.h"
#include "llvm/Demangle/Demangle.h"

namespace sorvanta {
namespace {

using testing::ChildOutcome;
using testing::CraftedPdb;
using testing::kMiB;
using testing::RecordBound;
using testing::RunBoundedInChild;
using testing::TempDir;
using testing::Wide;

std::uint64_t FileSize(const std::string& path) { return std::filesystem::file_size(path); }

// ---- File-checksum entries that all lead into one long path.

struct ChecksumCase {
  const char* name;
  bool spread;
};

class ChecksumBoundsTest : public ::testing::TestWithParam<ChecksumCase> {};

TEST_P(ChecksumBoundsTest, TheWindowsListingKeepsNoCopyPerEntry) {
  constexpr std::uint32_t kFunctions = 4096;  // 4096 copies of the path would be 128 MiB or more
  TempDir dir;
  const std::string path = dir.File("checksums.pdb");
  ASSERT_TRUE(WriteCraftedPdb(testing::ChecksumsIntoOneLongPath(kFunctions, GetParam().spread), path));

  // Every property of every function, as the result list reads them;
  // what the listing holds is the symbols, not their texts.
  const ChildOutcome outcome = RunBoundedInChild(60, [&] {
    DiaSymbol dia;
    std::uint64_t functions = 0, sourceBytes = 0;
    if (dia.Open(Wide(path))) {
      const SymbolList all = dia.FindFunctionsByName(L"");
      functions = all.size();
      for (const SymbolRef& s : all) sourceBytes += testing::ReadFacts(*s).source.size();
    }
    return std::vector<std::uint64_t>{functions, sourceBytes};
  });
  ASSERT_TRUE(outcome.finished) << outcome;
  std::uint64_t expectedSource = 0;
  for (std::uint32_t i = 0; i < kFunctions; ++i) {
    expectedSource += 64 * 1024 - (GetParam().spread ? (i * 16) % (64 * 1024) : 0);
  }
  EXPECT_EQ(outcome.values[0], kFunctions);
  // Each function has its own entry's file.
  EXPECT_EQ(outcome.values[1], expectedSource);
  EXPECT_LE(outcome.memoryGrowth, RecordBound(FileSize(path), kFunctions)) << outcome;
}

INSTANTIATE_TEST_SUITE_P(Entries, ChecksumBoundsTest,
                         ::testing::Values(ChecksumCase{"AllNameTheSamePath", false},
                                           ChecksumCase{"EachNamesAnOffsetInsideIt", true}),
                         [](const ::testing::TestParamInfo<ChecksumCase>& info) { return info.param.name; });

// ---- A publics hash that points at overlapping records.

TEST(PublicsBoundsTest, OverlappingRecordsRefuseThePublicsAndKeepTheFunctions) {
  TempDir dir;
  const std::string path = dir.File("overlapping.pdb");
  ASSERT_TRUE(WriteCraftedPdb(testing::OverlappingPublics(1u << 20), path));

  const ChildOutcome outcome = RunBoundedInChild(60, [&] {
    LoadOptions options;
    options.publics = true;
    std::shared_ptr<PdbImage> image;
    const HRESULT load = PdbImage::Load(path, options, &image);
    return std::vector<std::uint64_t>{static_cast<std::uint32_t>(load),
                                      image ? static_cast<std::uint32_t>(image->publicsStatus()) : 0u,
                                      image ? image->functionCount() : 0u, image ? image->publicCount() : 0u};
  });
  ASSERT_TRUE(outcome.finished) << outcome;
  EXPECT_EQ(static_cast<HRESULT>(outcome.values[0]), S_OK);
  EXPECT_EQ(static_cast<HRESULT>(outcome.values[1]), E_PDB_CORRUPT);
  EXPECT_EQ(outcome.values[2], 1u);
  EXPECT_EQ(outcome.values[3], 0u);
  EXPECT_LE(outcome.memoryGrowth, RecordBound(FileSize(path), 1)) << outcome;
}

// ---- Decorated names whose back-references expand enormously.

TEST(DemangleBoundsTest, BackReferenceBombsStayRawInLittleTimeAndMemory) {
  // Unbounded, the parser alone takes 250 MiB for the parameter bomb of
  // two levels (191 characters) and aborts on three.
  const ChildOutcome outcome = RunBoundedInChild(20, [] {
    std::vector<std::uint64_t> demangled;
    std::string text;
    for (int levels = 1; levels <= 6; ++levels) {
      demangled.push_back(DemangleMicrosoft(testing::ParameterBackReferenceBomb(levels), DemangleStyle::kFull, &text));
      demangled.push_back(DemangleMicrosoft(testing::NameBackReferenceBomb(levels, 20), DemangleStyle::kFull, &text));
    }
    return demangled;
  });
  ASSERT_TRUE(outcome.finished) << outcome;
  // Of all these, only the name bombs of one and two levels are of a size a
  // name may have (317 and 6386 characters).
  EXPECT_EQ(outcome.values, (std::vector<std::uint64_t>{0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_LE(outcome.memoryGrowth, 16 * kMiB + testing::kSanitizerSlack) << outcome;
}

TEST(DemangleBoundsTest, LongTemplateNamesDemangleAsLlvmReadsThem) {
  // Real names: the longest nest templates six deep and repeat them by
  // back-reference, which the bound must not take for a bomb.
  const char* const names[] = {
      "?exception_message@?$parser@V?$basic_json@Vmap@std@@Vvector@2@V?$basic_string@DU?$char_traits@D@std@@V?$"
      "allocator@D@2@@2@_N_J_KNVallocator@2@Uadl_serializer@nlohmann@@V?$vector@EV?$allocator@E@std@@@2@@nlohmann@"
      "@V?$iterator_input_adapter@V?$_String_const_iterator@V?$_String_val@U?$_Simple_types@D@std@@@std@@@std@@@"
      "detail@2@@detail@nlohmann@@AEAA?AV?$basic_string@DU?$char_traits@D@std@@V?$allocator@D@2@@std@@W4token_"
      "type@?$lexer_base@V?$basic_json@Vmap@std@@Vvector@2@V?$basic_string@DU?$char_traits@D@std@@V?$allocator@D@"
      "2@@2@_N_J_KNVallocator@2@Uadl_serializer@nlohmann@@V?$vector@EV?$allocator@E@std@@@2@@nlohmann@@@23@AEBV45@@Z",
      "??$_Ucopy@PAV?$basic_string@DU?$char_traits@D@std@@V?$allocator@D@2@@std@@@?$vector@V?$basic_string@DU?$"
      "char_traits@D@std@@V?$allocator@D@2@@std@@V?$allocator@V?$basic_string@DU?$char_traits@D@std@@V?$allocator@"
      "D@2@@std@@@2@@std@@IAEPAV?$basic_string@DU?$char_traits@D@std@@V?$allocator@D@2@@1@PAV21@00@Z",
      "??$?HDU?$char_traits@D@std@@V?$allocator@D@1@@std@@YA?AV?$basic_string@DU?$char_traits@D@std@@V?$allocator@"
      "D@2@@0@AEBV10@0@Z",
      "?Foo@@YAXV?$function@$$A6AXHH@Z@std@@@Z",
      "?x@?1??f@@YAXXZ@4HA",
  };
  for (const char* name : names) {
    SCOPED_TRACE(name);
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> expected(
        llvm::microsoftDemangle(name, nullptr, nullptr, nullptr, &status), &std::free);
    ASSERT_TRUE(expected && status == 0);
    std::string ours;
    EXPECT_TRUE(DemangleMicrosoft(name, DemangleStyle::kFull, &ours));
    EXPECT_EQ(ours, expected.get());
  }
}

// ---- Superblocks that declare close to 2^32 blocks.

class BlockCountTest : public ::testing::TestWithParam<std::uint32_t> {};

// A sparse file of that many 512-byte blocks (about 2 TiB): a minimal PDB
// whose one module lies in the last block.
TEST_P(BlockCountTest, NothingIsSizedByTheDeclaredCount) {
  const std::uint32_t declared = GetParam();
  TempDir dir;
  const std::string path = dir.File("blocks.pdb");
  testing::ByteWriter records;
  testing::AppendProcedure(records, "last_block", 1, 0x10, 0x10);
  std::vector<testing::SmallStream> streams = testing::MinimalPdbStreams(4 + records.size(), {});
  testing::ByteWriter module;
  module.U32(4).Raw(records.bytes);
  streams[4].bytes = module.bytes;
  streams[4].blocks = {declared - 1};
  streams[3].bytes = testing::DbiStreamBytes({{4, 4 + records.size(), 0, 0, "m.obj", "m.obj"}}, 2);
  streams[2].bytes = testing::SectionHeaderBytes({{0x1000, 0x1000}});
  if (!testing::WriteSmallMsf(path, 512, streams, declared)) {
    GTEST_SKIP() << "no sparse file of " << (std::uint64_t{declared} * 512 >> 30) << " GiB in " << dir.path();
  }
  ASSERT_EQ(FileSize(path), std::uint64_t{declared} * 512);

  const testing::ListOutcome outcome = testing::OpenAndListInChild(path, {}, 60);
  ASSERT_TRUE(outcome.finished()) << outcome;
  EXPECT_TRUE(outcome.load == S_OK || outcome.load == E_PDB_CORRUPT) << outcome;
  if (outcome.load == S_OK) {
    EXPECT_EQ(outcome.functions, 1u) << outcome;
  }
  EXPECT_LE(outcome.memoryGrowth(), testing::MemoryBound(0)) << outcome;
}

INSTANTIATE_TEST_SUITE_P(NearTwoToThe32, BlockCountTest,
                         ::testing::Values(0xFFFFFFC0u, 0xFFFFFFC1u, 0xFFFFFFE0u, 0xFFFFFFFFu),
                         [](const ::testing::TestParamInfo<std::uint32_t>& info) {
                           char name[16];
                           std::snprintf(name, sizeof name, "0x%08X", info.param);
                           return std::string(name);
                         });

// ---- Running out of memory.

// Holds every block that the address-space limit leaves to malloc, from
// 1 MiB down to 64 bytes, until released.
class Ballast {
 public:
  Ballast() { held_.reserve(std::size_t{1} << 20); }
  ~Ballast() { Release(); }
  void TakeAll() {
    for (std::size_t size = 1 << 20; size >= 64; size /= 4) {
      while (held_.size() < held_.capacity()) {
        void* block = std::malloc(size);
        if (!block) break;
        held_.push_back(block);
      }
    }
  }
  void Release() {
    for (void* block : held_) std::free(block);
    held_.clear();
  }

 private:
  std::vector<void*> held_;
};

// Sets the soft limit only, so that it can be raised again.
void LimitAddressSpace(rlim_t bytes) {
  rlimit limit{};
  ::getrlimit(RLIMIT_AS, &limit);
  limit.rlim_cur = bytes;
  ::setrlimit(RLIMIT_AS, &limit);
}

// 20000 functions and as many publics, with distinct names.
CraftedPdb ManyNames() {
  CraftedPdb pdb;
  testing::CraftedModule m;
  pdb.withPublics = true;
  for (std::uint32_t i = 0; i < 20000; ++i) {
    testing::AppendProcedure(m.symbols, "fn" + std::to_string(i), 1, i * 16, 16);
    pdb.hashed.push_back(pdb.records.size());
    testing::AppendPublic(pdb.records, "?pub" + std::to_string(i) + "@@YAXXZ", 1, i * 16);
  }
  pdb.modules.push_back(std::move(m));
  return pdb;
}

TEST(OutOfMemoryBoundsTest, AnIndexThatRunsOutOfMemoryIsBuiltWholeOnTheNextCall) {
#ifdef SORVANTA_ASAN
  GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit leaves";
#endif
  TempDir dir;
  const std::string path = dir.File("names.pdb");
  ASSERT_TRUE(WriteCraftedPdb(ManyNames(), path));
  LoadOptions options;
  options.publics = true;

  // Per index: whether the first call threw std::bad_alloc, and whether the
  // next one answered as an image that never ran out does.
  const ChildOutcome outcome = RunBoundedInChild(60, [&] {
    std::shared_ptr<PdbImage> fresh, tested;
    if (Failed(PdbImage::Load(path, options, &fresh)) || Failed(PdbImage::Load(path, options, &tested))) {
      return std::vector<std::uint64_t>{};
    }
    const std::vector<std::uint32_t> byName = fresh->FindFunctions("FN4321", true);
    const std::optional<std::uint32_t> byAddress = fresh->FindFunction(0x1000 + 4321 * 16 + 5);
    const std::vector<std::uint32_t> publicByName = fresh->FindPublics("void __cdecl pub4321(void)", false);

    std::vector<std::uint64_t> result;
    rlimit before{};
    ::getrlimit(RLIMIT_AS, &before);
    auto underPressure = [&](const auto& call, const auto& expected) {
      Ballast ballast;
      LimitAddressSpace(testing::StatusBytes("VmSize"));
      ballast.TakeAll();
      bool threw = false;
      try {
        call();
      } catch (const std::bad_alloc&) {
        threw = true;
      }
      ballast.Release();
      LimitAddressSpace(before.rlim_cur);
      result.push_back(threw);
      result.push_back(call() == expected);
    };
    underPressure([&] { return tested->FindFunctions("FN4321", true); }, byName);
    underPressure([&] { return tested->FindFunction(0x1000 + 4321 * 16 + 5); }, byAddress);
    underPressure([&] { return tested->FindPublics("void __cdecl pub4321(void)", false); }, publicByName);
    result.push_back(byName.size() == 1 && byAddress && publicByName.size() == 1);
    return result;
  });
  ASSERT_TRUE(outcome.finished) << outcome;
  ASSERT_EQ(outcome.values.size(), 7u) << outcome;
  const char* index[] = {"name index", "address index", "publics' name index"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(outcome.values[2 * i], 1u) << "the " << index[i] << " got its memory under the limit";
    EXPECT_EQ(outcome.values[2 * i + 1], 1u) << "the " << index[i] << " answered wrongly after running out";
  }
  EXPECT_EQ(outcome.values[6], 1u) << "the unconstrained image did not find the names";
}

TEST(OutOfMemoryBoundsTest, PublicsThatCannotGetTheirMemoryAreAnErrorNotAnEmptyList) {
#ifdef SORVANTA_ASAN
  GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit leaves";
#endif
  // A few publics in a record stream of 96 MiB, most of it a hole.
  CraftedPdb pdb;
  testing::CraftedModule m;
  testing::AppendProcedure(m.symbols, "main", 1, 0x10, 0x10);
  pdb.modules.push_back(std::move(m));
  pdb.withPublics = true;
  for (std::uint32_t i = 0; i < 4; ++i) {
    pdb.hashed.push_back(pdb.records.size());
    testing::AppendPublic(pdb.records, "p" + std::to_string(i), 1, 0x10 + i);
  }
  std::vector<testing::SmallStream> streams = testing::CraftedStreams(pdb);
  streams[7].size = 96u << 20;
  TempDir dir;
  const std::string path = dir.File("big-publics.pdb");
  ASSERT_TRUE(testing::WriteSmallMsf(path, 4096, streams));

  for (const std::uint64_t headroom : {std::uint64_t{32} << 20, std::uint64_t{1} << 30}) {
    const ChildOutcome outcome = RunBoundedInChild(
        60,
        [&] {
          LoadOptions options;
          options.publics = true;
          std::shared_ptr<PdbImage> image;
          const HRESULT load = PdbImage::Load(path, options, &image);
          return std::vector<std::uint64_t>{static_cast<std::uint32_t>(load),
                                            image ? static_cast<std::uint32_t>(image->publicsStatus()) : 0u,
                                            image ? image->publicCount() : 0u};
        },
        headroom);
    ASSERT_TRUE(outcome.finished) << outcome;
    SCOPED_TRACE(std::to_string(headroom / kMiB) + " MiB");
    EXPECT_EQ(static_cast<HRESULT>(outcome.values[0]), S_OK);
    if (headroom < (std::uint64_t{96} << 20)) {
      EXPECT_EQ(static_cast<HRESULT>(outcome.values[1]), E_OUTOFMEMORY);
      EXPECT_EQ(outcome.values[2], 0u);
    } else {
      EXPECT_EQ(static_cast<HRESULT>(outcome.values[1]), S_OK);
      EXPECT_EQ(outcome.values[2], 4u);
    }
  }
}

}  // namespace
}  // namespace sorvanta
