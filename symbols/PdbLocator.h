#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ImageFile.h"

namespace sorvanta {

// A place where an image's PDB may be, and how it was found.
struct PdbCandidate {
  std::string path;
  std::string where;  // "beside the image", "at the recorded path", "in DIR", ...
};

// The files that may hold the PDB of the image at imagePath, in the order
// to try them: beside the image under the recorded name's last component
// (ignoring case); at the recorded path itself when it is a local absolute
// path; then in each folder of symbolPaths and then of ntSymbolPath (the
// value of _NT_SYMBOL_PATH), each as a flat folder and as a symbol store
// (DIR/NAME/KEY/NAME, KEY as SymbolStoreKey). Only files that exist are
// given. The recorded name is untrusted: only its last component, split at
// either slash, is ever joined to a folder, so it cannot reach outside it.
std::vector<PdbCandidate> FindPdbCandidates(const std::string& imagePath, const ImageIdentity& image,
                                            const std::vector<std::string>& symbolPaths,
                                            std::string_view ntSymbolPath);

// The last component of a recorded PDB path, whatever separators it uses;
// empty when there is none that could name a file ("", ".", "..").
std::string PdbFileName(std::string_view recordedPath);

// The local folders that a _NT_SYMBOL_PATH value names: plain folders, and
// the cache folders of srv*DIR*URL and cache*DIR entries; URLs and empty
// entries are left out.
std::vector<std::string> NtSymbolPathFolders(std::string_view value);

}  // namespace sorvanta
