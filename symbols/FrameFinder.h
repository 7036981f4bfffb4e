#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "InlineSites.h"
#include "ModuleLines.h"
#include "PdbImage.h"

namespace sorvanta {


// One frame at an address: a function, or a call inlined into one, with
// the source position of the address in it. Empty names and files are
// unknown ones.
struct Frame {
  std::string name;
  std::string_view file;
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  // Where the function (or the inlined function) starts, where the PDB
  // says: its first line and file, and its first address.
  std::string_view startFile;
  std::uint32_t startLine = 0;
  std::optional<std::uint64_t> startAddress;
};

// Finds the frames at an address, as a symbolizer shows them: the
// innermost function that holds it, the inlined calls inside it, and the
// source line of each. Needs an image loaded with lines (and with publics,
// whose names stand for the functions' own where one starts at the same
// address, as linkers and debuggers name them). Each module's line facts
// are built when an address first falls in it.
class FrameFinder {
 public:
  explicit FrameFinder(const PdbImage& image);
  ~FrameFinder();

  // Another finder over the same image, for another thread: the two share
  // the line facts either builds, and may find frames at once once the
  // image's PrepareConcurrentLookups has run.
  FrameFinder ForAnotherThread() const;

  // What to find besides each frame's name and position.
  struct Wanted {
    bool inlines = true;  // the calls inlined at the address
    bool starts = false;  // where each function starts
  };

  // The frames at va, innermost first: the inlined calls, then the
  // function. With no function there, the nearest public at or below va in
  // its section, alone; with neither, no frame.
  void FramesAt(std::uint64_t va, Wanted wanted, std::vector<Frame>* frames);

 private:
  void FindFrames(std::uint64_t va, Wanted wanted, std::vector<Frame>* frames);
  Frame& NextFrame(std::vector<Frame>* frames);
  const ModuleLines& Lines(std::uint32_t module);
  std::string_view FileName(const ModuleLines& lines, std::uint32_t checksum) const;
  void FunctionName(std::uint32_t function, std::uint64_t va, std::string* name);
  void PublicName(std::uint32_t index, std::string* name);
  void InlineeName(std::uint32_t inlinee, std::string* name) const;
  void AppendShownName(std::string_view name, std::string* out) const;

  // Each module's line facts, built by whichever finder first needs them.
  struct SharedLines {
    explicit SharedLines(std::size_t modules) : built(modules), owned(modules) {}
    std::vector<std::atomic<const ModuleLines*>> built;
    std::mutex mutex;  // held while one is kept
    std::vector<std::unique_ptr<ModuleLines>> owned;
  };
  FrameFinder(const PdbImage& image, std::shared_ptr<SharedLines> lines);

  const PdbImage& image_;
  bool win32_;  // x86: extern "C" names carry the decorations of their convention
  std::shared_ptr<SharedLines> lines_;
  std::vector<InlineFrame> inline_;
  std::string scratch_;
  std::size_t used_ = 0;  // frames filled for the address being answered
};

}  // namespace sorvanta
