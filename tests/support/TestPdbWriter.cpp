#include "TestPdbWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "PdbBytes.h"
#include "llvm/DebugInfo/CodeView/CodeView.h"
#include "llvm/DebugInfo/CodeView/DebugChecksumsSubsection.h"
#include "llvm/DebugInfo/CodeView/DebugLinesSubsection.h"
#include "llvm/DebugInfo/CodeView/DebugStringTableSubsection.h"
#include "llvm/DebugInfo/CodeView/GUID.h"
#include "llvm/DebugInfo/MSF/MSFBuilder.h"
#include "llvm/DebugInfo/PDB/Native/DbiModuleDescriptorBuilder.h"
#include "llvm/DebugInfo/PDB/Native/DbiStreamBuilder.h"
#include "llvm/DebugInfo/PDB/Native/GSIStreamBuilder.h"
#include "llvm/DebugInfo/PDB/Native/InfoStreamBuilder.h"
#include "llvm/DebugInfo/PDB/Native/PDBStringTableBuilder.h"
#include "llvm/DebugInfo/PDB/Native/PDBFileBuilder.h"
#include "llvm/DebugInfo/PDB/Native/RawConstants.h"
#include "llvm/DebugInfo/PDB/Native/TpiStreamBuilder.h"
#include "llvm/Object/COFF.h"
#include "llvm/Support/Allocator.h"

namespace sorvanta::testing {

namespace {

namespace cv = llvm::codeview;

// Appends a record to a module's symbol bytes with the shared builder.
void PutRecord(std::vector<std::uint8_t>& out, std::uint16_t kind, const Bytes& payload) {
  ByteWriter writer{std::move(out)};
  AppendRecord(writer, kind, payload);
  out = std::move(writer.bytes);
}

}  // namespace

std::uint32_t SymbolRecords::BeginProc(std::uint16_t kind, const std::string& name,
                                       std::uint16_t segment, std::uint32_t offset,
                                       std::uint32_t codeSize) {
  const bool managed = kind == llvm::codeview::S_GMANPROC || kind == llvm::codeview::S_LMANPROC;
  ByteWriter p;
  p.U32(0);         // parent
  p.U32(0);         // end, patched by EndProc
  p.U32(0);         // next
  p.U32(codeSize);  // code size
  p.U32(0);         // debug start
  p.U32(0);         // debug end
  p.U32(managed ? 0x06000001u : 0x1001u);  // metadata token or type index
  p.U32(offset);
  p.U16(segment);
  p.U8(0);  // flags
  if (managed) p.U16(0);  // return register
  p.Text(name);
  const std::uint32_t at = nextOffset();
  PutRecord(bytes, kind, p.bytes);
  open_.push_back(at);
  return at;
}

void SymbolRecords::EndProc() {
  const std::uint32_t proc = open_.back();
  open_.pop_back();
  SetEnd(proc, nextOffset());
  PutRecord(bytes, llvm::codeview::S_END, {});
}

void SymbolRecords::SetEnd(std::uint32_t procOffset, std::uint32_t end) {
  const std::size_t field = procOffset - 4 + 4 + 4;  // record start + header + parent
  for (int i = 0; i < 4; ++i) bytes[field + i] = static_cast<std::uint8_t>(end >> (8 * i));
}

void SymbolRecords::Add(std::uint16_t kind, const std::vector<std::uint8_t>& payload) {
  PutRecord(bytes, kind, payload);
}

void SymbolRecords::AddRaw(const std::vector<std::uint8_t>& raw) {
  bytes.insert(bytes.end(), raw.begin(), raw.end());
}

bool WriteTestPdb(const TestPdb& pdb, const std::string& path) {
  llvm::BumpPtrAllocator allocator;
  llvm::pdb::PDBFileBuilder builder(allocator);
  if (llvm::Error error = builder.initialize(4096)) {
    ADD_FAILURE() << llvm::toString(std::move(error));
    return false;
  }
  for (std::uint32_t s = 0; s < llvm::pdb::kSpecialStreamCount; ++s) {
    if (!builder.getMsfBuilder().addStream(0)) {
      ADD_FAILURE() << "cannot add the fixed streams";
      return false;
    }
  }
  auto& info = builder.getInfoBuilder();
  info.setVersion(llvm::pdb::PdbRaw_ImplVer::PdbImplVC70);
  info.setAge(1);
  info.setSignature(0x5EED);
  info.setGuid(llvm::codeview::GUID{});
  builder.getStringTableBuilder();  // every PDB has a /names stream

  // Type streams, empty, so that other readers accept the file too.
  builder.getTpiBuilder().setVersionHeader(llvm::pdb::PdbTpiV80);
  builder.getIpiBuilder().setVersionHeader(llvm::pdb::PdbTpiV80);

  // Everything handed to the builder by reference must outlive its commit.
  // One string table holds the file names of every module's checksums.
  auto strings = std::make_shared<cv::DebugStringTableSubsection>();
  std::vector<std::vector<std::uint8_t>> streams;
  streams.reserve(pdb.modules.size());
  std::vector<llvm::object::coff_section> sections(pdb.sectionAddresses.size());
  if (pdb.withDbi) {
    auto& dbi = builder.getDbiBuilder();
    dbi.setVersionHeader(llvm::pdb::PdbDbiV70);
    dbi.setMachineType(llvm::pdb::PDB_Machine::Amd64);
    for (std::size_t i = 0; i < sections.size(); ++i) {
      std::memset(&sections[i], 0, sizeof(sections[i]));
      std::memcpy(sections[i].Name, ".text\0\0\0", 8);
      sections[i].VirtualAddress = pdb.sectionAddresses[i];
      sections[i].VirtualSize = i < pdb.sectionSizes.size() ? pdb.sectionSizes[i] : 0x10000;
    }
    auto sectionBytes = llvm::makeArrayRef(reinterpret_cast<const std::uint8_t*>(sections.data()),
                                           sections.size() * sizeof(llvm::object::coff_section));
    if (llvm::Error error = dbi.addDbgStream(llvm::pdb::DbgHeaderType::SectionHdr, sectionBytes)) {
      ADD_FAILURE() << llvm::toString(std::move(error));
      return false;
    }
    for (const TestModule& module : pdb.modules) {
      auto descriptor = dbi.addModuleInfo(module.name);
      if (!descriptor) {
        ADD_FAILURE() << llvm::toString(descriptor.takeError());
        return false;
      }
      descriptor->setObjFileName(module.objectFile);
      if (!module.symbols.bytes.empty()) {
        streams.push_back(module.symbols.bytes);
        descriptor->addSymbolsInBulk(streams.back());
      }
      if (!module.lines.empty()) {
        auto checksums = std::make_shared<cv::DebugChecksumsSubsection>(*strings);
        for (const TestLines& lines : module.lines) {
          for (const TestLineBlock& block : lines.blocks) {
            checksums->addChecksum(block.file, cv::FileChecksumKind::None, {});
          }
        }
        descriptor->addDebugSubsection(checksums);
        for (const TestLines& lines : module.lines) {
          auto subsection = std::make_shared<cv::DebugLinesSubsection>(*checksums, *strings);
          subsection->setRelocationAddress(lines.segment, lines.offset);
          subsection->setCodeSize(lines.codeSize);
          std::uint32_t line = 1;
          for (const TestLineBlock& block : lines.blocks) {
            subsection->createBlock(block.file);
            for (std::uint32_t offset : block.offsets) {
              subsection->addLineInfo(offset, cv::LineInfo(line, line, true));
              ++line;
            }
          }
          descriptor->addDebugSubsection(subsection);
        }
      }
    }
  }
  builder.getStringTableBuilder().setStrings(*strings);

  if (!pdb.publics.empty()) {
    std::vector<llvm::pdb::BulkPublic> publics;
    for (const TestPublic& p : pdb.publics) {
      llvm::pdb::BulkPublic bulk;
      bulk.Name = p.name.c_str();  // read at commit; pdb outlives it
      bulk.NameLen = static_cast<std::uint32_t>(p.name.size());
      bulk.Segment = p.segment;
      bulk.Offset = p.offset;
      bulk.setFlags(static_cast<llvm::codeview::PublicSymFlags>(p.flags));
      publics.push_back(bulk);
    }
    builder.getGsiBuilder().addPublicSymbols(std::move(publics));
  }

  llvm::codeview::GUID guid;
  if (llvm::Error error = builder.commit(path, &guid)) {
    ADD_FAILURE() << llvm::toString(std::move(error));
    return false;
  }
  return true;
}

}  // namespace sorvanta::testing
