// The public-symbol table built straight from stream bytes: which records
// count, their order, the nearest-public rule, and damaged streams, which
// are refused whole, never read in part or out of bounds.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "PdbBytes.h"
#include "PublicTable.h"
#include "SectionTable.h"

namespace sorvanta {
namespace {

using testing::AppendPublic;
using testing::ByteWriter;
using testing::Bytes;

// A symbol-record stream and the publics stream whose hash points into it.
struct Streams {
  ByteWriter records;
  std::vector<std::uint32_t> hashed;  // record offsets the hash lists

  // Appends an S_PUB32 record and lists it in the hash.
  std::uint32_t Pub(const std::string& name, std::uint16_t segment, std::uint32_t offset,
                    std::uint32_t flags = 0x2) {
    const std::uint32_t at = records.size();
    AppendPublic(records, name, segment, offset, flags);
    hashed.push_back(at);
    return at;
  }
  Bytes Publics(std::uint32_t signature = 0xFFFFFFFFu) const {
    return testing::PublicsStreamBytes(hashed, signature);
  }
};

// Sections 1 and 2 at 0x1000 and 0x2000, 0x100 bytes each.
SectionTable Sections() {
  SectionTable sections;
  EXPECT_EQ(SectionTable::Parse(testing::SectionHeaderBytes({{0x1000, 0x100}, {0x2000, 0x100}}), &sections),
            S_OK);
  return sections;
}

HRESULT Build(const Streams& s, const Bytes& publics, PublicTable* table) {
  return table->Build(publics, s.records.bytes, Sections(), 0);
}

PublicTable Built(const Streams& s) {
  PublicTable table;
  EXPECT_EQ(Build(s, s.Publics(), &table), S_OK);
  return table;
}

std::vector<std::string> Names(const PublicTable& t) {
  std::vector<std::string> names;
  std::string scratch;
  for (std::uint32_t i = 0; i < t.size(); ++i) names.emplace_back(t.Name(i, &scratch));
  return names;
}

TEST(PublicTable, FunctionPublicsInAddressOrderDemangled) {
  Streams s;
  s.Pub("?b@@YAXXZ", 2, 0x10);
  s.Pub("data", 1, 0x00, 0x0);          // no function flag
  s.Pub("code_only", 1, 0x08, 0x1);     // code, not a function
  s.Pub("?a@@YAHH@Z", 1, 0x20);
  s.Pub("nowhere", 3, 0x0);             // no such section
  s.Pub("same_a", 1, 0x20);
  const PublicTable t = Built(s);
  EXPECT_EQ(Names(t), (std::vector<std::string>{"int __cdecl a(int)", "same_a", "void __cdecl b(void)",
                                                "nowhere"}));
  // Asked again, the names come from the cache unchanged.
  EXPECT_EQ(Names(t), (std::vector<std::string>{"int __cdecl a(int)", "same_a", "void __cdecl b(void)",
                                                "nowhere"}));
  EXPECT_EQ(t.RawName(0), "?a@@YAHH@Z");
  EXPECT_EQ(t.record(0).rva(), 0x1020u);
  EXPECT_EQ(t.record(2).rva(), 0x2010u);
  EXPECT_EQ(t.record(3).rva(), std::nullopt);
  EXPECT_EQ(t.maxRva(), 0x2010u);
}

// Names asked for in two tables by turns each go on in the table's own
// cache block, rather than starting a block on every turn.
TEST(PublicTable, NamingTwoTablesByTurnsKeepsOneCacheBlockEach) {
  Streams s;
  for (int i = 0; i < 40; ++i) s.Pub("?f" + std::to_string(i) + "@@YAXXZ", 1, static_cast<std::uint32_t>(i));
  const PublicTable first = Built(s);
  const PublicTable second = Built(s);
  const std::size_t before = first.memoryBytes() + second.memoryBytes();
  std::string scratch;
  for (std::uint32_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(first.Name(i, &scratch), second.Name(i, &scratch));
  }
  EXPECT_LE(first.memoryBytes() + second.memoryBytes() - before, 2 * PublicTable::kCacheBlockBytes + 4096);
}

TEST(PublicTable, NearestAtOrBelowStaysInsideItsSection) {
  Streams s;
  s.Pub("first", 1, 0x20);
  s.Pub("twin", 1, 0x40);
  s.Pub("twin2", 1, 0x40);
  s.Pub("second", 2, 0x0);
  const PublicTable t = Built(s);
  EXPECT_EQ(t.FindAtOrBelow(0x101F), std::nullopt);
  EXPECT_EQ(t.FindAtOrBelow(0x1020), 0u);
  EXPECT_EQ(t.FindAtOrBelow(0x103F), 0u);
  EXPECT_EQ(t.FindAtOrBelow(0x1040), 1u);  // the first of two at one address
  EXPECT_EQ(t.FindAtOrBelow(0x10FF), 1u);
  EXPECT_EQ(t.FindAtOrBelow(0x1100), std::nullopt);  // past section 1
  EXPECT_EQ(t.FindAtOrBelow(0x2000), 3u);
  EXPECT_EQ(t.FindAtOrBelow(0x2100), std::nullopt);
  EXPECT_EQ(t.FindAtOrBelow(UINT32_MAX), std::nullopt);
}

TEST(PublicTable, NameSearchFoldsCaseOnTheDemangledName) {
  Streams s;
  s.Pub("?Größe@@YAXXZ", 1, 0x0);
  s.Pub("raw", 1, 0x8);
  const PublicTable t = Built(s);
  EXPECT_EQ(t.Find("VOID __CDECL GRÖSSE(VOID)", true), std::vector<std::uint32_t>{});
  EXPECT_EQ(t.Find("VOID __CDECL GRÖßE(VOID)", true), std::vector<std::uint32_t>{0});
  EXPECT_EQ(t.Find("RAW", false), std::vector<std::uint32_t>{});
  EXPECT_EQ(t.Find("raw", false), std::vector<std::uint32_t>{1});
}

TEST(PublicTable, DamagedStreamsAreRefusedWhole) {
  // Each damage in a table that also lists a good public.
  auto refused = [](const std::function<void(Streams&, Bytes&)>& damage) {
    Streams s;
    s.Pub("good", 1, 0x10);
    s.Pub("also_good", 1, 0x20);
    Bytes publics = s.Publics();
    damage(s, publics);
    PublicTable t;
    const HRESULT hr = Build(s, publics, &t);
    return hr == E_PDB_CORRUPT && t.size() == 0;
  };
  auto relist = [](Streams& s, Bytes& publics) { publics = s.Publics(); };
  EXPECT_TRUE(refused([&](Streams& s, Bytes& p) { s.hashed.push_back(s.hashed[0]), relist(s, p); }));
  EXPECT_TRUE(refused([&](Streams& s, Bytes& p) { s.hashed.push_back(2), relist(s, p); }));  // inside a record
  EXPECT_TRUE(refused([&](Streams& s, Bytes& p) {
    s.hashed.push_back(s.records.size()), relist(s, p);
  }));
  EXPECT_TRUE(refused([&](Streams& s, Bytes& p) { s.hashed.push_back(0xFFFFFFF0u), relist(s, p); }));
  EXPECT_TRUE(refused([&](Streams& s, Bytes&) {  // the last record claims more than the stream
    s.records.bytes[s.hashed[1]] = 0xFF;
    s.records.bytes[s.hashed[1] + 1] = 0x7F;
  }));
  EXPECT_TRUE(refused([&](Streams& s, Bytes&) { s.records.bytes[s.hashed[1] + 2] = 0x10; }));  // no S_PUB32
  EXPECT_TRUE(refused([&](Streams& s, Bytes& p) { p = s.Publics(0x12345678); }));  // unknown hash
  EXPECT_TRUE(refused([&](Streams&, Bytes& p) { p.resize(30); }));               // cut short
  EXPECT_TRUE(refused([&](Streams&, Bytes& p) { p[0] = 0xFF, p[1] = 0xFF; }));   // hash past the end
  EXPECT_TRUE(refused([&](Streams&, Bytes& p) { p[28 + 16] = 0; }));             // offset + 1 stored as 0
  EXPECT_TRUE(refused([&](Streams&, Bytes& p) { p.clear(); }));

  // Records a byte apart, each a valid S_PUB32 at its own offset: a small
  // stream cannot stand for more publics than it holds.
  Streams overlapping;
  for (int i = 0; i < 16; ++i) overlapping.records.U16(0x110E);
  for (std::uint32_t at = 0; at + 14 <= overlapping.records.size(); at += 2) overlapping.hashed.push_back(at);
  PublicTable t;
  EXPECT_EQ(Build(overlapping, overlapping.Publics(), &t), E_PDB_CORRUPT);

  // A name running to the end of its record without a terminator ends there.
  Streams u;
  u.Pub("abcd", 1, 0x0);
  u.records.bytes.back() = 'e';  // the terminator and the padding byte
  u.records.bytes[u.records.size() - 2] = 'e';
  t = Built(u);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t.RawName(0), "abcdee");
  // An empty hash is a table without publics.
  EXPECT_EQ(Built(Streams()).size(), 0u);
  EXPECT_EQ(t.FindAtOrBelow(0x3000), std::nullopt);
}

TEST(PublicTable, ManyPublicsAtOneAddressAreFoundAtOnce) {
  Streams s;
  for (int i = 0; i < 20000; ++i) s.Pub("same", 1, 0x40);
  const PublicTable t = Built(s);
  ASSERT_EQ(t.size(), 20000u);
  // Each lookup finds the first at the address in logarithmic time; a walk
  // back over the others would make this loop quadratic.
  for (std::uint32_t rva = 0x1040; rva < 0x1040 + 20000; ++rva) {
    ASSERT_EQ(t.FindAtOrBelow(std::min<std::uint32_t>(rva, 0x10FF)), 0u);
  }
}

}  // namespace
}  // namespace sorvanta
