#pragma once

#include <memory>
#include <string>

#include "HResult.h"

namespace sorvanta {

class PdbImage;

// Exit statuses of sorvanta-query.
constexpr int kExitOk = 0;
constexpr int kExitOutputFailed = 1;  // stdout not written, stdin not read, or memory ran out mid-way
constexpr int kExitUsage = 2;
constexpr int kExitCannotOpen = 3;

// Opens the PDB at path (bytes, as given), with the public symbols when
// publics is set.
HRESULT OpenPdb(const std::string& path, bool publics, std::shared_ptr<PdbImage>* image);

// Why a file could not be opened, from the reader's own result: "no such
// file", "not a PDB file", "damaged PDB file", "out of memory", the
// system's text for a failed call's errno, ...
std::string OpenFailureReason(HRESULT result);

// Writes message and the usage text to standard error; the exit status
// of bad usage.
int Usage(const std::string& message);

// The whole program: parses argv, runs one command on stdin/stdout/stderr
// and returns the exit status.
int RunQuery(int argc, char** argv);

}  // namespace sorvanta
