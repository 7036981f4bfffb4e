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

// Failures of the PDB reader, in the facility DIA uses for its own codes.
constexpr HRESULT E_PDB_NOT_FOUND = static_cast<HRESULT>(0x806D0005u);
constexpr HRESULT E_PDB_FORMAT = static_cast<HRESULT>(0x806D000Cu);

constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool Failed(HRESULT hr) { return hr < 0; }

}  // namespace sorvanta
