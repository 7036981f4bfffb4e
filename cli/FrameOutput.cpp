#include "FrameOutput.h"

#include <charconv>
#include <string>

#include "AddressText.h"
#include "QueryOutput.h"
#include "Utf8.h"

namespace sorvanta {

namespace {

constexpr std::string_view kUnknown = "??";

void AppendNumber(std::uint64_t value, TextBuffer* out) {
  char digits[20];
  out->Append(std::string_view(digits, static_cast<std::size_t>(std::to_chars(digits, digits + 20, value).ptr - digits)));
}

void AppendHexText(std::uint64_t value, TextBuffer* out) {
  char text[kMaxAddressText];
  out->Append(std::string_view(text, WriteHex(value, text)));
}

// A name or file in a text line: its line breaks and other control
// characters would break the framing a reader relies on.
void AppendText(std::string_view text, TextBuffer* out) {
  if (text.empty()) {
    out->Append(kUnknown);
  } else {
    AppendTsvText(text, out);
  }
}

void AppendJsonFrame(const Frame& frame, TextBuffer* out) {
  out->Append("{\"Column\":");
  AppendNumber(frame.column, out);
  out->Append(",\"Discriminator\":0,\"FileName\":");
  AppendJsonString(frame.file, out);
  out->Append(",\"FunctionName\":");
  AppendJsonString(frame.name, out);
  out->Append(",\"Line\":");
  AppendNumber(frame.line, out);
  out->Append(",\"StartAddress\":");
  if (frame.startAddress) {
    out->Push('"');
    AppendHexText(*frame.startAddress, out);
    out->Push('"');
  } else {
    out->Append("\"\"");
  }
  out->Append(",\"StartFileName\":");
  AppendJsonString(frame.startFile, out);
  out->Append(",\"StartLine\":");
  AppendNumber(frame.startLine, out);
  out->Push('}');
}

}  // namespace

void AppendJsonString(std::string_view text, TextBuffer* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string valid;
  if (!IsValidUtf8(text)) {
    AppendValidUtf8(text, &valid);
    text = valid;
  }
  out->Push('"');
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') out->Push('\\');
    if (c >= 0x20) {
      out->Push(ch);
      continue;
    }
    switch (c) {
      case '\t': out->Append("\\t"); break;
      case '\n': out->Append("\\n"); break;
      case '\r': out->Append("\\r"); break;
      default: {
        const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out->Append(std::string_view(escape, sizeof escape));
      }
    }
  }
  out->Push('"');
}

void AppendFrames(OutputStyle style, std::uint64_t address, std::string_view module,
                  const std::vector<Frame>& frames, TextBuffer* out) {
  if (style == OutputStyle::kJson) {
    out->Append("{\"Address\":\"");
    AppendHexText(address, out);
    out->Append("\",\"ModuleName\":");
    AppendJsonString(module, out);
    out->Append(",\"Symbol\":[");
    if (frames.empty()) {
      AppendJsonFrame(Frame(), out);
    }
    for (std::size_t i = 0; i < frames.size(); ++i) {
      if (i > 0) out->Push(',');
      AppendJsonFrame(frames[i], out);
    }
    out->Append("]}");
    return;
  }
  auto appendFrame = [&](const Frame& frame) {
    AppendText(frame.name, out);
    out->Push('\n');
    AppendText(frame.file, out);
    out->Push(':');
    AppendNumber(frame.line, out);
    if (style == OutputStyle::kLlvm) {
      out->Push(':');
      AppendNumber(frame.column, out);
    }
    out->Push('\n');
  };
  if (frames.empty()) appendFrame(Frame());
  for (const Frame& frame : frames) appendFrame(frame);
  if (style == OutputStyle::kLlvm) out->Push('\n');
}

void AppendNotAnAddress(OutputStyle style, std::string_view text, std::string_view module,
                        TextBuffer* out) {
  if (style == OutputStyle::kJson) {
    out->Append("{\"Error\":{\"Message\":");
    AppendJsonString("unable to parse arguments: " + std::string(text), out);
    out->Append("},\"ModuleName\":");
    AppendJsonString(module, out);
    out->Push('}');
    return;
  }
  AppendTsvText(text, out);
  out->Push('\n');
}

}  // namespace sorvanta
