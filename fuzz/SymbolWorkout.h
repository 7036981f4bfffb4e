#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sorvanta {

// Puts a file through everything the program can do with it: open it, list
// every function, search a name, look up addresses, set a load address,
// read every property of up to a few hundred symbols, drop the session and
// read them again; and what sorvanta-query does (list and addr output in
// TSV and JSON, publics, every name-match mode). Used by the fuzz target on arbitrary bytes and by the
// test suite on the inputs that once broke the reader. Returns the number
// of functions listed (0 when the file was refused).
std::size_t WorkOutSymbolFile(const std::string& path, std::uint64_t seed);

}  // namespace sorvanta
