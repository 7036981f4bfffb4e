#include "MsfImage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>

namespace sorvanta::msf {

namespace {

constexpr char kMagic[32] = "Microsoft C/C++ MSF 7.00\r\n\x1a" "DS\0\0";
constexpr std::size_t kSuperBlockSize = 56;
constexpr std::size_t kDbiHeaderSize = 64;
constexpr std::size_t kModuleHeaderSize = 64;
constexpr std::size_t kSectionHeaderDebugIndex = 5;  // in the optional debug header

std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}
std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

std::uint64_t BlocksFor(std::uint32_t size, std::uint32_t blockSize) {
  return size == kDeletedStream ? 0 : (std::uint64_t{size} + blockSize - 1) / blockSize;
}

// Free-page-map blocks sit at 1 and 2 of every interval of blockSize blocks.
bool IsFpmBlock(std::uint64_t block, std::uint32_t blockSize) {
  const std::uint64_t inInterval = block % blockSize;
  return inInterval == 1 || inInterval == 2;
}

bool Fail(std::string* error, const std::string& what) {
  if (error) *error = what;
  return false;
}

// The directory entries as the file holds them: exactly as many blocks as
// the size needs. A short list goes on with the blocks that follow its last
// one, as a writer that grew the size but not the list would leave it.
std::vector<std::uint32_t> DirectoryList(const StreamEntry& entry, std::uint32_t blockSize) {
  const std::uint64_t count = BlocksFor(entry.size, blockSize);
  std::vector<std::uint32_t> list(entry.blocks.begin(),
                                  entry.blocks.begin() + static_cast<std::ptrdiff_t>(
                                                             std::min<std::uint64_t>(count, entry.blocks.size())));
  std::uint32_t next = list.empty() ? 3 : list.back() + 1;
  while (list.size() < count) list.push_back(next++);
  return list;
}

std::vector<std::uint8_t> DirectoryBytes(const std::vector<StreamEntry>& streams, std::uint32_t blockSize) {
  std::vector<std::uint8_t> out(4 + 4 * streams.size());
  PutU32(out.data(), static_cast<std::uint32_t>(streams.size()));
  for (std::size_t s = 0; s < streams.size(); ++s) PutU32(out.data() + 4 + 4 * s, streams[s].size);
  for (const StreamEntry& entry : streams) {
    for (std::uint32_t block : DirectoryList(entry, blockSize)) {
      const std::size_t at = out.size();
      out.resize(at + 4);
      PutU32(out.data() + at, block);
    }
  }
  return out;
}

// Receives the file piece by piece: (offset, bytes, length).
using Sink = std::function<bool(std::uint64_t, const std::uint8_t*, std::size_t)>;

// Writes everything but the streams' contents: the directory into
// directoryBlocks, its block map, the free page map and the superblock of
// a file of blockCount blocks.
bool EmitContainer(const Sink& sink, std::uint32_t blockSize, std::uint64_t blockCount,
                   const std::vector<StreamEntry>& streams, const std::vector<std::uint32_t>& directoryBlocks,
                   std::uint32_t blockMapBlock, const std::vector<std::uint8_t>& directory,
                   std::uint32_t fpmBlock) {
  const std::uint64_t B = blockSize;
  for (std::size_t i = 0; i < directoryBlocks.size(); ++i) {
    const std::size_t from = i * blockSize;
    const std::size_t length = std::min<std::size_t>(blockSize, directory.size() - from);
    if (!sink(directoryBlocks[i] * B, directory.data() + from, length)) return false;
  }
  std::vector<std::uint8_t> map(blockSize);
  for (std::size_t i = 0; i < directoryBlocks.size() && i < blockSize / 4; ++i) {
    PutU32(map.data() + 4 * i, directoryBlocks[i]);
  }
  if (!sink(blockMapBlock * B, map.data(), map.size())) return false;

  std::vector<bool> used(blockCount);
  used[0] = true;
  for (std::uint64_t b = 1; b < blockCount; b += blockSize) {
    used[b] = true;
    if (b + 1 < blockCount) used[b + 1] = true;
  }
  for (const StreamEntry& entry : streams) {
    for (std::uint32_t block : DirectoryList(entry, blockSize)) {
      if (block < blockCount) used[block] = true;
    }
  }
  for (std::uint32_t block : directoryBlocks) used[block] = true;
  used[blockMapBlock] = true;

  // One bit per block, set for a free one, the bytes running on from one
  // map block to the next; unused bits and bytes are set. The other of
  // the two maps (the one not in use) is all ones, as linkers leave it.
  std::vector<std::uint8_t> bits((blockCount + 7) / 8, 0);
  for (std::uint64_t b = 0; b < bits.size() * 8; ++b) {
    if (b >= blockCount || !used[b]) bits[b / 8] |= static_cast<std::uint8_t>(1u << (b % 8));
  }
  std::vector<std::uint8_t> fpm(blockSize);
  const std::vector<std::uint8_t> unused(blockSize, 0xFF);
  for (std::uint64_t k = 0; 1 + k * B < blockCount; ++k) {
    std::fill(fpm.begin(), fpm.end(), 0xFF);
    const std::uint64_t from = k * B;
    if (from < bits.size()) {
      const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(B, bits.size() - from));
      std::copy_n(bits.begin() + static_cast<std::ptrdiff_t>(from), length, fpm.begin());
    }
    for (std::uint32_t which : {1u, 2u}) {
      const std::uint64_t block = which + k * B;
      if (block < blockCount && !sink(block * B, which == fpmBlock ? fpm.data() : unused.data(), blockSize)) {
        return false;
      }
    }
  }

  std::uint8_t super[kSuperBlockSize] = {};
  std::memcpy(super, kMagic, sizeof kMagic);
  PutU32(super + 32, blockSize);
  PutU32(super + 36, fpmBlock);
  PutU32(super + 40, static_cast<std::uint32_t>(blockCount));
  PutU32(super + 44, static_cast<std::uint32_t>(directory.size()));
  PutU32(super + 48, 0);
  PutU32(super + 52, blockMapBlock);
  return sink(0, super, sizeof super);
}

// Where each block of a fresh layout goes.
struct Plan {
  std::vector<StreamEntry> streams;
  std::vector<std::uint32_t> directoryBlocks;
  std::uint32_t blockMapBlock = 0;
  std::uint64_t blockCount = 0;
  std::vector<std::uint8_t> directory;
};

bool MakePlan(const std::vector<StreamLayout>& layout, const LayoutOptions& options, Plan* plan,
              std::string* error) {
  const std::uint32_t B = options.blockSize;
  if (!IsValidBlockSize(B)) return Fail(error, "invalid block size");
  std::uint64_t next = 3;
  auto add = [&] {
    while (IsFpmBlock(next, B)) ++next;
    return next++;
  };
  plan->streams.assign(layout.size(), {});
  std::vector<std::uint32_t> order;
  for (std::uint32_t s : options.first) {
    if (s < layout.size() && std::find(order.begin(), order.end(), s) == order.end()) order.push_back(s);
  }
  for (std::uint32_t s = 0; s < layout.size(); ++s) {
    if (std::find(order.begin(), order.end(), s) == order.end()) order.push_back(s);
  }
  for (std::uint32_t s : order) {
    StreamEntry& entry = plan->streams[s];
    entry.size = layout[s].size;
    if (entry.size != kDeletedStream && layout[s].content.size() > entry.size) {
      return Fail(error, "stream " + std::to_string(s) + " holds more than its size");
    }
    for (std::uint64_t i = BlocksFor(entry.size, B); i > 0; --i) {
      entry.blocks.push_back(static_cast<std::uint32_t>(add()));
    }
  }
  plan->directory = DirectoryBytes(plan->streams, B);
  const std::uint64_t directoryBlocks = (plan->directory.size() + B - 1) / B;
  if (directoryBlocks * 4 > B) return Fail(error, "the directory does not fit one block map");
  for (std::uint64_t i = 0; i < directoryBlocks; ++i) {
    plan->directoryBlocks.push_back(static_cast<std::uint32_t>(add()));
  }
  plan->blockMapBlock = static_cast<std::uint32_t>(add());
  plan->blockCount = next;
  if (next > UINT32_MAX) return Fail(error, "too many blocks");
  return true;
}

bool Emit(const std::vector<StreamLayout>& layout, const Plan& plan, std::uint32_t B, const Sink& sink) {
  for (std::size_t s = 0; s < layout.size(); ++s) {
    const std::vector<std::uint8_t>& content = layout[s].content;
    for (std::size_t i = 0; i * B < content.size(); ++i) {
      const std::size_t length = std::min<std::size_t>(B, content.size() - i * B);
      if (!sink(std::uint64_t{plan.streams[s].blocks[i]} * B, content.data() + i * B, length)) return false;
    }
  }
  return EmitContainer(sink, B, plan.blockCount, plan.streams, plan.directoryBlocks, plan.blockMapBlock,
                       plan.directory, 1);
}

std::size_t FileBytes(const MsfImage& image) {
  return std::size_t{image.blockCount()} * image.blockSize();
}

Sink MemorySink(std::vector<std::uint8_t>* out) {
  return [out](std::uint64_t offset, const std::uint8_t* data, std::size_t length) {
    if (offset + length > out->size()) return false;
    std::copy_n(data, length, out->begin() + static_cast<std::ptrdiff_t>(offset));
    return true;
  };
}

}  // namespace

bool IsValidBlockSize(std::uint32_t blockSize) {
  switch (blockSize) {
    case 512: case 1024: case 2048: case 4096: case 8192: case 16384: case 32768:
      return true;
    default:
      return false;
  }
}

std::optional<MsfImage> MsfImage::Parse(std::vector<std::uint8_t> bytes, std::string* error) {
  if (bytes.size() < kSuperBlockSize || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
    Fail(error, "no MSF 7.00 superblock");
    return std::nullopt;
  }
  MsfImage image;
  image.blockSize_ = U32(&bytes[32]);
  const std::uint32_t directorySize = U32(&bytes[44]);
  image.blockMapBlock_ = U32(&bytes[52]);
  image.fpmBlock_ = U32(&bytes[36]) == 2 ? 2 : 1;
  const std::uint32_t B = image.blockSize_;
  if (!IsValidBlockSize(B)) {
    Fail(error, "invalid block size");
    return std::nullopt;
  }
  bytes.resize((bytes.size() + B - 1) / B * B);  // a cut last block reads as zeros
  image.bytes_ = std::move(bytes);
  const std::uint64_t blocks = image.blockCount();
  const std::uint64_t directoryBlocks = (std::uint64_t{directorySize} + B - 1) / B;
  if (directorySize < 4 || directoryBlocks * 4 > B || image.blockMapBlock_ == 0 ||
      image.blockMapBlock_ >= blocks) {
    Fail(error, "directory or block map out of bounds");
    return std::nullopt;
  }
  std::vector<std::uint8_t> directory;
  for (std::uint64_t i = 0; i < directoryBlocks; ++i) {
    const std::uint32_t block = U32(&image.bytes_[std::uint64_t{image.blockMapBlock_} * B + 4 * i]);
    if (block == 0 || block >= blocks) {
      Fail(error, "directory block out of bounds");
      return std::nullopt;
    }
    image.directoryBlocks_.push_back(block);
    const auto from = image.bytes_.begin() + static_cast<std::ptrdiff_t>(std::uint64_t{block} * B);
    directory.insert(directory.end(), from, from + B);
  }
  directory.resize(directorySize);
  const std::uint32_t count = U32(directory.data());
  std::uint64_t at = 4 + std::uint64_t{count} * 4;
  if (at > directory.size()) {
    Fail(error, "stream count exceeds the directory");
    return std::nullopt;
  }
  image.streams_.resize(count);
  for (std::uint32_t s = 0; s < count; ++s) {
    StreamEntry& entry = image.streams_[s];
    entry.size = U32(&directory[4 + 4 * s]);
    const std::uint64_t n = BlocksFor(entry.size, B);
    if (at + n * 4 > directory.size()) {
      Fail(error, "block lists exceed the directory");
      return std::nullopt;
    }
    entry.blocks.resize(n);
    for (std::uint64_t i = 0; i < n; ++i, at += 4) entry.blocks[i] = U32(&directory[at]);
  }
  return image;
}

std::optional<MsfImage> MsfImage::Read(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Fail(error, "cannot read " + path);
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return Parse(std::move(bytes), error);
}

std::optional<std::vector<std::uint8_t>> MsfImage::StreamBytes(std::uint32_t stream, std::size_t limit) const {
  if (stream >= streams_.size()) return std::nullopt;
  const StreamEntry& entry = streams_[stream];
  if (entry.size == kDeletedStream) return std::vector<std::uint8_t>();
  if (entry.size > limit) return std::nullopt;
  std::vector<std::uint8_t> out;
  out.reserve(entry.size);
  for (std::uint32_t block : DirectoryList(entry, blockSize_)) {
    const std::size_t length = std::min<std::size_t>(blockSize_, entry.size - out.size());
    if (block < blockCount()) {
      const auto from = bytes_.begin() + static_cast<std::ptrdiff_t>(std::uint64_t{block} * blockSize_);
      out.insert(out.end(), from, from + static_cast<std::ptrdiff_t>(length));
    } else {
      out.resize(out.size() + length, 0);
    }
  }
  return out;
}

std::uint32_t MsfImage::AddBlock() {
  while (IsFpmBlock(blockCount(), blockSize_)) bytes_.resize(bytes_.size() + blockSize_, 0xFF);
  const std::uint32_t block = blockCount();
  bytes_.resize(bytes_.size() + blockSize_, 0);
  return block;
}

void MsfImage::WriteBlock(std::uint32_t block, const std::vector<std::uint8_t>& content) {
  if (block >= blockCount()) return;
  std::copy_n(content.begin(), std::min<std::size_t>(content.size(), blockSize_),
              bytes_.begin() + static_cast<std::ptrdiff_t>(std::uint64_t{block} * blockSize_));
}

bool MsfImage::PatchStream(std::uint32_t stream, std::size_t offset, const std::vector<std::uint8_t>& bytes) {
  if (stream >= streams_.size()) return false;
  const StreamEntry& entry = streams_[stream];
  if (entry.size == kDeletedStream || offset + bytes.size() > entry.size) return false;
  const std::vector<std::uint32_t> list = DirectoryList(entry, blockSize_);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::uint32_t block = list[(offset + i) / blockSize_];
    if (block >= blockCount()) return false;
    bytes_[std::uint64_t{block} * blockSize_ + (offset + i) % blockSize_] = bytes[i];
  }
  return true;
}

void MsfImage::SetStreamBytes(std::uint32_t stream, const std::vector<std::uint8_t>& content) {
  if (stream >= streams_.size()) streams_.resize(stream + 1);
  StreamEntry& entry = streams_[stream];
  const std::vector<std::uint32_t> old = entry.blocks;
  std::set<std::uint32_t> taken;
  entry.blocks.clear();
  const std::size_t needed = (content.size() + blockSize_ - 1) / blockSize_;
  for (std::uint32_t block : old) {
    if (entry.blocks.size() == needed) break;
    if (block != 0 && block < blockCount() && !IsFpmBlock(block, blockSize_) && taken.insert(block).second) {
      entry.blocks.push_back(block);
    }
  }
  while (entry.blocks.size() < needed) entry.blocks.push_back(AddBlock());
  entry.size = static_cast<std::uint32_t>(content.size());
  for (std::size_t i = 0; i < needed; ++i) {
    const std::size_t from = i * blockSize_;
    const std::size_t length = std::min<std::size_t>(blockSize_, content.size() - from);
    std::vector<std::uint8_t> block(blockSize_, 0);
    std::copy_n(content.begin() + static_cast<std::ptrdiff_t>(from), length, block.begin());
    WriteBlock(entry.blocks[i], block);
  }
}

std::vector<std::uint8_t> MsfImage::Serialize() const {
  MsfImage copy = *this;
  const std::vector<std::uint8_t> directory = DirectoryBytes(streams_, blockSize_);
  const std::size_t directoryBlocks = (directory.size() + blockSize_ - 1) / blockSize_;
  std::vector<std::uint32_t> blocks(directoryBlocks_.begin(),
                                    directoryBlocks_.begin() +
                                        static_cast<std::ptrdiff_t>(std::min(directoryBlocks, directoryBlocks_.size())));
  while (blocks.size() < directoryBlocks) blocks.push_back(copy.AddBlock());
  const std::uint32_t map = blockMapBlock_ != 0 ? blockMapBlock_ : copy.AddBlock();
  EmitContainer(MemorySink(&copy.bytes_), blockSize_, copy.blockCount(), streams_, blocks, map, directory,
                fpmBlock_);
  return std::move(copy.bytes_);
}

bool MsfImage::Write(const std::string& path, std::string* error) const {
  const std::vector<std::uint8_t> bytes = Serialize();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return out.good() || Fail(error, "cannot write " + path);
}

std::optional<MsfImage> MsfImage::Relaid(std::uint32_t blockSize, std::size_t limit) const {
  std::vector<StreamLayout> layout(streams_.size());
  std::size_t total = 0;
  for (std::uint32_t s = 0; s < streams_.size(); ++s) {
    std::optional<std::vector<std::uint8_t>> content = StreamBytes(s, limit - total);
    if (!content) return std::nullopt;
    total += content->size();
    layout[s].size = streams_[s].size;
    layout[s].content = std::move(*content);
  }
  std::optional<std::vector<std::uint8_t>> bytes = LayOut(layout, {blockSize, {}}, limit);
  if (!bytes) return std::nullopt;
  return Parse(std::move(*bytes));
}

bool RepeatBlock(MsfImage& image, std::uint32_t stream, std::size_t at, std::uint32_t copies) {
  if (stream >= image.streams().size()) return false;
  StreamEntry& entry = image.streams()[stream];
  if (at >= entry.blocks.size() || copies == 0) return false;
  const std::uint64_t size = std::uint64_t{copies} * image.blockSize();
  if (size >= kDeletedStream) return false;
  entry.blocks.assign(copies, entry.blocks[at]);
  entry.size = static_cast<std::uint32_t>(size);
  return true;
}

bool ShareBlock(MsfImage& image, std::uint32_t from, std::size_t fromAt, std::uint32_t to, std::size_t at) {
  auto& streams = image.streams();
  if (from >= streams.size() || to >= streams.size() || fromAt >= streams[from].blocks.size() ||
      at >= streams[to].blocks.size()) {
    return false;
  }
  streams[to].blocks[at] = streams[from].blocks[fromAt];
  return true;
}

bool PointPastEnd(MsfImage& image, std::uint32_t stream, std::size_t at, std::uint32_t beyond) {
  if (stream >= image.streams().size() || at >= image.streams()[stream].blocks.size()) return false;
  const std::uint64_t block = std::uint64_t{image.blockCount()} + beyond;
  image.streams()[stream].blocks[at] = static_cast<std::uint32_t>(std::min<std::uint64_t>(block, UINT32_MAX));
  return true;
}

bool SetDeclaredSize(MsfImage& image, std::uint32_t stream, std::uint32_t size) {
  if (stream >= image.streams().size()) return false;
  image.streams()[stream].size = size;
  return true;
}

std::vector<ModuleDescriptor> ReadModules(const MsfImage& image) {
  std::vector<ModuleDescriptor> modules;
  const std::optional<std::vector<std::uint8_t>> dbi = image.StreamBytes(kDbiStream, FileBytes(image));
  if (!dbi || dbi->size() < kDbiHeaderSize) return modules;
  const std::uint8_t* p = dbi->data();
  const std::size_t end = std::min<std::size_t>(dbi->size(), kDbiHeaderSize + std::uint64_t{U32(p + 24)});
  std::size_t at = kDbiHeaderSize;
  while (at + kModuleHeaderSize <= end) {
    ModuleDescriptor m;
    m.offset = at;
    m.stream = U16(p + at + 34);
    m.symbolBytes = U32(p + at + 36);
    m.c11Bytes = U32(p + at + 40);
    m.c13Bytes = U32(p + at + 44);
    std::size_t name = at + kModuleHeaderSize;
    const auto nul1 = std::find(p + name, p + end, 0);
    if (nul1 == p + end) break;
    m.name.assign(reinterpret_cast<const char*>(p + name), reinterpret_cast<const char*>(nul1));
    const auto nul2 = std::find(nul1 + 1, p + end, 0);
    if (nul2 == p + end) break;
    m.objectName.assign(reinterpret_cast<const char*>(nul1 + 1), reinterpret_cast<const char*>(nul2));
    at = (static_cast<std::size_t>(nul2 - p) + 1 + 3) / 4 * 4;
    modules.push_back(std::move(m));
  }
  return modules;
}

bool WriteModule(MsfImage& image, std::size_t index, const ModuleDescriptor& module) {
  const std::vector<ModuleDescriptor> modules = ReadModules(image);
  if (index >= modules.size()) return false;
  std::vector<std::uint8_t> fields(14);  // stream index, symbol, C11 and C13 byte counts
  PutU16(&fields[0], module.stream);
  PutU32(&fields[2], module.symbolBytes);
  PutU32(&fields[6], module.c11Bytes);
  PutU32(&fields[10], module.c13Bytes);
  return image.PatchStream(kDbiStream, modules[index].offset + 34, fields);
}

std::optional<std::uint32_t> SectionHeaderStream(const MsfImage& image) {
  const std::optional<std::vector<std::uint8_t>> dbi = image.StreamBytes(kDbiStream, FileBytes(image));
  if (!dbi || dbi->size() < kDbiHeaderSize) return std::nullopt;
  const std::uint8_t* p = dbi->data();
  std::uint64_t at = kDbiHeaderSize;
  for (std::size_t field : {24, 28, 32, 36, 40, 52}) at += U32(p + field);  // substreams before it
  const std::uint64_t debugHeaderSize = U32(p + 48);
  const std::uint64_t entry = at + 2 * kSectionHeaderDebugIndex;
  if (debugHeaderSize < 2 * (kSectionHeaderDebugIndex + 1) || entry + 2 > dbi->size()) return std::nullopt;
  const std::uint16_t stream = U16(p + entry);
  if (stream == 0xFFFF) return std::nullopt;
  return stream;
}

std::optional<std::uint32_t> NamedStream(const MsfImage& image, const std::string& name) {
  const std::optional<std::vector<std::uint8_t>> info = image.StreamBytes(kInfoStream, FileBytes(image));
  if (!info) return std::nullopt;
  const std::vector<std::uint8_t>& b = *info;
  std::uint64_t at = 28;  // version, signature, age, GUID
  auto readU32 = [&](std::uint32_t* v) {
    if (at + 4 > b.size()) return false;
    *v = U32(&b[at]);
    at += 4;
    return true;
  };
  std::uint32_t stringBytes = 0, count = 0, capacity = 0, presentWords = 0, deletedWords = 0;
  if (!readU32(&stringBytes) || at + stringBytes > b.size()) return std::nullopt;
  const std::uint64_t strings = at;
  at += stringBytes;
  if (!readU32(&count) || !readU32(&capacity) || !readU32(&presentWords)) return std::nullopt;
  const std::uint64_t present = at;
  at += std::uint64_t{presentWords} * 4;
  if (!readU32(&deletedWords)) return std::nullopt;
  at += std::uint64_t{deletedWords} * 4;
  for (std::uint64_t bucket = 0; bucket < std::uint64_t{presentWords} * 32; ++bucket) {
    if (!(U32(&b[present + bucket / 32 * 4]) >> (bucket % 32) & 1)) continue;
    std::uint32_t key = 0, value = 0;
    if (!readU32(&key) || !readU32(&value)) return std::nullopt;
    if (key >= stringBytes) continue;
    const auto from = b.begin() + static_cast<std::ptrdiff_t>(strings + key);
    const auto end = std::find(from, b.begin() + static_cast<std::ptrdiff_t>(strings + stringBytes), 0);
    if (std::string(from, end) == name) return value;
  }
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> LayOut(const std::vector<StreamLayout>& streams,
                                                const LayoutOptions& options, std::size_t limit,
                                                std::string* error) {
  Plan plan;
  if (!MakePlan(streams, options, &plan, error)) return std::nullopt;
  if (plan.blockCount * options.blockSize > limit) {
    Fail(error, "over the size limit");
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes(plan.blockCount * options.blockSize, 0);
  if (!Emit(streams, plan, options.blockSize, MemorySink(&bytes))) return std::nullopt;
  return bytes;
}

bool WriteLaidOut(const std::vector<StreamLayout>& streams, const LayoutOptions& options,
                  const std::string& path, std::string* error) {
  Plan plan;
  if (!MakePlan(streams, options, &plan, error)) return false;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Fail(error, "cannot create " + path + ": " + std::strerror(errno));
  const std::uint64_t size = plan.blockCount * options.blockSize;
  bool ok = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  if (!ok) Fail(error, "cannot make a file of " + std::to_string(size) + " bytes: " + std::strerror(errno));
  ok = ok && Emit(streams, plan, options.blockSize,
                  [fd, error](std::uint64_t offset, const std::uint8_t* data, std::size_t length) {
                    while (length > 0) {
                      const ssize_t n = ::pwrite(fd, data, length, static_cast<off_t>(offset));
                      if (n <= 0) return Fail(error, std::string("write failed: ") + std::strerror(errno));
                      data += n;
                      length -= static_cast<std::size_t>(n);
                      offset += static_cast<std::uint64_t>(n);
                    }
                    return true;
                  });
  return ::close(fd) == 0 && ok;
}

bool WriteSparseLargePdb(const std::string& fixturePath, const std::string& outPath, std::string* error) {
  constexpr std::uint32_t kBlockSize = 8192;
  const std::optional<MsfImage> fixture = MsfImage::Read(fixturePath, error);
  if (!fixture) return false;
  std::vector<StreamLayout> layout(fixture->streams().size());
  for (std::uint32_t s = 0; s < layout.size(); ++s) {
    std::optional<std::vector<std::uint8_t>> content = fixture->StreamBytes(s);
    if (!content) return Fail(error, "stream " + std::to_string(s) + " of the fixture is unreadable");
    layout[s].size = fixture->streams()[s].size;
    layout[s].content = std::move(*content);
  }
  if (layout.size() <= kIpiStream) return Fail(error, "the fixture has no type streams");
  // MSF sizes are 32-bit and all ones means no stream: the bulk is split
  // over the two type streams.
  layout[kTpiStream].size = UINT32_MAX / kBlockSize * kBlockSize;  // 4 GiB - 8 KiB
  layout[kIpiStream].size = 512u << 20;
  if (!WriteLaidOut(layout, {kBlockSize, {kTpiStream, kIpiStream}}, outPath, error)) {
    ::unlink(outPath.c_str());
    return false;
  }
  // A file system without holes would have written gigabytes of zeros.
  struct stat st {};
  if (::stat(outPath.c_str(), &st) != 0 || std::uint64_t(st.st_blocks) * 512 > (256u << 20)) {
    ::unlink(outPath.c_str());
    return Fail(error, "the file system does not keep the file sparse");
  }
  return true;
}

}  // namespace sorvanta::msf
