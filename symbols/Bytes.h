#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace sorvanta {

// Little-endian fields, as PDB files store them, read from bytes the caller
// has checked are there.
inline std::uint16_t Read16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t Read32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  return v;
}

// Bytes held elsewhere: a stream's bytes, or a part of them.
struct ByteView {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;

  // Bytes [offset, offset + length) of the view, which the caller has
  // checked lie inside it.
  ByteView Part(std::size_t offset, std::size_t length) const { return {data + offset, length}; }
  bool empty() const { return size == 0; }
};

// Reads fields one after another, never past the end of its view: a read
// that does not fit fails and leaves the position where it was, so a damaged
// structure is noticed where it stops making sense.
class ByteReader {
 public:
  explicit ByteReader(ByteView bytes) : bytes_(bytes) {}

  std::size_t offset() const { return at_; }
  std::size_t remaining() const { return bytes_.size - at_; }
  // The rest of the view from the current position.
  ByteView Rest() const { return bytes_.Part(at_, remaining()); }

  bool ReadU16(std::uint16_t* value) {
    if (remaining() < 2) return false;
    *value = Read16(bytes_.data + at_);
    at_ += 2;
    return true;
  }
  bool ReadU32(std::uint32_t* value) {
    if (remaining() < 4) return false;
    *value = Read32(bytes_.data + at_);
    at_ += 4;
    return true;
  }
  bool Skip(std::uint64_t count) {
    if (count > remaining()) return false;
    at_ += static_cast<std::size_t>(count);
    return true;
  }
  bool ReadView(std::uint64_t count, ByteView* out) {
    if (count > remaining()) return false;
    *out = bytes_.Part(at_, static_cast<std::size_t>(count));
    at_ += static_cast<std::size_t>(count);
    return true;
  }
  // A NUL-terminated string; the NUL is read but not part of the text.
  bool ReadCString(std::string_view* out) {
    const void* nul = std::memchr(bytes_.data + at_, 0, remaining());
    if (!nul) return false;
    const std::size_t length = static_cast<const std::uint8_t*>(nul) - (bytes_.data + at_);
    *out = std::string_view(reinterpret_cast<const char*>(bytes_.data + at_), length);
    at_ += length + 1;
    return true;
  }
  // Moves to the next multiple of alignment, or to the end when that is
  // nearer: the last record of a stream may lack its padding.
  void AlignTo(std::size_t alignment) {
    const std::size_t padded = (at_ + alignment - 1) / alignment * alignment;
    at_ = padded < bytes_.size ? padded : bytes_.size;
  }

 private:
  ByteView bytes_;
  std::size_t at_ = 0;
};

// The NUL-terminated text at offset inside bytes; false when offset lies
// outside them or the text runs past their end.
inline bool TextAt(ByteView bytes, std::uint64_t offset, std::string_view* out) {
  if (offset >= bytes.size) return false;
  ByteReader reader(bytes);
  reader.Skip(offset);
  return reader.ReadCString(out);
}

}  // namespace sorvanta
