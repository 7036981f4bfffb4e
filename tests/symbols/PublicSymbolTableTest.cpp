// The public-symbol table built straight from stream bytes: which records
// count, their order, the nearest-public rule, and damaged streams, which
// must lose only what is damaged and never read out of bounds.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "PublicSymbolTable.h"

namespace sorvanta {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A symbol-record stream and the publics stream whose hash points into it.
struct Streams {
  Bytes records;
  std::vector<std::uint32_t> hashed;  // record offsets the hash lists

  // Appends an S_PUB32 record and lists it in the hash.
  std::uint32_t Pub(const std::string& name, std::uint16_t segment, std::uint32_t offset,
                    std::uint32_t flags = 0x2) {
    const auto at = static_cast<std::uint32_t>(records.size());
    Bytes body;
    Put32(body, flags);
    Put32(body, offset);
    Put16(body, segment);
    body.insert(body.end(), name.begin(), name.end());
    body.push_back(0);
    while ((body.size() + 4) % 4 != 0) body.push_back(0);
    Put16(records, static_cast<std::uint16_t>(body.size() + 2));
    Put16(records, 0x110E);
    records.insert(records.end(), body.begin(), body.end());
    hashed.push_back(at);
    return at;
  }

  Bytes Publics(std::uint32_t signature = 0xFFFFFFFFu) const {
    Bytes hash;
    Put32(hash, signature);
    Put32(hash, 0xEFFE0000u + 19990810u);
    Put32(hash, static_cast<std::uint32_t>(hashed.size() * 8));
    Put32(hash, 0);
    for (const std::uint32_t offset : hashed) {
      Put32(hash, offset + 1);
      Put32(hash, 1);
    }
    Bytes publics;
    Put32(publics, static_cast<std::uint32_t>(hash.size()));
    for (int i = 0; i < 6; ++i) Put32(publics, 0);  // address map size, thunks, sections
    publics.insert(publics.end(), hash.begin(), hash.end());
    return publics;
  }
};

const std::vector<PublicSymbolTable::Section> kSections{{0x1000, 0x100}, {0x2000, 0x100}};

PublicSymbolTable Build(const Streams& s, const Bytes& publics) {
  PublicSymbolTable table;
  table.Build(publics.data(), publics.size(), s.records.data(), s.records.size(), kSections);
  return table;
}

std::vector<std::string> Names(const PublicSymbolTable& t) {
  std::vector<std::string> names;
  for (std::uint32_t i = 0; i < t.size(); ++i) names.push_back(t.Name(i));
  return names;
}

TEST(PublicSymbolTable, FunctionPublicsInAddressOrderDemangled) {
  Streams s;
  s.Pub("?b@@YAXXZ", 2, 0x10);
  s.Pub("data", 1, 0x00, 0x0);          // no function flag
  s.Pub("code_only", 1, 0x08, 0x1);     // code, not a function
  s.Pub("?a@@YAHH@Z", 1, 0x20);
  s.Pub("nowhere", 3, 0x0);             // no such section
  s.Pub("same_a", 1, 0x20);
  const PublicSymbolTable t = Build(s, s.Publics());
  EXPECT_EQ(Names(t), (std::vector<std::string>{"int __cdecl a(int)", "same_a", "void __cdecl b(void)",
                                                "nowhere"}));
  EXPECT_EQ(t.RawName(0), "?a@@YAHH@Z");
  EXPECT_EQ(t.Rva(0), 0x1020u);
  EXPECT_EQ(t.Rva(2), 0x2010u);
  EXPECT_EQ(t.Rva(3), std::nullopt);
  EXPECT_EQ(t.maxRva(), 0x2010u);
}

TEST(PublicSymbolTable, NearestAtOrBelowStaysInsideItsSection) {
  Streams s;
  s.Pub("first", 1, 0x20);
  s.Pub("twin", 1, 0x40);
  s.Pub("twin2", 1, 0x40);
  s.Pub("second", 2, 0x0);
  const PublicSymbolTable t = Build(s, s.Publics());
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

TEST(PublicSymbolTable, NameSearchFoldsCaseOnTheDemangledName) {
  Streams s;
  s.Pub("?Größe@@YAXXZ", 1, 0x0);
  s.Pub("raw", 1, 0x8);
  const PublicSymbolTable t = Build(s, s.Publics());
  EXPECT_EQ(t.FindByName(L"VOID __CDECL GRÖSSE(VOID)", true), std::vector<std::uint32_t>{});
  EXPECT_EQ(t.FindByName(L"VOID __CDECL GRÖßE(VOID)", true), std::vector<std::uint32_t>{0});
  EXPECT_EQ(t.FindByName(L"RAW", false), std::vector<std::uint32_t>{});
  EXPECT_EQ(t.FindByName(L"raw", false), std::vector<std::uint32_t>{1});
}

TEST(PublicSymbolTable, DamagedStreamsLoseOnlyWhatIsDamaged) {
  Streams s;
  const std::uint32_t good = s.Pub("good", 1, 0x10);
  const std::uint32_t cut = s.Pub("cut_short", 1, 0x20);
  s.hashed.push_back(good);                                   // listed twice
  s.hashed.push_back(2);                                      // inside a record
  s.hashed.push_back(static_cast<std::uint32_t>(s.records.size()));  // at the very end
  s.hashed.push_back(0xFFFFFFF0u);                            // far past it
  // The last record claims more bytes than the stream holds.
  s.records[cut] = 0xFF;
  s.records[cut + 1] = 0x7F;
  PublicSymbolTable t = Build(s, s.Publics());
  EXPECT_EQ(Names(t), std::vector<std::string>{"good"});

  // A name running to the end of its record without a terminator ends there.
  Streams u;
  u.Pub("abcd", 1, 0x0);
  u.records.back() = 'e';  // the terminator and the padding byte
  u.records[u.records.size() - 2] = 'e';
  t = Build(u, u.Publics());
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t.RawName(0), "abcdee");

  // Hash of an unknown kind, publics too short, a hash size past the
  // stream's end, no streams at all: no publics, no failure.
  EXPECT_EQ(Build(s, s.Publics(0x12345678)).size(), 0u);
  Bytes publics = s.Publics();
  EXPECT_EQ(Build(s, Bytes(publics.begin(), publics.begin() + 30)).size(), 0u);
  publics[0] = 0xFF;
  publics[1] = 0xFF;
  EXPECT_EQ(Build(s, publics).size(), 0u);
  PublicSymbolTable empty;
  empty.Build(nullptr, 0, nullptr, 0, {});
  EXPECT_EQ(empty.size(), 0u);
  EXPECT_EQ(empty.FindAtOrBelow(0x1000), std::nullopt);
}

}  // namespace
}  // namespace sorvanta
