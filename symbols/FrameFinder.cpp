#include "FrameFinder.h"

#include <algorithm>

#include "PdbImage.h"

namespace sorvanta {

namespace {

constexpr std::uint16_t kMachineI386 = 0x14C;

// The name an x86 extern "C" function is linked under, without the marks
// of its calling convention: _name (cdecl), _name@8 (stdcall), @name@8
// (fastcall), name@@8 (vectorcall).
std::string_view WithoutCallingConvention(std::string_view name) {
  const char front = name.empty() ? '\0' : name.front();
  if (front == '_' || front == '@') name.remove_prefix(1);
  const std::size_t at = name.rfind('@');
  if (at != std::string_view::npos &&
      std::all_of(name.begin() + at + 1, name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    name = name.substr(0, at);
  }
  if (!name.empty() && name.back() == '@') name.remove_suffix(1);
  return name;
}

}  // namespace

FrameFinder::FrameFinder(const PdbImage& image)
    : FrameFinder(image, std::make_shared<SharedLines>(image.loaded_.modules.size())) {}

FrameFinder::FrameFinder(const PdbImage& image, std::shared_ptr<SharedLines> lines)
    : image_(image), win32_(image.dbi_.machine() == kMachineI386), lines_(std::move(lines)) {}

FrameFinder::~FrameFinder() = default;

FrameFinder FrameFinder::ForAnotherThread() const { return FrameFinder(image_, lines_); }

const ModuleLines& FrameFinder::Lines(std::uint32_t module) {
  std::atomic<const ModuleLines*>& built = lines_->built[module];
  if (const ModuleLines* lines = built.load(std::memory_order_acquire)) return *lines;
  // Built outside the lock; of two threads that build one, the first to
  // finish keeps its facts.
  auto made = std::make_unique<ModuleLines>(image_.ModuleSymbols(module), image_.ModuleC13(module), image_.sections_);
  const std::lock_guard<std::mutex> lock(lines_->mutex);
  if (const ModuleLines* lines = built.load(std::memory_order_relaxed)) return *lines;
  built.store(made.get(), std::memory_order_release);
  lines_->owned[module] = std::move(made);
  return *lines_->owned[module];
}

std::string_view FrameFinder::FileName(const ModuleLines& lines, std::uint32_t checksum) const {
  std::uint32_t nameOffset = 0;
  std::string_view name;
  if (lines.checksums().FileNameOffset(checksum, &nameOffset) && image_.strings_.At(nameOffset, &name)) {
    return name;
  }
  return {};
}

void FrameFinder::AppendShownName(std::string_view name, std::string* out) const {
  out->append(win32_ ? WithoutCallingConvention(name) : name);
}

// A public is named as it is linked, demangled; an x86 extern "C" name
// without its calling convention's marks.
void FrameFinder::PublicName(std::uint32_t index, std::string* name) {
  if (win32_) {
    const std::string_view raw = image_.PublicRawName(index);
    if (raw.empty() || raw.front() != '?') return AppendShownName(raw, name);
  }
  name->append(image_.PublicName(index, &scratch_));
}

// A function is named by the public that starts where it does; else by
// its own name.
void FrameFinder::FunctionName(std::uint32_t function, std::uint64_t va, std::string* name) {
  name->clear();
  if (const std::optional<std::uint32_t> p = image_.FindPublicAtOrBelow(va)) {
    if (image_.FoundPublicAddress(*p) == *image_.FunctionAddress(function)) return PublicName(*p, name);
  }
  AppendShownName(image_.FunctionName(function), name);
}

// An inlined function's name: its class or scope, then its own name.
void FrameFinder::InlineeName(std::uint32_t inlinee, std::string* name) const {
  name->clear();
  std::uint16_t kind = 0;
  std::uint32_t scope = 0;
  std::string_view part;
  if (image_.ids_.FunctionScope(inlinee, &kind, &scope)) {
    const TypeStream& scopes = kind == TypeStream::kMemberFuncId ? image_.types_ : image_.ids_;
    if (scope != 0) {
      name->append(scopes.Name(scope, &part) ? part : std::string_view("??"));
      name->append("::");
    }
  }
  if (image_.ids_.Name(inlinee, &part)) {
    name->append(part);
  }
  if (win32_) {
    const std::string whole = *name;
    name->clear();
    AppendShownName(whole, name);
  }
}

// The next frame, reusing one left from an earlier address (and the
// memory of its name) where there is one.
Frame& FrameFinder::NextFrame(std::vector<Frame>* frames) {
  if (used_ == frames->size()) frames->emplace_back();
  Frame& frame = (*frames)[used_++];
  frame.name.clear();
  frame.file = frame.startFile = {};
  frame.line = frame.column = frame.startLine = 0;
  frame.startAddress.reset();
  return frame;
}

void FrameFinder::FramesAt(std::uint64_t va, Wanted wanted, std::vector<Frame>* frames) {
  used_ = 0;
  FindFrames(va, wanted, frames);
  frames->resize(used_);
}

void FrameFinder::FindFrames(std::uint64_t va, Wanted wanted, std::vector<Frame>* frames) {
  const std::optional<std::uint32_t> function = image_.FindFunction(va);
  if (!function) {
    const std::optional<std::uint32_t> p = image_.FindPublicAtOrBelow(va);
    if (!p) return;
    Frame& frame = NextFrame(frames);
    PublicName(*p, &frame.name);
    frame.startAddress = image_.FoundPublicAddress(*p);
    return;
  }

  const PdbFunctionSymbol& record = image_.Function(*function);
  const std::uint32_t module = record.module();
  const ModuleLines& lines = Lines(module);
  const std::uint64_t start = *image_.FunctionAddress(*function);
  const auto rva = static_cast<std::uint32_t>(*record.rva() + (va - start));
  const std::uint32_t k = *function - image_.loaded_.modules[module].firstFunction;  // in the module

  if (wanted.inlines) {
    if (const std::optional<std::uint32_t> proc = lines.ProcedureOffset(k)) {
      InlineFramesAt(lines.symbols(), *proc, record.length(), static_cast<std::uint32_t>(va - start), &inline_);
      for (const InlineFrame& site : inline_) {
        Frame& frame = NextFrame(frames);
        InlineeName(site.inlinee, &frame.name);
        if (const std::optional<ModuleLines::Position> first = lines.InlineeStart(site.inlinee)) {
          frame.line = static_cast<std::uint32_t>(static_cast<std::int64_t>(first->line) + site.lineOffset);
          frame.file = FileName(lines, site.file == kInlineeFile ? first->file : site.file);
          if (wanted.starts) {
            frame.startLine = first->line;
            frame.startFile = FileName(lines, first->file);
          }
        }
        frame.startAddress = start + site.firstCode;
      }
    }
  }

  Frame& outer = NextFrame(frames);
  FunctionName(*function, va, &outer.name);
  if (const std::optional<ModuleLines::Position> line = lines.LineAt(rva, k)) {
    outer.file = FileName(lines, line->file);
    outer.line = line->line;
    outer.column = line->column;
  }
  if (wanted.starts) {
    if (const std::optional<ModuleLines::Position> first = lines.FirstLineAt(*record.rva())) {
      outer.startFile = FileName(lines, first->file);
      outer.startLine = first->line;
    }
  }
  outer.startAddress = start;
}

}  // namespace sorvanta
