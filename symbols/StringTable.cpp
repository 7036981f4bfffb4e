#include "StringTable.h"

#include <utility>

namespace sorvanta {

namespace {

constexpr std::uint32_t kSignature = 0xEFFEEFFE;
// The header: signature, hash version (1 or 2) and the strings' byte count;
// the strings follow, then a hash table that is not needed to read them.
constexpr std::size_t kHeaderBytes = 12;

}  // namespace

StringTable::StringTable(std::vector<std::uint8_t> stream) : bytes_(std::move(stream)) {
  if (bytes_.size() < kHeaderBytes || Read32(bytes_.data()) != kSignature) return;
  const std::uint32_t hashVersion = Read32(bytes_.data() + 4);
  const std::uint32_t stringBytes = Read32(bytes_.data() + 8);
  if ((hashVersion != 1 && hashVersion != 2) || stringBytes > bytes_.size() - kHeaderBytes) return;
  strings_ = ByteView{bytes_.data() + kHeaderBytes, stringBytes};
}

}  // namespace sorvanta
