#include "Symbolize.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AddressBatch.h"
#include "AddressText.h"
#include "FrameFinder.h"
#include "FrameOutput.h"
#include "ImageFile.h"
#include "InputLines.h"
#include "PdbImage.h"
#include "PdbLocator.h"
#include "QueryOutput.h"
#include "QueryProgram.h"

namespace sorvanta {

namespace {

constexpr const char* kProgram = "sorvanta-query";

int CannotSymbolize(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
  return kExitCannotOpen;
}

std::string Identity(const std::array<std::uint8_t, 16>& guid, std::uint32_t age) {
  return GuidText(guid) + " age " + std::to_string(age);
}

HRESULT LoadForSymbols(const std::string& path, std::shared_ptr<PdbImage>* image) {
  LoadOptions options = PdbImage::DefaultLoadOptions();
  options.publics = true;
  options.lines = true;
  options.publicNames = DemangleStyle::kSymbolizer;
  options.dataPublics = true;
  return PdbImage::Load(path, options, image);
}

// Loads the PDB at path; exit status and message when it cannot be used.
int Load(const std::string& path, std::shared_ptr<PdbImage>* image) {
  const HRESULT loaded = LoadForSymbols(path, image);
  if (Failed(loaded)) return CannotSymbolize("cannot open " + path + ": " + OpenFailureReason(loaded));
  if (Failed((*image)->publicsStatus())) {
    return CannotSymbolize("cannot read the public symbols of " + path + ": " +
                           OpenFailureReason((*image)->publicsStatus()));
  }
  return kExitOk;
}

// Finds the image's own PDB: the first place that holds a PDB with the
// image's GUID and age (any PDB, with ignoreMismatch).
int LoadImagePdb(const SymbolizeOptions& o, const ImageIdentity& id, std::shared_ptr<PdbImage>* image) {
  const char* ntSymbolPath = std::getenv("_NT_SYMBOL_PATH");
  const std::vector<PdbCandidate> candidates =
      FindPdbCandidates(o.file, id, o.symbolPaths, ntSymbolPath ? ntSymbolPath : "");
  std::string mismatched;
  std::string unreadable;
  for (const PdbCandidate& c : candidates) {
    InfoStream info;
    const HRESULT read = PdbImage::ReadInfo(c.path, &info);
    if (Failed(read)) {
      unreadable += "; " + c.path + " (" + c.where + "): " + OpenFailureReason(read);
      continue;
    }
    if ((info.guid() != id.guid || info.age() != id.age) && !o.ignoreMismatch) {
      mismatched += "; " + c.path + " (" + c.where + ") is " + Identity(info.guid(), info.age());
      continue;
    }
    return Load(c.path, image);
  }
  const std::string name = PdbFileName(id.pdbPath);
  const std::string wanted = o.file + " (" + Identity(id.guid, id.age) + ")";
  if (!mismatched.empty()) {
    return CannotSymbolize("no PDB matches " + wanted + mismatched + unreadable +
                           "; --ignore-mismatch takes the first PDB found");
  }
  // Files of the PDB's name were found, but none could be read.
  if (!unreadable.empty()) return CannotSymbolize("no readable PDB for " + wanted + unreadable);
  if (name.empty()) return CannotSymbolize(o.file + " names no usable PDB file: \"" + id.pdbPath + "\"");
  return CannotSymbolize("cannot find " + name + ", the PDB of " + wanted +
                         ", beside the image, at its recorded path or in a symbol path");
}

// Opens what o.file names and sets the load address; exit status.
int Open(const SymbolizeOptions& o, std::shared_ptr<PdbImage>* image) {
  FileKind kind = FileKind::kOther;
  ImageIdentity id;
  if (const HRESULT hr = IdentifyFile(o.file, &kind, &id); Failed(hr)) {
    return CannotSymbolize("cannot open " + o.file + ": " + OpenFailureReason(hr));
  }
  std::uint64_t base = 0;
  switch (kind) {
    case FileKind::kPortablePdb:
      return CannotSymbolize(o.file + " is a portable (.NET) PDB, which holds no native code's symbols");
    case FileKind::kImageWithoutPdb:
      return CannotSymbolize(o.file + " has no PDB reference: the image has no CodeView debug record");
    case FileKind::kOther:
      return CannotSymbolize("cannot open " + o.file + ": not a PDB file or a Windows image");
    case FileKind::kPdb:
      if (const int status = Load(o.file, image); status != kExitOk) return status;
      break;
    case FileKind::kImage:
      if (const int status = LoadImagePdb(o, id, image); status != kExitOk) return status;
      if (!o.relative) base = id.imageBase;
      break;
  }
  if (o.base && !ParseAddress(*o.base, &base)) return Usage("--base " + *o.base + " is not an address");
  if (Failed((*image)->SetLoadAddress(base))) {
    return Usage("a base of " + (o.base ? *o.base : std::to_string(base)) +
                 " would put some function past 64 bits");
  }
  return kExitOk;
}

}  // namespace

int RunSymbolize(const SymbolizeOptions& o) {
  std::shared_ptr<PdbImage> image;
  if (const int status = Open(o, &image); status != kExitOk) return status;
  FrameFinder::Wanted wanted;
  wanted.inlines = o.inlines;
  wanted.starts = o.style == OutputStyle::kJson;  // only JSON shows them
  bool allAddresses = true;

  // A finder and its frames for each thread that answers, a cache line
  // each, as each thread writes its own all the time.
  struct alignas(64) Answerer {
    FrameFinder finder;
    std::vector<Frame> frames;
  };
  const unsigned threads = o.addresses.empty() ? std::max(1u, std::thread::hardware_concurrency()) : 1;
  std::deque<Answerer> answerers;
  answerers.push_back({FrameFinder(*image), {}});
  while (answerers.size() < threads) answerers.push_back({answerers.front().finder.ForAnotherThread(), {}});
  auto answerWith = [&](Answerer& a, std::uint64_t va, TextBuffer* out) {
    a.finder.FramesAt(va, wanted, &a.frames);
    AppendFrames(o.style, va, o.file, a.frames, out);
  };
  auto answer = [&](std::uint64_t va, TextBuffer* out) { answerWith(answerers.front(), va, out); };
  auto notAnAddress = [&](std::string_view text, TextBuffer* out) {
    std::fprintf(stderr, "%s: not an address: %.*s\n", kProgram, static_cast<int>(text.size()), text.data());
    allAddresses = false;
    AppendNotAnAddress(o.style, text, o.file, out);
  };

  Output out(stdout);
  bool written;
  if (o.addresses.empty()) {
    // One JSON object a line.
    const auto lineEnd = [&](TextBuffer* out) {
      if (o.style == OutputStyle::kJson) out->Push('\n');
    };
    std::vector<AddressBatch::Answer> answering;
    for (Answerer& a : answerers) {
      answering.push_back([&](std::uint64_t va, TextBuffer* text) { answerWith(a, va, text), lineEnd(text); });
    }
    AddressBatch batch(std::move(answering),
                       [&](std::string_view line, TextBuffer* text) { notAnAddress(line, text), lineEnd(text); },
                       AddressBatch::HeldLimitFor(image->functionCount()),
                       [&image] { image->PrepareConcurrentLookups(); });
    written = AnswerLineBatches(
        out, [&](const std::vector<std::string_view>& lines, Output& batchOut) { batch.AnswerAll(lines, batchOut); });
  } else {
    // Addresses on the command line are one answer: a JSON array, as
    // llvm-symbolizer writes them.
    if (o.style == OutputStyle::kJson) out.buffer().Push('[');
    for (std::size_t i = 0; i < o.addresses.size(); ++i) {
      if (o.style == OutputStyle::kJson && i > 0) out.buffer().Push(',');
      std::uint64_t va = 0;
      if (ParseAddress(o.addresses[i], &va)) {
        answer(va, &out.buffer());
      } else {
        notAnAddress(o.addresses[i], &out.buffer());
      }
      out.EndRecord();
    }
    if (o.style == OutputStyle::kJson) out.buffer().Append("]\n");
    written = out.Flush();
  }
  if (!written) return kExitOutputFailed;
  return allAddresses ? kExitOk : kExitOutputFailed;
}

}  // namespace sorvanta
