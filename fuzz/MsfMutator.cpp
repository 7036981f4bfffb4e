// libFuzzer mutations that know the MSF container. Byte flips rarely make
// a directory that stays readable yet lies (a repeated block, a block
// shared by two streams, a size its blocks cannot hold), nor a module
// descriptor that names the wrong stream; these do, on purpose, and keep
// the rest of the file intact. One input in four, and every input the
// container cannot be read from, gets libFuzzer's byte mutations instead.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <vector>

#include "MsfImage.h"

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

namespace {

using sorvanta::msf::MsfImage;
using Random = std::minstd_rand;

std::size_t Pick(Random& random, std::size_t count) { return count == 0 ? 0 : random() % count; }

// The streams listing reads: info, DBI, section headers, /names and the
// module streams. Three picks in four go to one of them.
std::uint32_t PickStream(const MsfImage& image, Random& random) {
  const std::uint32_t count = static_cast<std::uint32_t>(image.streams().size());
  if (random() % 4 == 0) return static_cast<std::uint32_t>(Pick(random, count));
  std::vector<std::uint32_t> wanted = {sorvanta::msf::kInfoStream, sorvanta::msf::kDbiStream};
  if (auto s = sorvanta::msf::SectionHeaderStream(image)) wanted.push_back(*s);
  if (auto s = sorvanta::msf::NamedStream(image, "/names")) wanted.push_back(*s);
  for (const auto& m : sorvanta::msf::ReadModules(image)) wanted.push_back(m.stream);
  wanted.erase(std::remove_if(wanted.begin(), wanted.end(), [&](std::uint32_t s) { return s >= count; }),
               wanted.end());
  return wanted.empty() ? static_cast<std::uint32_t>(Pick(random, count)) : wanted[Pick(random, wanted.size())];
}

// A value for a size or count field: near the old one, or one that breaks
// arithmetic.
std::uint32_t SizeLike(Random& random, std::uint32_t old, std::uint32_t blockSize) {
  switch (random() % 8) {
    case 0: return 0;
    case 1: return old / 2;
    case 2: return old + 1 + static_cast<std::uint32_t>(random() % 64);
    case 3: return old - 1 - static_cast<std::uint32_t>(random() % 64);
    case 4: return old + blockSize * (1 + static_cast<std::uint32_t>(random() % 4));
    case 5: return UINT32_MAX - static_cast<std::uint32_t>(random() % 8);
    case 6: return 0x80000000u;
    default: return static_cast<std::uint32_t>(random());
  }
}

bool MutateContent(MsfImage& image, Random& random, std::size_t maxSize) {
  const std::uint32_t stream = PickStream(image, random);
  std::optional<std::vector<std::uint8_t>> bytes = image.StreamBytes(stream, maxSize / 2);
  if (!bytes || bytes->empty()) return false;
  const std::size_t room = bytes->size() + 64;
  bytes->resize(room);
  bytes->resize(LLVMFuzzerMutate(bytes->data(), room - 64, room));
  image.SetStreamBytes(stream, *bytes);
  return true;
}

// Directory entries the block map can still hold, with room left in maxSize.
std::uint64_t EntriesRoom(const MsfImage& image, std::size_t size, std::size_t maxSize) {
  const std::uint64_t B = image.blockSize();
  std::uint64_t used = 0;
  for (const auto& s : image.streams()) used += 1 + s.blocks.size();
  const std::uint64_t map = B / 4 * B / 4;
  const std::uint64_t bytes = maxSize > size ? (maxSize - size) / 4 : 0;
  return std::min(map > used ? map - used - 1 : 0, bytes);
}

bool MutateBlockList(MsfImage& image, Random& random, std::size_t size, std::size_t maxSize) {
  auto& streams = image.streams();
  const std::uint32_t stream = PickStream(image, random);
  auto& entry = streams[stream];
  if (entry.blocks.empty()) return false;
  const std::size_t at = Pick(random, entry.blocks.size());
  switch (random() % 5) {
    case 0: {  // the whole stream as copies of one of its blocks
      const std::uint64_t room = EntriesRoom(image, size, maxSize) + entry.blocks.size();
      const std::uint64_t most = std::min<std::uint64_t>(room, UINT32_MAX / image.blockSize());
      if (most < 2) return false;
      const std::uint32_t copies = static_cast<std::uint32_t>(
          random() % 2 ? 2 + Pick(random, std::min<std::uint64_t>(most - 1, 64)) : most);
      return sorvanta::msf::RepeatBlock(image, stream, at, copies);
    }
    case 1:  // one entry repeats another of the same stream
      entry.blocks[at] = entry.blocks[Pick(random, entry.blocks.size())];
      return true;
    case 2: {  // shared with another stream
      const std::uint32_t other = PickStream(image, random);
      if (streams[other].blocks.empty()) return false;
      return sorvanta::msf::ShareBlock(image, other, Pick(random, streams[other].blocks.size()), stream, at);
    }
    case 3:
      return sorvanta::msf::PointPastEnd(image, stream, at,
                                         random() % 2 ? static_cast<std::uint32_t>(random() % 4)
                                                      : static_cast<std::uint32_t>(random()));
    default: {  // a block the container keeps for itself
      const std::uint32_t own[] = {0, 1, 2, image.blockCount() - 1};
      entry.blocks[at] = own[Pick(random, 4)];
      return true;
    }
  }
}

bool MutateSize(MsfImage& image, Random& random, std::size_t size, std::size_t maxSize) {
  const std::uint32_t stream = PickStream(image, random);
  const std::uint32_t old = image.streams()[stream].size;
  const std::uint32_t B = image.blockSize();
  std::uint32_t next = SizeLike(random, old == UINT32_MAX ? 0 : old, B);
  // The directory has to hold the block list of the new size.
  const std::uint64_t room = EntriesRoom(image, size, maxSize) + image.streams()[stream].blocks.size();
  if (next != UINT32_MAX && (std::uint64_t{next} + B - 1) / B > room) next = static_cast<std::uint32_t>(room * B);
  return sorvanta::msf::SetDeclaredSize(image, stream, next);
}

bool MutateModule(MsfImage& image, Random& random) {
  const std::vector<sorvanta::msf::ModuleDescriptor> modules = sorvanta::msf::ReadModules(image);
  if (modules.empty()) return false;
  const std::size_t index = Pick(random, modules.size());
  sorvanta::msf::ModuleDescriptor m = modules[index];
  const std::uint32_t streamSize =
      m.stream < image.streams().size() ? image.streams()[m.stream].size : 0;
  switch (random() % 6) {
    case 0: {  // another module's stream, with or without its counts
      const sorvanta::msf::ModuleDescriptor& other = modules[Pick(random, modules.size())];
      m.stream = other.stream;
      if (random() % 2) {
        m.symbolBytes = other.symbolBytes;
        m.c11Bytes = other.c11Bytes;
        m.c13Bytes = other.c13Bytes;
      }
      break;
    }
    case 1: {
      const std::uint16_t choices[] = {0, 1, 2, 3, 0xFFFF, 0xFFFE,
                                       static_cast<std::uint16_t>(image.streams().size()),
                                       static_cast<std::uint16_t>(random())};
      m.stream = choices[Pick(random, 8)];
      break;
    }
    case 2: m.symbolBytes = SizeLike(random, m.symbolBytes, image.blockSize()); break;
    case 3: m.c11Bytes = SizeLike(random, m.c11Bytes, image.blockSize()); break;
    case 4: m.c13Bytes = SizeLike(random, m.c13Bytes, image.blockSize()); break;
    default:  // counts that together claim more (or less) than the stream
      m.c13Bytes = streamSize - m.symbolBytes - m.c11Bytes + static_cast<std::uint32_t>(random() % 9) - 4;
      break;
  }
  return sorvanta::msf::WriteModule(image, index, m);
}

bool Relay(MsfImage& image, Random& random, std::size_t maxSize) {
  const std::uint32_t sizes[] = {512, 1024, 2048, 4096, 8192, 16384, 32768};
  std::optional<MsfImage> relaid = image.Relaid(sizes[Pick(random, 7)], maxSize);
  if (!relaid) return false;
  image = std::move(*relaid);
  return true;
}

std::size_t Store(const std::vector<std::uint8_t>& bytes, std::uint8_t* out, std::size_t maxSize) {
  if (bytes.size() > maxSize) return 0;
  std::memcpy(out, bytes.data(), bytes.size());
  return bytes.size();
}

}  // namespace

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                               unsigned int seed) {
  Random random(seed);
  if (random() % 4 != 0) {
    std::optional<MsfImage> image = MsfImage::Parse(std::vector<std::uint8_t>(data, data + size));
    if (image && !image->streams().empty()) {
      bool changed = false;
      switch (random() % 6) {
        case 0: changed = MutateContent(*image, random, maxSize); break;
        case 1: changed = MutateBlockList(*image, random, size, maxSize); break;
        case 2: changed = MutateSize(*image, random, size, maxSize); break;
        case 3: case 4: changed = MutateModule(*image, random); break;
        default: changed = Relay(*image, random, maxSize); break;
      }
      if (changed) {
        if (const std::size_t stored = Store(image->Serialize(), data, maxSize)) return stored;
      }
    }
  }
  return LLVMFuzzerMutate(data, size, maxSize);
}

// Crossover: one stream of the second file put into the first.
extern "C" std::size_t LLVMFuzzerCustomCrossOver(const std::uint8_t* data1, std::size_t size1,
                                                 const std::uint8_t* data2, std::size_t size2,
                                                 std::uint8_t* out, std::size_t maxOutSize, unsigned int seed) {
  Random random(seed);
  std::optional<MsfImage> first = MsfImage::Parse(std::vector<std::uint8_t>(data1, data1 + size1));
  std::optional<MsfImage> second = MsfImage::Parse(std::vector<std::uint8_t>(data2, data2 + size2));
  if (!first || !second || second->streams().empty()) return 0;
  const std::uint32_t stream = PickStream(*second, random);
  std::optional<std::vector<std::uint8_t>> bytes = second->StreamBytes(stream, maxOutSize / 2);
  if (!bytes) return 0;
  first->SetStreamBytes(stream, *bytes);
  return Store(first->Serialize(), out, maxOutSize);
}
