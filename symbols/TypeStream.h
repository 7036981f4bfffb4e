#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "Bytes.h"
#include "HResult.h"

namespace sorvanta {

// The type stream (TPI, stream 2) or the id stream (IPI, stream 4): records
// numbered from the header's first index (0x1000). Only what inline frames
// need is read: the names of function ids, string ids and user-defined
// types. Where each record starts is found by one walk on first use (four
// bytes a record); a record is never trusted to fit.
class TypeStream {
 public:
  // Record kinds read here.
  static constexpr std::uint16_t kFuncId = 0x1601;
  static constexpr std::uint16_t kMemberFuncId = 0x1602;
  static constexpr std::uint16_t kStringId = 0x1605;

  // E_PDB_CORRUPT when the header is short or its record bytes lie past the
  // stream; an empty stream (no bytes) is a stream without records.
  static HRESULT Parse(std::vector<std::uint8_t> bytes, TypeStream* out);

  TypeStream() = default;
  TypeStream(TypeStream&&) = default;
  TypeStream& operator=(TypeStream&&) = default;

  // Finds where each record starts, which the lookups below otherwise do
  // on first use; afterwards they are safe to call from several threads.
  // Throws std::bad_alloc as they do.
  void IndexRecords() const;

  // The record with index: its kind and its bytes after the kind; false
  // when there is none. Throws std::bad_alloc when the offsets of the
  // records cannot be had (the stream stays as it was).
  bool Record(std::uint32_t index, std::uint16_t* kind, ByteView* data) const;

  // The name of a function id (LF_FUNC_ID, LF_MFUNC_ID) or string id, or
  // of a class, structure, union, enum or interface; false for any other
  // record, or none.
  bool Name(std::uint32_t index, std::string_view* name) const;
  // For a function id: its parent scope (a string id, 0 for none); for a
  // member function id: its class (a type index). False for other records.
  bool FunctionScope(std::uint32_t index, std::uint16_t* kind, std::uint32_t* scope) const;

 private:
  std::vector<std::uint8_t> bytes_;
  ByteView records_;
  std::uint32_t firstIndex_ = 0x1000;
  mutable std::vector<std::uint32_t> offsets_;  // of each record in records_
  mutable bool walked_ = false;
};

}  // namespace sorvanta
