// sorvanta-query symbolize held against llvm-symbolizer-14 at every byte of
// the optimized fixture images (and past their sections), in each output
// style and with --no-inlines.
//
// Where the two differ, the difference must be one of llvm-symbolizer-14's
// own faults, worked out here from the PDB (read with LLVM's PDB reader,
// not with ours) and a transcription of the faulty logic:
//  - inside an inline site it walks the binary annotations until their code
//    offset reaches the address, and so takes the line and file of the
//    range after the one that holds it;
//  - an address in no function takes the public with the greatest
//    (section, offset) at or below the address, where the section is the
//    last one that starts at or below it: no section end, nor section
//    boundary, is checked; with no such public the name is empty;
//  - it fills no start address, start file or start line from a PDB.
// Each inline frame and each answer outside a function is also held
// against the PDB's own facts, so a fault of ours cannot hide behind an
// emulated one.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "QueryProcess.h"
#include "TempDir.h"
#include "TestProcess.h"
#include "llvm/DebugInfo/CodeView/DebugChecksumsSubsection.h"
#include "llvm/DebugInfo/CodeView/DebugInlineeLinesSubsection.h"
#include "llvm/DebugInfo/CodeView/SymbolDeserializer.h"
#include "llvm/DebugInfo/CodeView/SymbolRecord.h"
#include "llvm/DebugInfo/PDB/IPDBSession.h"
#include "llvm/DebugInfo/PDB/Native/DbiModuleDescriptor.h"
#include "llvm/DebugInfo/PDB/Native/DbiStream.h"
#include "llvm/DebugInfo/PDB/Native/ModuleDebugStream.h"
#include "llvm/DebugInfo/PDB/Native/NativeSession.h"
#include "llvm/DebugInfo/PDB/Native/PDBFile.h"
#include "llvm/DebugInfo/PDB/Native/PDBStringTable.h"
#include "llvm/DebugInfo/PDB/Native/PublicsStream.h"
#include "llvm/DebugInfo/PDB/Native/SymbolStream.h"
#include "llvm/DebugInfo/PDB/PDB.h"
#include "llvm/Object/COFF.h"
#include "llvm/Support/MemoryBuffer.h"

namespace sorvanta {
namespace {

using namespace llvm::codeview;
using testing::QueryRun;
using testing::TempDir;

const std::string kQuery = SORVANTA_QUERY_EXECUTABLE;
const std::string kFixtures = SORVANTA_FIXTURES_DIR;

std::string Hex(std::uint64_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(v));
  return text;
}

// ---- The PDB's facts, read with LLVM's reader -------------------------------

struct Op {
  BinaryAnnotationsOpCode code;
  std::uint32_t u1, u2;
  std::int32_t s1;
};

struct Site {
  std::uint32_t inlinee = 0;
  std::vector<Op> ops;
  std::vector<Site> inner;
};

struct Proc {
  std::uint32_t rva = 0, size = 0;
  std::uint32_t module = 0;
  std::vector<Site> sites;
};

struct Module {
  std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> inlinees;  // id: checksum, first line
  std::map<std::uint32_t, std::string> files;                                // checksum offset: name
};

struct Section {
  std::uint32_t rva = 0, size = 0;
};

struct Public {
  std::uint16_t segment = 0;
  std::uint32_t offset = 0;
};

// A place in an inline site: a checksum offset (or kOwnFile) and a line
// offset from the inlinee's first line.
constexpr std::uint32_t kOwnFile = UINT32_MAX;
struct Place {
  std::uint32_t file = kOwnFile;
  std::int32_t line = 0;
};

class Reference {
 public:
  bool Load(const std::string& pdb) {
    std::unique_ptr<llvm::pdb::IPDBSession> session;
    if (llvm::Error e = llvm::pdb::loadDataForPDB(llvm::pdb::PDB_ReaderType::Native, pdb, session)) {
      llvm::consumeError(std::move(e));
      return false;
    }
    llvm::pdb::PDBFile& file = static_cast<llvm::pdb::NativeSession&>(*session).getPDBFile();
    auto dbi = file.getPDBDbiStream();
    auto strings = file.getStringTable();
    auto publics = file.getPDBPublicsStream();
    auto records = file.getPDBSymbolStream();
    if (!dbi || !strings || !publics || !records) return false;
    for (const llvm::object::coff_section& s : dbi->getSectionHeaders()) {
      sections_.push_back({s.VirtualAddress, s.VirtualSize});
    }
    for (const auto offset : publics->getAddressMap()) {
      auto p = SymbolDeserializer::deserializeAs<PublicSym32>(records->readRecord(offset));
      if (!p) return llvm::consumeError(p.takeError()), false;
      publics_.push_back({p->Segment, p->Offset});
    }
    const llvm::pdb::DbiModuleList& list = dbi->modules();
    modules_.resize(list.getModuleCount());
    for (std::uint32_t m = 0; m < list.getModuleCount(); ++m) {
      const llvm::pdb::DbiModuleDescriptor d = list.getModuleDescriptor(m);
      if (d.getModuleStreamIndex() == llvm::pdb::kInvalidStreamIndex) continue;
      auto stream = file.createIndexedStream(d.getModuleStreamIndex());
      if (!stream) return false;
      llvm::pdb::ModuleDebugStreamRef module(d, std::move(stream));
      if (llvm::Error e = module.reload()) return llvm::consumeError(std::move(e)), false;
      if (!ReadModule(module, m, *strings)) return false;
    }
    return true;
  }

  const Proc* FindProc(std::uint32_t rva) const {
    for (const Proc& p : procs_) {
      if (rva >= p.rva && rva - p.rva < p.size) return &p;
    }
    return nullptr;
  }

  // The sites that hold offset, innermost first.
  static std::vector<const Site*> Chain(const Proc& proc, std::uint32_t offset) {
    std::vector<const Site*> chain;
    const std::vector<Site>* level = &proc.sites;
    for (bool deeper = true; deeper;) {
      deeper = false;
      for (const Site& s : *level) {
        if (!PlaceIn(s, offset, proc.size)) continue;
        chain.insert(chain.begin(), &s);
        level = &s.inner;
        deeper = true;
        break;
      }
    }
    return chain;
  }

  // Where offset is in the site by its ranges: each code offset starts a
  // range that the next start or a code length ends.
  static std::optional<Place> PlaceIn(const Site& site, std::uint32_t offset, std::uint32_t procSize) {
    std::uint32_t code = 0;
    Place now;
    std::optional<std::pair<std::uint32_t, Place>> open;  // range start and its place
    std::optional<Place> found;
    auto close = [&](std::uint32_t end) {
      if (open && offset >= open->first && offset < end) found = open->second;
      open.reset();
    };
    auto start = [&] {
      close(code);
      open.emplace(code, now);
    };
    for (const Op& op : site.ops) {
      switch (op.code) {
        case BinaryAnnotationsOpCode::CodeOffset: code = op.u1; start(); break;
        case BinaryAnnotationsOpCode::ChangeCodeOffset: code += op.u1; start(); break;
        case BinaryAnnotationsOpCode::ChangeCodeOffsetAndLineOffset:
          now.line += op.s1;
          code += op.u1;
          start();
          break;
        case BinaryAnnotationsOpCode::ChangeCodeLength:
          if (open) close(open->first + op.u1);
          code += op.u1;
          break;
        case BinaryAnnotationsOpCode::ChangeCodeLengthAndCodeOffset:
          code += op.u2;
          start();
          close(code + op.u1);
          code += op.u1;
          break;
        case BinaryAnnotationsOpCode::ChangeLineOffset: now.line += op.s1; break;
        case BinaryAnnotationsOpCode::ChangeFile: now.file = op.u1; break;
        default: break;
      }
      if (found) return found;
    }
    close(procSize);
    return found;
  }

  // What llvm-symbolizer-14 (NativeInlineSiteSymbol::getLineOffset) makes
  // of the site at offset: every code offset and code length adds to one
  // running offset, and the walk stops after the first annotation that
  // brings it to offset or past; the line and file changes read so far
  // count, and a file of 0 stands for the inlinee's own.
  static Place Llvm14Place(const Site& site, std::uint32_t offset) {
    std::uint32_t code = 0;
    std::uint32_t file = 0;
    std::int32_t line = 0;
    for (const Op& op : site.ops) {
      switch (op.code) {
        case BinaryAnnotationsOpCode::CodeOffset:
        case BinaryAnnotationsOpCode::ChangeCodeOffset:
        case BinaryAnnotationsOpCode::ChangeCodeLength: code += op.u1; break;
        case BinaryAnnotationsOpCode::ChangeCodeLengthAndCodeOffset: code += op.u2; break;
        case BinaryAnnotationsOpCode::ChangeLineOffset:
        case BinaryAnnotationsOpCode::ChangeCodeOffsetAndLineOffset:
          code += op.u1;
          line += op.s1;
          break;
        case BinaryAnnotationsOpCode::ChangeFile: file = op.u1; break;
        default: break;
      }
      if (code >= offset) break;
    }
    return {file == 0 ? kOwnFile : file, line};
  }

  // The first code offset of a site, where its frames start.
  static std::uint32_t FirstCode(const Site& site) {
    std::uint32_t code = 0;
    for (const Op& op : site.ops) {
      switch (op.code) {
        case BinaryAnnotationsOpCode::CodeOffset: return op.u1;
        case BinaryAnnotationsOpCode::ChangeCodeOffset:
        case BinaryAnnotationsOpCode::ChangeCodeOffsetAndLineOffset: return code + op.u1;
        case BinaryAnnotationsOpCode::ChangeCodeLengthAndCodeOffset: return code + op.u2;
        default: break;
      }
    }
    return code;
  }

  // file:line of a place in a site of proc.
  std::pair<std::string, std::uint32_t> Where(const Proc& proc, const Site& site, Place place) const {
    const Module& m = modules_[proc.module];
    const auto inlinee = m.inlinees.find(site.inlinee);
    if (inlinee == m.inlinees.end()) return {"<no inlinee line>", 0};
    const std::uint32_t file = place.file == kOwnFile ? inlinee->second.first : place.file;
    const auto name = m.files.find(file);
    return {name == m.files.end() ? "<no file>" : name->second,
            static_cast<std::uint32_t>(static_cast<std::int32_t>(inlinee->second.second) + place.line)};
  }

  // The public at or below rva inside its section's [start, start+VirtualSize).
  std::optional<Public> PublicInSection(std::uint32_t rva) const {
    std::optional<Public> best;
    for (const Public& p : publics_) {
      if (p.segment == 0 || p.segment > sections_.size()) continue;
      const Section& s = sections_[p.segment - 1];
      if (rva < s.rva || rva - s.rva >= s.size || p.offset > rva - s.rva) continue;
      if (!best || p.offset > best->offset) best = p;
    }
    return best;
  }

  // llvm-symbolizer-14's public for an address in no function: the section
  // is the last one that starts at or below rva (NativeSession::addressForRVA,
  // 0 before the first), and the public is the greatest (segment, offset)
  // at or below (section, offset) (SymbolCache::findPublicSymbolBySectOffset).
  std::optional<Public> Llvm14Public(std::uint32_t rva) const {
    std::uint16_t section = 0;
    std::uint32_t offset = rva;
    for (std::size_t i = 0; i < sections_.size() && rva >= sections_[i].rva; ++i) {
      section = static_cast<std::uint16_t>(i + 1);
      offset = rva - sections_[i].rva;
    }
    std::optional<Public> best;
    auto below = [](const Public& a, const Public& b) {
      return a.segment < b.segment || (a.segment == b.segment && a.offset < b.offset);
    };
    for (const Public& p : publics_) {
      if (below({section, offset}, p)) continue;
      if (!best || below(*best, p)) best = p;
    }
    return best;
  }

  std::uint32_t Rva(const Public& p) const { return sections_[p.segment - 1].rva + p.offset; }
  const std::vector<Section>& sections() const { return sections_; }

 private:
  bool ReadModule(const llvm::pdb::ModuleDebugStreamRef& module, std::uint32_t m,
                  const llvm::pdb::PDBStringTable& strings) {
    Module& out = modules_[m];
    for (const DebugSubsectionRecord& ss : module.subsections()) {
      if (ss.kind() != DebugSubsectionKind::InlineeLines) continue;
      DebugInlineeLinesSubsectionRef lines;
      llvm::BinaryStreamReader reader(ss.getRecordData());
      if (llvm::Error e = lines.initialize(reader)) return llvm::consumeError(std::move(e)), false;
      for (const InlineeSourceLine& l : lines) {
        out.inlinees.emplace(l.Header->Inlinee.getIndex(), std::make_pair(l.Header->FileID, l.Header->SourceLineNum));
      }
    }
    if (auto checksums = module.findChecksumsSubsection()) {
      for (auto it = checksums->getArray().begin(); it != checksums->getArray().end(); ++it) {
        auto name = strings.getStringForID(it->FileNameOffset);
        if (!name) return llvm::consumeError(name.takeError()), false;
        out.files[it.offset()] = name->str();
      }
    } else {
      llvm::consumeError(checksums.takeError());
    }
    // Scopes nest: procedures and blocks end with S_END, inline sites
    // with S_INLINESITE_END; a site belongs to the innermost site or
    // procedure around it.
    std::vector<Site*> sites;  // one per open scope; null for a block
    Proc* proc = nullptr;
    for (const CVSymbol& record : module.getSymbolArray()) {
      switch (record.kind()) {
        case S_GPROC32:
        case S_LPROC32: {
          auto p = SymbolDeserializer::deserializeAs<ProcSym>(record);
          if (!p || p->Segment == 0 || p->Segment > sections_.size()) {
            if (!p) llvm::consumeError(p.takeError());
            return false;
          }
          procs_.push_back({sections_[p->Segment - 1].rva + p->CodeOffset, p->CodeSize, m, {}});
          proc = &procs_.back();
          sites.assign(1, nullptr);
          break;
        }
        case S_BLOCK32:
        case S_THUNK32:
        case S_SEPCODE:
          sites.push_back(sites.empty() ? nullptr : sites.back());
          break;
        case S_INLINESITE: {
          auto s = SymbolDeserializer::deserializeAs<InlineSiteSym>(record);
          if (!s || !proc || sites.empty()) {
            if (!s) llvm::consumeError(s.takeError());
            return false;
          }
          Site site;
          site.inlinee = s->Inlinee.getIndex();
          for (const DecodedAnnotation& a : s->annotations()) site.ops.push_back({a.OpCode, a.U1, a.U2, a.S1});
          std::vector<Site>& into = sites.back() ? sites.back()->inner : proc->sites;
          into.push_back(std::move(site));
          sites.push_back(&into.back());
          break;
        }
        case S_END:
        case S_PROC_ID_END:
        case S_INLINESITE_END:
          if (!sites.empty()) sites.pop_back();
          break;
        default:
          break;
      }
    }
    return true;
  }

  std::vector<Section> sections_;
  std::vector<Public> publics_;
  std::vector<Module> modules_;
  std::vector<Proc> procs_;
};

// ---- The two programs' answers ---------------------------------------------

struct Frame {
  std::string name, file;
  std::uint32_t line = 0, column = 0;
  std::string startAddress, startFile;  // JSON only
  std::uint32_t startLine = 0;
  bool operator==(const Frame& o) const {
    return name == o.name && file == o.file && line == o.line && column == o.column &&
           startAddress == o.startAddress && startFile == o.startFile && startLine == o.startLine;
  }
};
using Answer = std::vector<Frame>;

enum class Style { kLlvm, kGnu, kJson };

std::string Text(const Answer& a) {
  std::string text;
  for (const Frame& f : a) {
    text += "[" + f.name + " | " + f.file + ":" + std::to_string(f.line) + ":" + std::to_string(f.column);
    if (!f.startAddress.empty() || !f.startFile.empty() || f.startLine != 0) {
      text += " start " + f.startAddress + " " + f.startFile + ":" + std::to_string(f.startLine);
    }
    text += "] ";
  }
  return text;
}

// One answer per line of JSON.
bool ParseJson(const std::string& out, std::vector<Answer>* answers) {
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    if (j.is_discarded() || !j.contains("Symbol")) return false;
    Answer a;
    for (const nlohmann::json& s : j["Symbol"]) {
      a.push_back({s["FunctionName"].get<std::string>(), s["FileName"].get<std::string>(),
                   s["Line"].get<std::uint32_t>(), s["Column"].get<std::uint32_t>(),
                   s["StartAddress"].get<std::string>(), s["StartFileName"].get<std::string>(),
                   s["StartLine"].get<std::uint32_t>()});
    }
    answers->push_back(std::move(a));
  }
  return true;
}

// Text answers, two lines a frame (and an empty line after each answer in
// the LLVM style), as many frames as the same program's JSON gave: a name
// line may be empty, so the text alone cannot be split.
bool ParseText(const std::string& out, Style style, const std::vector<Answer>& shape, std::vector<Answer>* answers) {
  std::istringstream in(out);
  auto next = [&](std::string* line) { return static_cast<bool>(std::getline(in, *line)); };
  for (const Answer& s : shape) {
    Answer a;
    for (std::size_t i = 0; i < s.size(); ++i) {
      Frame f;
      std::string where;
      if (!next(&f.name) || !next(&where)) return false;
      std::size_t colon = where.rfind(':');
      if (colon == std::string::npos) return false;
      if (style == Style::kLlvm) {
        f.column = static_cast<std::uint32_t>(std::stoul(where.substr(colon + 1)));
        where.resize(colon);
        colon = where.rfind(':');
        if (colon == std::string::npos) return false;
      }
      f.line = static_cast<std::uint32_t>(std::stoul(where.substr(colon + 1)));
      f.file = where.substr(0, colon);
      a.push_back(std::move(f));
    }
    std::string empty;
    if (style == Style::kLlvm && (!next(&empty) || !empty.empty())) return false;
    answers->push_back(std::move(a));
  }
  std::string rest;
  return !next(&rest);
}

struct Fixture {
  std::string image;    // in the fixtures folder, without .exe
  std::string pdbName;  // the name the image records
};

void PrintTo(const Fixture& f, std::ostream* out) { *out << f.image; }

class SymbolizeLlvm : public ::testing::TestWithParam<Fixture> {
 protected:
  void SetUp() override {
    llvm_ = testing::Shell("command -v llvm-symbolizer-14");
    while (!llvm_.empty() && (llvm_.back() == '\n' || llvm_.back() == '\r')) llvm_.pop_back();
    if (llvm_.empty()) GTEST_SKIP() << "llvm-symbolizer-14 is not installed (scripts/setup installs it)";
    // Both programs find the PDB beside the image under its recorded name.
    exe_ = dir_.File(GetParam().image + ".exe");
    testing::WriteBytes(exe_, testing::ReadBytes(kFixtures + "/" + GetParam().image + ".exe"));
    testing::WriteBytes(dir_.File(GetParam().pdbName),
                        testing::ReadBytes(kFixtures + "/" + GetParam().image + ".pdb"));
    ASSERT_TRUE(reference_.Load(dir_.File(GetParam().pdbName)));
    auto buffer = llvm::MemoryBuffer::getFile(exe_);
    ASSERT_TRUE(buffer);
    auto coff = llvm::object::COFFObjectFile::create((*buffer)->getMemBufferRef());
    ASSERT_TRUE(static_cast<bool>(coff));
    base_ = (*coff)->getImageBase();
    // Every byte from the image's headers to a page past its last section,
    // so that answer i is for RVA i.
    std::uint32_t end = 0;
    for (const Section& s : reference_.sections()) end = std::max(end, s.rva + s.size);
    end = (end + 0x1FFF) & ~0xFFFu;
    for (std::uint32_t rva = 0; rva < end; ++rva) {
      addresses_.push_back(base_ + rva);
      input_ += Hex(base_ + rva) + "\n";
    }
  }

  std::vector<Answer> Run(bool ours, Style style, bool inlines, const std::vector<Answer>* shape) {
    std::vector<std::string> args;
    if (ours) args = {"symbolize", exe_};
    else args = {"--obj=" + exe_};
    args.push_back(style == Style::kLlvm ? "--output-style=LLVM"
                   : style == Style::kGnu ? "--output-style=GNU" : "--output-style=JSON");
    if (!inlines) args.push_back("--no-inlines");
    const QueryRun run = testing::RunProgram(ours ? kQuery : llvm_, args, input_);
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<Answer> answers;
    const bool parsed = style == Style::kJson ? ParseJson(run.out, &answers)
                                              : ParseText(run.out, style, *shape, &answers);
    EXPECT_TRUE(parsed) << (ours ? "sorvanta-query" : "llvm-symbolizer-14") << " output unreadable";
    EXPECT_EQ(answers.size(), addresses_.size());
    answers.resize(addresses_.size());
    return answers;
  }

  // What llvm-symbolizer-14 must answer at RVA i, made from our answer
  // there and the faults above, after holding our answer against the PDB's
  // facts where llvm-symbolizer-14 cannot be the reference. ours is the
  // style's answers, oursLlvm the LLVM style's (for the line at a
  // function's start); both are indexed by RVA.
  Answer Expected(std::size_t i, Style style, bool inlines, const std::vector<Answer>& ours,
                  const std::vector<Answer>& oursLlvm) {
    const std::uint64_t va = addresses_[i];
    const auto rva = static_cast<std::uint32_t>(va - base_);
    const std::string unknown = style == Style::kJson ? "" : "??";
    Answer expected = ours[i];
    auto fail = [&](const std::string& why) {
      if (++failures_ <= 20) ADD_FAILURE() << Hex(va) << ": " << why << "; ours: " << Text(ours[i]);
    };
    if (const Proc* proc = reference_.FindProc(rva)) {
      const std::uint32_t offset = rva - proc->rva;
      const std::vector<const Site*> chain = inlines ? Reference::Chain(*proc, offset) : std::vector<const Site*>{};
      if (expected.size() != chain.size() + 1) {
        fail(std::to_string(chain.size()) + " inline sites hold the address");
        return expected;
      }
      for (std::size_t k = 0; k < chain.size(); ++k) {
        const Site& site = *chain[k];
        const auto right = reference_.Where(*proc, site, *Reference::PlaceIn(site, offset, proc->size));
        const auto llvm14 = reference_.Where(*proc, site, Reference::Llvm14Place(site, offset));
        if (expected[k].file != right.first || expected[k].line != right.second || expected[k].column != 0) {
          fail("inline frame " + std::to_string(k) + " is at " + right.first + ":" + std::to_string(right.second));
        }
        if (style == Style::kJson) {
          const auto first = reference_.Where(*proc, site, Place{});
          if (expected[k].startAddress != Hex(base_ + proc->rva + Reference::FirstCode(site)) ||
              expected[k].startFile != first.first || expected[k].startLine != first.second) {
            fail("inline frame " + std::to_string(k) + " starts at " +
                 Hex(base_ + proc->rva + Reference::FirstCode(site)) + " " + first.first + ":" +
                 std::to_string(first.second));
          }
        }
        if (llvm14 != right) ++nextRangeLines_;
        expected[k].file = llvm14.first;
        expected[k].line = llvm14.second;
      }
      if (style == Style::kJson) {
        // The function's start: its address and the line there.
        const Frame& atStart = oursLlvm[proc->rva].back();
        const Frame& outer = expected.back();
        if (outer.startAddress != Hex(base_ + proc->rva) || outer.startFile != atStart.file ||
            outer.startLine != atStart.line) {
          fail("the function starts at " + Hex(base_ + proc->rva) + " " + atStart.file + ":" +
               std::to_string(atStart.line));
        }
      }
    } else if (const std::optional<Public> p = reference_.PublicInSection(rva)) {
      if (expected.size() != 1 || expected[0].name == unknown ||
          (style == Style::kJson && expected[0].startAddress != Hex(base_ + reference_.Rva(*p)))) {
        fail("the public at " + Hex(base_ + reference_.Rva(*p)) + " names the address");
      }
    } else {
      const Frame none{unknown, unknown, 0, 0, "", "", 0};
      if (expected.size() != 1 || !(expected[0] == none)) {
        fail("no function and no public of its section holds the address");
        return expected;
      }
      const std::optional<Public> nearest = reference_.Llvm14Public(rva);
      expected[0].name = nearest ? ours[reference_.Rva(*nearest)].back().name : "";
      ++(nearest ? publicPastSection_ : noName_);
    }
    if (style == Style::kJson) {
      for (Frame& f : expected) f.startAddress = f.startFile = "", f.startLine = 0;
    }
    return expected;
  }

  void Compare(Style style, bool inlines) {
    const std::vector<Answer> oursJson = Run(true, Style::kJson, inlines, nullptr);
    const std::vector<Answer> llvmJson = Run(false, Style::kJson, inlines, nullptr);
    const std::vector<Answer> ours = style == Style::kJson ? oursJson : Run(true, style, inlines, &oursJson);
    const std::vector<Answer> llvm = style == Style::kJson ? llvmJson : Run(false, style, inlines, &llvmJson);
    const std::vector<Answer> oursLlvm = style == Style::kLlvm ? ours : Run(true, Style::kLlvm, inlines, &oursJson);
    ASSERT_FALSE(HasFailure());
    for (std::size_t i = 0; i < addresses_.size(); ++i) {
      const Answer expected = Expected(i, style, inlines, ours, oursLlvm);
      if (llvm[i] != expected && ++failures_ <= 20) {
        ADD_FAILURE() << Hex(addresses_[i]) << "\n  llvm-symbolizer-14: " << Text(llvm[i])
                      << "\n  expected:           " << Text(expected) << "\n  ours:               " << Text(ours[i]);
      }
    }
    EXPECT_EQ(failures_, 0u) << "answers that differ";
    // The faults are there to be matched: an emulation nothing needs
    // would hide nothing, but would prove nothing either.
    EXPECT_GT(publicPastSection_, 0u);
    EXPECT_GT(noName_, 0u);
    if (inlines && GetParam().image.rfind("inline", 0) == 0) {
      EXPECT_GT(nextRangeLines_, 0u);
    }
  }

  TempDir dir_;
  std::string llvm_;
  std::string exe_;
  Reference reference_;
  std::uint64_t base_ = 0;
  std::vector<std::uint64_t> addresses_;
  std::string input_;
  std::size_t failures_ = 0;
  std::size_t nextRangeLines_ = 0, publicPastSection_ = 0, noName_ = 0;
};

TEST_P(SymbolizeLlvm, LlvmStyle) { Compare(Style::kLlvm, true); }
TEST_P(SymbolizeLlvm, GnuStyle) { Compare(Style::kGnu, true); }
TEST_P(SymbolizeLlvm, JsonStyle) { Compare(Style::kJson, true); }
TEST_P(SymbolizeLlvm, NoInlines) { Compare(Style::kLlvm, false); }

INSTANTIATE_TEST_SUITE_P(Images, SymbolizeLlvm,
                         ::testing::Values(Fixture{"inline-x64", "inline-x64.pdb"},
                                           Fixture{"inline-x86", "inline-x86.pdb"},
                                           Fixture{"sample-x64", "sample.pdb"}),
                         [](const ::testing::TestParamInfo<Fixture>& info) {
                           std::string name = info.param.image;
                           for (char& c : name) c = c == '-' ? '_' : c;
                           return name;
                         });

// Lines that are no address, as llvm-symbolizer-14 answers them: echoed
// in the text styles, an Error object in JSON; the exit status tells.
TEST(SymbolizeInput, LinesThatAreNoAddress) {
  std::string llvm = testing::Shell("command -v llvm-symbolizer-14");
  while (!llvm.empty() && llvm.back() == '\n') llvm.pop_back();
  if (llvm.empty()) GTEST_SKIP() << "llvm-symbolizer-14 is not installed (scripts/setup installs it)";
  const std::string exe = kFixtures + "/inline-x64.exe";
  const std::string input = "0x140001000\nzz\n\n0x1FFFFFFFFFFFFFFFFF\n  0x140001000\n-1\n";
  for (const char* style : {"LLVM", "GNU", "JSON"}) {
    SCOPED_TRACE(style);
    const QueryRun ours =
        testing::RunProgram(kQuery, {"symbolize", exe, std::string("--output-style=") + style}, input);
    const QueryRun theirs = testing::RunProgram(llvm, {"--obj=" + exe, std::string("--output-style=") + style}, input);
    EXPECT_EQ(ours.status, 1);
    EXPECT_EQ(ours.err,
              "sorvanta-query: not an address: zz\nsorvanta-query: not an address: \n"
              "sorvanta-query: not an address: 0x1FFFFFFFFFFFFFFFFF\nsorvanta-query: not an address: -1\n");
    if (std::string(style) != "JSON") {
      EXPECT_EQ(ours.out, theirs.out);
      continue;
    }
    // JSON: the same Error lines (the answers differ in the start fields,
    // which the comparison above covers).
    std::istringstream a(ours.out), b(theirs.out);
    std::string x, y;
    std::size_t errors = 0;
    while (std::getline(a, x) && std::getline(b, y)) {
      if (x.find("\"Error\"") == std::string::npos) continue;
      ++errors;
      EXPECT_EQ(x, y);
    }
    EXPECT_EQ(errors, 4u);
  }
}

// The same answers whatever form the addresses take: VAs at the image's
// base or another, RVAs of the image, RVAs or VAs with a PDB alone.
TEST(SymbolizeInput, AddressForms) {
  for (const std::string image : {"inline-x64", "inline-x86"}) {
    SCOPED_TRACE(image);
    const std::string exe = kFixtures + "/" + image + ".exe";
    const std::string pdb = kFixtures + "/" + image + ".pdb";
    const std::uint64_t preferred = image == "inline-x64" ? 0x140000000 : 0x400000;
    auto addresses = [](std::uint64_t base) {
      std::string text;
      for (std::uint32_t rva = 0; rva < 0x3000; ++rva) text += Hex(base + rva) + "\n";
      return text;
    };
    const QueryRun va = testing::RunProgram(kQuery, {"symbolize", exe}, addresses(preferred));
    ASSERT_EQ(va.status, 0) << va.err;
    ASSERT_NE(va.out.find("UseVec(int, int)"), std::string::npos);
    const std::vector<std::pair<std::vector<std::string>, std::uint64_t>> forms{
        {{"symbolize", exe, "--relative-address"}, 0},
        {{"symbolize", exe, "--base", "0x7ff600000000"}, 0x7ff600000000},
        {{"symbolize", pdb}, 0},
        {{"symbolize", pdb, "--base", Hex(preferred)}, preferred},
        {{"symbolize", pdb, "--base", "0x10000"}, 0x10000},
    };
    for (const auto& [args, base] : forms) {
      SCOPED_TRACE(args.back());
      const QueryRun run = testing::RunProgram(kQuery, args, addresses(base));
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_TRUE(run.out == va.out);
    }
  }
}

}  // namespace
}  // namespace sorvanta
