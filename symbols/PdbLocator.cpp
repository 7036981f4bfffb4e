#include "PdbLocator.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <set>
#include <utility>

namespace sorvanta {

namespace {

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
           return lower(x) == lower(y);
         });
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The entries of folder named name, ignoring ASCII case: the exact name
// first, then the others in name order (so the choice never depends on
// the order the file system lists them in).
std::vector<std::string> EntriesNamed(const std::string& folder, const std::string& name) {
  std::vector<std::string> found;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "." : folder.c_str()), ::closedir);
  if (!dir) return found;
  while (const dirent* entry = ::readdir(dir.get())) {
    if (EqualIgnoringCase(entry->d_name, name)) found.emplace_back(entry->d_name);
  }
  std::sort(found.begin(), found.end(), [&](const std::string& a, const std::string& b) {
    if ((a == name) != (b == name)) return a == name;
    return a < b;
  });
  return found;
}

// Files named name (ignoring case) in folder.
void AddFiles(const std::string& folder, const std::string& name, const std::string& where,
              std::vector<PdbCandidate>* out) {
  for (const std::string& entry : EntriesNamed(folder, name)) {
    const std::string path = Join(folder, entry);
    if (IsRegularFile(path)) out->push_back({path, where});
  }
}

// folder as a flat folder and as a symbol store.
void AddFolder(const std::string& folder, const std::string& name, const std::string& key,
               std::vector<PdbCandidate>* out) {
  AddFiles(folder, name, "in " + folder, out);
  for (const std::string& nameDir : EntriesNamed(folder, name)) {
    for (const std::string& keyDir : EntriesNamed(Join(folder, nameDir), key)) {
      AddFiles(Join(Join(folder, nameDir), keyDir), name, "in the symbol store " + folder, out);
    }
  }
}

}  // namespace

std::string PdbFileName(std::string_view recordedPath) {
  const std::size_t slash = recordedPath.find_last_of("/\\");
  std::string_view name = slash == std::string_view::npos ? recordedPath : recordedPath.substr(slash + 1);
  // A drive letter with no separator after it ("C:name.pdb") is a folder too.
  if (name.size() >= 2 && name[1] == ':' &&
      ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'))) {
    name.remove_prefix(2);
  }
  if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string_view::npos) return {};
  return std::string(name);
}

std::vector<std::string> NtSymbolPathFolders(std::string_view value) {
  std::vector<std::string> folders;
  auto isUrl = [](std::string_view part) { return part.find("://") != std::string_view::npos; };
  while (!value.empty()) {
    const std::size_t semicolon = value.find(';');
    std::string_view entry = value.substr(0, semicolon);
    value = semicolon == std::string_view::npos ? std::string_view() : value.substr(semicolon + 1);
    auto startsWith = [&](std::string_view prefix) {
      return entry.size() >= prefix.size() && EqualIgnoringCase(entry.substr(0, prefix.size()), prefix);
    };
    if (startsWith("srv*") || startsWith("symsrv*") || startsWith("cache*")) {
      // srv*DIR*URL, cache*DIR: the folders between the stars are local
      // caches; a URL is not.
      entry.remove_prefix(entry.find('*') + 1);
      while (!entry.empty()) {
        const std::size_t star = entry.find('*');
        const std::string_view part = entry.substr(0, star);
        if (!part.empty() && !isUrl(part) && !EqualIgnoringCase(part, "symsrv.dll")) folders.emplace_back(part);
        entry = star == std::string_view::npos ? std::string_view() : entry.substr(star + 1);
      }
    } else if (!entry.empty() && !isUrl(entry)) {
      folders.emplace_back(entry);
    }
  }
  return folders;
}

std::vector<PdbCandidate> FindPdbCandidates(const std::string& imagePath, const ImageIdentity& image,
                                            const std::vector<std::string>& symbolPaths,
                                            std::string_view ntSymbolPath) {
  std::vector<PdbCandidate> candidates;
  const std::string name = PdbFileName(image.pdbPath);
  if (name.empty()) return candidates;
  const std::size_t slash = imagePath.find_last_of('/');
  const std::string imageFolder = slash == std::string::npos ? "." : imagePath.substr(0, slash + 1);
  AddFiles(imageFolder, name, "beside the image", &candidates);
  if (!image.pdbPath.empty() && image.pdbPath[0] == '/' && IsRegularFile(image.pdbPath)) {
    candidates.push_back({image.pdbPath, "at the recorded path"});
  }
  const std::string key = SymbolStoreKey(image.guid, image.age);
  for (const std::string& folder : symbolPaths) AddFolder(folder, name, key, &candidates);
  for (const std::string& folder : NtSymbolPathFolders(ntSymbolPath)) AddFolder(folder, name, key, &candidates);
  // A file found by two routes (a symbol path that is the image's own
  // folder) is tried once, where it was found first.
  std::set<std::pair<dev_t, ino_t>> seen;
  candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                  [&](const PdbCandidate& c) {
                                    struct stat info {};
                                    return ::stat(c.path.c_str(), &info) == 0 &&
                                           !seen.insert({info.st_dev, info.st_ino}).second;
                                  }),
                   candidates.end());
  return candidates;
}

}  // namespace sorvanta
