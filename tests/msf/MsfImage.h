#pragma once

// Reads, edits, damages and writes MSF 7.0 (PDB) containers, for the tests,
// the fuzzer's mutator and the benchmarks. It knows the container (the
// superblock, the free page map, the stream directory and its block map)
// and just enough of the PDB streams inside to find and edit the module
// descriptors, the section-header stream and the named streams. It never
// trusts the file: every index it follows is checked, and reads of
// damaged streams are bounded by the caller.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sorvanta::msf {

constexpr std::uint32_t kDeletedStream = UINT32_MAX;  // a stream size that marks no stream
constexpr std::uint32_t kInfoStream = 1;
constexpr std::uint32_t kTpiStream = 2;
constexpr std::uint32_t kDbiStream = 3;
constexpr std::uint32_t kIpiStream = 4;

bool IsValidBlockSize(std::uint32_t blockSize);

// One entry of the stream directory: the declared size and the block list.
// Neither has to agree with the other or with the file (damage).
struct StreamEntry {
  std::uint32_t size = 0;
  std::vector<std::uint32_t> blocks;
};

// A file as its bytes plus its stream directory, which may be edited in
// any way. Serialize writes the directory back (into the blocks the old one
// used, then new ones at the end) with a fresh free page map and superblock.
class MsfImage {
 public:
  // Needs a readable superblock and directory; stream block lists may name
  // any block. The error says what was wrong.
  static std::optional<MsfImage> Parse(std::vector<std::uint8_t> bytes, std::string* error = nullptr);
  static std::optional<MsfImage> Read(const std::string& path, std::string* error = nullptr);

  std::uint32_t blockSize() const { return blockSize_; }
  std::uint32_t blockCount() const { return static_cast<std::uint32_t>(bytes_.size() / blockSize_); }
  std::vector<StreamEntry>& streams() { return streams_; }
  const std::vector<StreamEntry>& streams() const { return streams_; }

  // The stream's bytes through its block list, cut to its declared size;
  // blocks outside the file read as zeros. Empty when that would exceed
  // limit bytes (a deleted stream is empty too).
  std::optional<std::vector<std::uint8_t>> StreamBytes(std::uint32_t stream,
                                                       std::size_t limit = 64u << 20) const;
  // Replaces a stream's content and size: its own blocks are reused, in
  // order, as far as they lie inside the file; further blocks are added at
  // the end. Adds streams up to index stream when needed.
  void SetStreamBytes(std::uint32_t stream, const std::vector<std::uint8_t>& content);
  // Overwrites bytes of a stream where its block list puts them; false when
  // they run past its size or a block outside the file.
  bool PatchStream(std::uint32_t stream, std::size_t offset, const std::vector<std::uint8_t>& bytes);
  // Overwrites one block of the file (which must exist).
  void WriteBlock(std::uint32_t block, const std::vector<std::uint8_t>& content);

  // The whole file with the directory as it stands now.
  std::vector<std::uint8_t> Serialize() const;
  bool Write(const std::string& path, std::string* error = nullptr) const;

  // The same streams laid out afresh with another block size; nullopt when a
  // stream cannot be read within limit bytes in all, or the directory does
  // not fit.
  std::optional<MsfImage> Relaid(std::uint32_t blockSize, std::size_t limit = 64u << 20) const;

 private:
  std::uint32_t AddBlock();

  std::uint32_t blockSize_ = 0;
  std::vector<std::uint8_t> bytes_;  // whole blocks
  std::vector<StreamEntry> streams_;
  std::vector<std::uint32_t> directoryBlocks_;  // where the parsed directory was
  std::uint32_t blockMapBlock_ = 0;
  std::uint32_t fpmBlock_ = 1;  // which of the two free page maps is in use
};

// ---- Damage to the directory. Each returns false when the stream (or
// block) it names does not exist; the size is kept consistent with the new
// block list unless the operation is about the size.

// Declares the stream as `copies` copies of its block at position `at`.
bool RepeatBlock(MsfImage& image, std::uint32_t stream, std::size_t at, std::uint32_t copies);
// Makes position `at` of stream `to` name the block at `fromAt` of `from`.
bool ShareBlock(MsfImage& image, std::uint32_t from, std::size_t fromAt, std::uint32_t to, std::size_t at);
// Points position `at` of the stream `beyond` blocks past the end of the file.
bool PointPastEnd(MsfImage& image, std::uint32_t stream, std::size_t at, std::uint32_t beyond = 0);
// Changes only the declared size.
bool SetDeclaredSize(MsfImage& image, std::uint32_t stream, std::uint32_t size);

// ---- The PDB streams the reader needs, found and edited. Streams that
// claim more bytes than the file holds are not read.

// A module descriptor of the DBI stream, with where it lies there.
struct ModuleDescriptor {
  std::size_t offset = 0;  // in the DBI stream
  std::uint16_t stream = 0xFFFF;
  std::uint32_t symbolBytes = 0;
  std::uint32_t c11Bytes = 0;
  std::uint32_t c13Bytes = 0;
  std::string name;
  std::string objectName;
};

std::vector<ModuleDescriptor> ReadModules(const MsfImage& image);
// Writes the stream index and byte counts of module `index` into the DBI
// stream.
bool WriteModule(MsfImage& image, std::size_t index, const ModuleDescriptor& module);
// The section-header stream named by the DBI stream's optional debug header.
std::optional<std::uint32_t> SectionHeaderStream(const MsfImage& image);
// A named stream (such as "/names") from the info stream's name map.
std::optional<std::uint32_t> NamedStream(const MsfImage& image, const std::string& name);

// ---- Laying out whole files.

// What to lay out: each stream's content and declared size. A size beyond
// the content leaves the rest of the stream as zeros, which a sparse file
// write turns into a hole.
struct StreamLayout {
  std::vector<std::uint8_t> content;
  std::uint32_t size = 0;  // kDeletedStream for none
};

struct LayoutOptions {
  std::uint32_t blockSize = 4096;
  // Streams placed first, in this order; the others follow by index, then
  // the directory and its block map.
  std::vector<std::uint32_t> first;
};

// Writes the file to path, writing only blocks that hold content (the free
// page map included), so zero ranges stay holes. Fails when the file
// system cannot hold a file of that size, or the directory does not fit
// the block map of one block.
bool WriteLaidOut(const std::vector<StreamLayout>& streams, const LayoutOptions& options,
                  const std::string& path, std::string* error = nullptr);
// The same into memory; nullopt when over limit bytes.
std::optional<std::vector<std::uint8_t>> LayOut(const std::vector<StreamLayout>& streams,
                                                const LayoutOptions& options,
                                                std::size_t limit = 64u << 20,
                                                std::string* error = nullptr);

// The fixture's streams laid out again with 8192-byte blocks behind type
// streams of about 4.5 GiB (TPI just under 4 GiB, IPI 512 MiB) that keep
// their real records at their start and are holes after them, so every
// stream the reader needs lies past the first 4 GiB of the file. The file
// takes a few megabytes of disk. False (with the reason) when the fixture
// cannot be read or the file system refuses a sparse file of that size.
bool WriteSparseLargePdb(const std::string& fixturePath, const std::string& outPath,
                         std::string* error = nullptr);

}  // namespace sorvanta::msf
