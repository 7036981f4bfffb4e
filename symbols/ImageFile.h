#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "HResult.h"

namespace sorvanta {

// What a file given to the symbolizer is.
enum class FileKind {
  kPdb,               // an MSF (Windows) PDB
  kPortablePdb,       // a .NET portable PDB: metadata, not MSF
  kImage,             // a Windows image (exe, dll, sys, a Node add-on) naming its PDB
  kImageWithoutPdb,   // a Windows image with no CodeView debug record
  kOther,             // anything else
};

// The PDB an image was linked with, from the CodeView (RSDS) record of its
// debug directory, and where the image expects to be loaded.
struct ImageIdentity {
  std::array<std::uint8_t, 16> guid{};
  std::uint32_t age = 0;
  std::string pdbPath;         // as recorded: any bytes, never trusted as a path
  std::uint64_t imageBase = 0; // the preferred base, from the optional header
  std::uint16_t machine = 0;   // IMAGE_FILE_MACHINE_*
};

// Finds out what the file at path is and, for an image, its identity; the
// image is parsed with LLVM's Object library from a copy read with plain
// reads (of a PDB, only its first bytes are read). E_PDB_NOT_FOUND,
// E_INVALIDARG (not a regular file), E_OUTOFMEMORY or a code carrying the
// errno of the failed call (see HResultFromErrno) when the file cannot be
// read; a damaged image is kOther.
HRESULT IdentifyFile(const std::string& path, FileKind* kind, ImageIdentity* identity);

// The GUID as 32 upper-case hex digits in the order a symbol store names
// it (Data1, Data2, Data3, then the eight bytes of Data4), and the age in
// hex: the folder name of a PDB in a symbol store.
std::string SymbolStoreKey(const std::array<std::uint8_t, 16>& guid, std::uint32_t age);
// The GUID as it is usually written: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
std::string GuidText(const std::array<std::uint8_t, 16>& guid);

}  // namespace sorvanta
