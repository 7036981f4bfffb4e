#pragma once

#include <cstdint>

namespace sorvanta {

// COM-style result codes. Only the sign of a code says whether a call failed.
using HRESULT = std::int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);

// Failures of the PDB reader, in the facility DIA uses for its own codes:
// a missing file, a file that is no PDB at all, and a PDB whose contents
// are damaged.
constexpr HRESULT E_PDB_NOT_FOUND = static_cast<HRESULT>(0x806D0005u);
constexpr HRESULT E_PDB_FORMAT = static_cast<HRESULT>(0x806D000Cu);
constexpr HRESULT E_PDB_CORRUPT = static_cast<HRESULT>(0x806D000Eu);

// Our own codes carry the customer bit, as COM asks of codes it does not
// define. A file that ended before what it had declared, though it was
// whole when opened: it changed on disk while it was read.
constexpr HRESULT E_FILE_CHANGED = static_cast<HRESULT>(0xA06D0001u);

// A failed system call's errno, kept in the code where it is taken, so
// that no one reads errno later, after other calls have changed it.
constexpr std::uint32_t kErrnoCodes = 0xA0EE0000u;
constexpr HRESULT HResultFromErrno(int error) {
  return static_cast<HRESULT>(kErrnoCodes | (static_cast<std::uint32_t>(error) & 0xFFFFu));
}
// The errno a code carries, or 0 when it carries none.
constexpr int ErrnoOf(HRESULT hr) {
  const auto code = static_cast<std::uint32_t>(hr);
  return (code & 0xFFFF0000u) == kErrnoCodes ? static_cast<int>(code & 0xFFFFu) : 0;
}

constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool Failed(HRESULT hr) { return hr < 0; }

}  // namespace sorvanta
