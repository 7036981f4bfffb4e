#pragma once

#include <string>

#include "DiaRef.h"
#include "HResult.h"
#include "IDiaSession.h"

namespace sorvanta {

// Exit statuses of sorvanta-query.
constexpr int kExitOk = 0;
constexpr int kExitOutputFailed = 1;  // stdout not written, stdin not read, or memory ran out mid-way
constexpr int kExitUsage = 2;
constexpr int kExitCannotOpen = 3;

// Opens the PDB at path (UTF-8) through the symbol component, with the
// public symbols when publics is set.
HRESULT OpenPdb(const std::string& path, bool publics, DiaRef<IDiaSession>* session);

// Why a file could not be opened, from OpenPdb's result: "no such file",
// "not a PDB file", "damaged PDB file", "out of memory", ...
std::string OpenFailureReason(HRESULT result, const std::string& path);

// The whole program: parses argv, runs one command on stdin/stdout/stderr
// and returns the exit status.
int RunQuery(int argc, char** argv);

}  // namespace sorvanta
