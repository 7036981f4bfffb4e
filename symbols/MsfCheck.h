#pragma once

#include <cstddef>
#include <cstdint>

namespace sorvanta {

// Checks the container layout of an MSF (PDB) file before LLVM parses it:
// the superblock, the block map of the stream directory, the directory
// itself, and every stream's block list. LLVM's reader trusts these and
// reads out of bounds when they lie, so a file that fails here is refused.
//
// After a successful check: the block size is one LLVM accepts; every block
// index named by the file lies inside the bytes given; the directory holds
// exactly the stream sizes and block lists it claims.
bool CheckMsfLayout(const std::uint8_t* data, std::size_t size);

}  // namespace sorvanta
