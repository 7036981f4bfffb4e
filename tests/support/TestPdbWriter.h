#pragma once

// Writes small PDB files with exactly the symbol records a test needs, with
// LLVM's PDB builder. Real compilers cannot be made to produce some of
// these (managed procedures, discarded functions, damaged scope ends), and
// a hand-made record shows precisely which rule a test exercises.

#include <cstdint>
#include <string>
#include <vector>

namespace sorvanta::testing {

// A module's symbol records, written as they appear in its symbol stream.
class SymbolRecords {
 public:
  // Starts a procedure record of the given kind (S_GPROC32 and friends, or
  // S_GMANPROC/S_LMANPROC) and returns its stream offset. The name is
  // written as given, byte for byte.
  std::uint32_t BeginProc(std::uint16_t kind, const std::string& name, std::uint16_t segment,
                          std::uint32_t offset, std::uint32_t codeSize);
  // Ends the innermost open procedure with an S_END and points its End
  // field there.
  void EndProc();
  // Overwrites the End field of the procedure at procOffset.
  void SetEnd(std::uint32_t procOffset, std::uint32_t end);
  // Any other record, payload after the kind.
  void Add(std::uint16_t kind, const std::vector<std::uint8_t>& payload);
  // A raw byte sequence, for damaged streams.
  void AddRaw(const std::vector<std::uint8_t>& bytes);

  std::uint32_t nextOffset() const { return static_cast<std::uint32_t>(bytes.size()) + 4; }

  std::vector<std::uint8_t> bytes;  // without the 4-byte signature

 private:
  std::vector<std::uint32_t> open_;
};

// One C13 line subsection: a contribution and its file blocks, each block
// a file and the offsets (from the contribution's start) of its lines.
struct TestLineBlock {
  std::string file;
  std::vector<std::uint32_t> offsets;
};
struct TestLines {
  std::uint16_t segment = 1;
  std::uint32_t offset = 0;
  std::uint32_t codeSize = 0;
  std::vector<TestLineBlock> blocks;
};

struct TestModule {
  std::string name;
  std::string objectFile;
  SymbolRecords symbols;
  std::vector<TestLines> lines;  // written in this order
};

// A public symbol (S_PUB32) for the publics stream.
struct TestPublic {
  std::string name;  // as stored: decorated, or any bytes
  std::uint16_t segment = 1;
  std::uint32_t offset = 0;
  std::uint16_t flags = 0x2;  // function
};

struct TestPdb {
  bool withDbi = true;
  std::vector<std::uint32_t> sectionAddresses;  // RVA of sections 1, 2, ...
  std::vector<std::uint32_t> sectionSizes;      // their sizes; 0x10000 each when not given
  std::vector<TestModule> modules;
  std::vector<TestPublic> publics;
};

// Writes pdb to path; false (with a gtest failure) when LLVM refuses.
bool WriteTestPdb(const TestPdb& pdb, const std::string& path);

}  // namespace sorvanta::testing
