// The info stream and the string table it names ("/names"), read straight
// from their bytes: good streams, and damage that must give the documented
// outcome without a read past the bytes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "InfoStream.h"
#include "PdbBytes.h"
#include "StringTable.h"

namespace sorvanta {
namespace {

using testing::ByteWriter;
using testing::Bytes;
using testing::InfoStreamBytes;

// Where the name map starts: after version, signature, age and GUID.
constexpr std::size_t kNameMapAt = 28;

TEST(InfoStream, ReadsTheHeaderAndFindsNamedStreams) {
  Bytes guid(16);
  for (std::size_t i = 0; i < guid.size(); ++i) guid[i] = static_cast<std::uint8_t>(0xA0 + i);
  InfoStream info;
  ASSERT_EQ(InfoStream::Parse(InfoStreamBytes({{"/LinkInfo", 5}, {"/names", 12}, {"/src/headerblock", 7}},
                                              20000404, 3, guid),
                              &info),
            S_OK);
  EXPECT_EQ(info.version(), 20000404u);
  EXPECT_EQ(info.signature(), 0x5EEDu);
  EXPECT_EQ(info.age(), 3u);
  EXPECT_TRUE(std::equal(guid.begin(), guid.end(), info.guid().begin()));
  EXPECT_EQ(info.NamedStream("/names"), std::optional<std::uint32_t>(12));
  EXPECT_EQ(info.NamedStream("/src/headerblock"), std::optional<std::uint32_t>(7));
  EXPECT_EQ(info.NamedStream("/name"), std::nullopt);  // a prefix is no match
  EXPECT_EQ(info.NamedStream(""), std::nullopt);

  // Forty names: the present bits span two words.
  std::vector<std::pair<std::string, std::uint32_t>> many;
  for (std::uint32_t i = 0; i < 40; ++i) many.emplace_back("/s" + std::to_string(i), 100 + i);
  ASSERT_EQ(InfoStream::Parse(InfoStreamBytes(many), &info), S_OK);
  EXPECT_EQ(info.NamedStream("/s39"), std::optional<std::uint32_t>(139));
}

TEST(InfoStream, AShortHeaderOrAnUnknownVersionIsNoPdb) {
  InfoStream info;
  Bytes bytes = InfoStreamBytes();
  EXPECT_EQ(InfoStream::Parse(Bytes(bytes.begin(), bytes.begin() + kNameMapAt - 1), &info), E_PDB_CORRUPT);
  EXPECT_EQ(InfoStream::Parse(InfoStreamBytes({}, 20000405), &info), E_PDB_CORRUPT);
  EXPECT_EQ(InfoStream::Parse(InfoStreamBytes({}, 0), &info), E_PDB_CORRUPT);
  // The header alone is a stream without named streams.
  ASSERT_EQ(InfoStream::Parse(Bytes(bytes.begin(), bytes.begin() + kNameMapAt), &info), S_OK);
  EXPECT_EQ(info.NamedStream("/names"), std::nullopt);
}

// Each field of the name map damaged in turn: the lookup answers from what
// lies inside the stream, or not at all.
TEST(InfoStream, ADamagedNameMapFindsNothingAndReadsOnlyItsBytes) {
  const Bytes good = InfoStreamBytes({{"/names", 12}});
  // The map: names' size (4), "/names\0" (7), entries, capacity, present
  // words, one present word, deleted words, then (offset, stream).
  constexpr std::size_t kPresentWordsAt = kNameMapAt + 4 + 7 + 8;
  constexpr std::size_t kDeletedWordsAt = kPresentWordsAt + 8;
  constexpr std::size_t kKeyAt = kDeletedWordsAt + 4;
  auto lookup = [](Bytes bytes) {
    InfoStream info;
    EXPECT_EQ(InfoStream::Parse(std::move(bytes), &info), S_OK);
    return info.NamedStream("/names");
  };
  auto patched = [&](std::size_t at, std::uint32_t value) {
    ByteWriter w{good};
    w.Patch32(at, value);
    return w.bytes;
  };
  ASSERT_EQ(lookup(good), std::optional<std::uint32_t>(12));
  EXPECT_EQ(lookup(patched(kNameMapAt, 0xFFFFFFFF)), std::nullopt);  // names past the end
  // Word counts whose byte counts wrap in 32 bits to a few bytes.
  EXPECT_EQ(lookup(patched(kPresentWordsAt, 0x40000001)), std::nullopt);
  EXPECT_EQ(lookup(patched(kDeletedWordsAt, 0x40000000)), std::nullopt);
  // A key past the names, or on the last name's bytes when its NUL is
  // outside them, names nothing.
  EXPECT_EQ(lookup(patched(kKeyAt, 7)), std::nullopt);
  EXPECT_EQ(lookup(patched(kKeyAt, 0xFFFFFFFF)), std::nullopt);
  {
    // "/names" without its NUL, followed by an entry count whose first
    // byte is 0: the name must not run on into it.
    ByteWriter w{good};
    w.bytes.erase(w.bytes.begin() + kNameMapAt + 4 + 6);
    w.Patch32(kNameMapAt, 6);
    w.Patch32(kNameMapAt + 4 + 6, 0x100);
    EXPECT_EQ(lookup(w.bytes), std::nullopt);
  }
  // More present bits than pairs: the stream ends first.
  const Bytes cut(good.begin(), good.end() - 4);
  EXPECT_EQ(lookup(cut), std::nullopt);
}

StringTable Table(Bytes bytes) { return StringTable(std::move(bytes)); }

std::string At(const StringTable& table, std::uint32_t offset) {
  std::string_view text;
  return table.At(offset, &text) ? std::string(text) : std::string("(none)");
}

TEST(StringTable, FindsTextsWhollyInsideTheStrings) {
  std::vector<std::uint32_t> offsets;
  const StringTable table = Table(testing::StringTableBytes({"a.cpp", "dir/b.h"}, &offsets));
  EXPECT_EQ(At(table, offsets[0]), "a.cpp");
  EXPECT_EQ(At(table, offsets[1]), "dir/b.h");
  EXPECT_EQ(At(table, offsets[1] + 4), "b.h");
  EXPECT_EQ(At(table, 0), "");
  EXPECT_EQ(At(table, offsets[1] + 8), "(none)");  // one past the strings
  EXPECT_EQ(At(table, UINT32_MAX), "(none)");

  // A byte count that cuts the last NUL off: the NUL still follows in the
  // stream, outside the strings, and must not end the text.
  Bytes cut = testing::StringTableBytes({"a.cpp", "dir/b.h"});
  ByteWriter w{cut};
  w.Patch32(8, offsets[1] + 7);
  EXPECT_EQ(At(Table(w.bytes), offsets[1]), "(none)");
  EXPECT_EQ(At(Table(w.bytes), offsets[0]), "a.cpp");
}

TEST(StringTable, ADamagedHeaderGivesAnEmptyTable) {
  const Bytes good = testing::StringTableBytes({"a.cpp"});
  auto patched = [&](std::size_t at, std::uint32_t value) {
    ByteWriter w{good};
    w.Patch32(at, value);
    return Table(w.bytes);
  };
  EXPECT_EQ(At(Table(good), 1), "a.cpp");
  EXPECT_EQ(At(patched(4, 2), 1), "a.cpp");  // hash version 2 is as good
  EXPECT_EQ(At(patched(0, 0xEFFEEFFF), 1), "(none)");
  EXPECT_EQ(At(patched(4, 3), 1), "(none)");
  EXPECT_EQ(At(patched(8, 0xFFFFFFFF), 1), "(none)");  // more strings than bytes
  EXPECT_EQ(At(Table(Bytes(good.begin(), good.begin() + 11)), 0), "(none)");
  EXPECT_EQ(At(Table({}), 0), "(none)");
}

}  // namespace
}  // namespace sorvanta
