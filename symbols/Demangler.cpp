#include "Demangler.h"

#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "llvm/Demangle/MicrosoftDemangle.h"
#include "llvm/Demangle/MicrosoftDemangleNodes.h"
#include "llvm/Demangle/Utility.h"

namespace sorvanta {

namespace {

namespace ms = llvm::ms_demangle;
using ms::NodeKind;

// What a name may cost to print, per character of the mangled name: far
// above what real names need (a few characters each, with their
// back-references), and low enough that printing every name of a file
// stays linear in its size.
constexpr std::uint64_t kPrintBudgetPerChar = 256;
constexpr std::uint64_t kPrintBudgetBase = 256 * 8;

// An upper bound of the text a node writes itself, besides its children:
// keywords, separators, numbers and its own identifier. Generous, but
// close enough that real names stay far within the budget.
std::uint64_t OwnText(const ms::Node& node) {
  constexpr std::uint64_t kQualifiers = 40;  // " const volatile __restrict __unaligned"
  switch (node.kind()) {
    case NodeKind::NamedIdentifier:
      return 4 + static_cast<const ms::NamedIdentifierNode&>(node).Name.size();
    case NodeKind::LiteralOperatorIdentifier:
      return 16 + static_cast<const ms::LiteralOperatorIdentifierNode&>(node).Name.size();
    case NodeKind::EncodedStringLiteral:
      return 16 + static_cast<const ms::EncodedStringLiteralNode&>(node).DecodedString.size();
    case NodeKind::NodeArray:
      return 4 + 2 * static_cast<const ms::NodeArrayNode&>(node).Count;  // ", " or "::"
    case NodeKind::QualifiedName:
    case NodeKind::StructorIdentifier:
    case NodeKind::Md5Symbol:
      return 8;
    case NodeKind::PrimitiveType:
    case NodeKind::TagType:
    case NodeKind::ArrayType:
    case NodeKind::Custom:
    case NodeKind::IntrinsicType:
      return 24 + kQualifiers;
    case NodeKind::PointerType:
      return 32 + kQualifiers;
    case NodeKind::FunctionSymbol:
    case NodeKind::VariableSymbol:
    case NodeKind::ConversionOperatorIdentifier:
    case NodeKind::IntegerLiteral:
      return 32;
    case NodeKind::FunctionSignature:
      return 128 + kQualifiers;
    case NodeKind::ThunkSignature:
      return 256 + kQualifiers;
    default:
      // Intrinsic operators ("`vector deleting destructor'"), thunks and
      // descriptors with their numbers, template parameter references with
      // their offsets, special tables, static guards.
      return 128;
  }
}

// Calls add(child) for each node a node prints.
template <class Add>
void ForEachChild(const ms::Node& node, Add add) {
  auto identifier = [&](const ms::IdentifierNode& id) { add(id.TemplateParams); };
  auto symbol = [&](const ms::SymbolNode& s) { add(s.Name); };
  switch (node.kind()) {
    case NodeKind::FunctionSignature:
    case NodeKind::ThunkSignature: {
      const auto& f = static_cast<const ms::FunctionSignatureNode&>(node);
      add(f.ReturnType);
      add(f.Params);
      break;
    }
    case NodeKind::Identifier:
    case NodeKind::NamedIdentifier:
    case NodeKind::VcallThunkIdentifier:
    case NodeKind::LocalStaticGuardIdentifier:
    case NodeKind::IntrinsicFunctionIdentifier:
    case NodeKind::LiteralOperatorIdentifier:
    case NodeKind::RttiBaseClassDescriptor:
      identifier(static_cast<const ms::IdentifierNode&>(node));
      break;
    case NodeKind::ConversionOperatorIdentifier: {
      const auto& c = static_cast<const ms::ConversionOperatorIdentifierNode&>(node);
      identifier(c);
      add(c.TargetType);
      break;
    }
    case NodeKind::DynamicStructorIdentifier: {
      const auto& d = static_cast<const ms::DynamicStructorIdentifierNode&>(node);
      identifier(d);
      add(d.Variable);
      add(d.Name);
      break;
    }
    case NodeKind::StructorIdentifier: {
      const auto& s = static_cast<const ms::StructorIdentifierNode&>(node);
      identifier(s);
      add(s.Class);
      break;
    }
    case NodeKind::PointerType: {
      const auto& p = static_cast<const ms::PointerTypeNode&>(node);
      add(p.ClassParent);
      add(p.Pointee);
      break;
    }
    case NodeKind::TagType:
      add(static_cast<const ms::TagTypeNode&>(node).QualifiedName);
      break;
    case NodeKind::ArrayType: {
      const auto& a = static_cast<const ms::ArrayTypeNode&>(node);
      add(a.Dimensions);
      add(a.ElementType);
      break;
    }
    case NodeKind::Custom:
      add(static_cast<const ms::CustomTypeNode&>(node).Identifier);
      break;
    case NodeKind::NodeArray: {
      const auto& array = static_cast<const ms::NodeArrayNode&>(node);
      for (std::size_t i = 0; i < array.Count; ++i) add(array.Nodes[i]);
      break;
    }
    case NodeKind::QualifiedName:
      add(static_cast<const ms::QualifiedNameNode&>(node).Components);
      break;
    case NodeKind::TemplateParameterReference:
      add(static_cast<const ms::TemplateParameterReferenceNode&>(node).Symbol);
      break;
    case NodeKind::Md5Symbol:
    case NodeKind::EncodedStringLiteral:
    case NodeKind::LocalStaticGuardVariable:
      symbol(static_cast<const ms::SymbolNode&>(node));
      break;
    case NodeKind::SpecialTableSymbol: {
      const auto& t = static_cast<const ms::SpecialTableSymbolNode&>(node);
      symbol(t);
      add(t.TargetName);
      break;
    }
    case NodeKind::VariableSymbol: {
      const auto& v = static_cast<const ms::VariableSymbolNode&>(node);
      symbol(v);
      add(v.Type);
      break;
    }
    case NodeKind::FunctionSymbol: {
      const auto& f = static_cast<const ms::FunctionSymbolNode&>(node);
      symbol(f);
      add(f.Signature);
      break;
    }
    case NodeKind::Unknown:
    case NodeKind::PrimitiveType:
    case NodeKind::IntrinsicType:
    case NodeKind::IntegerLiteral:
      break;
  }
}

// The text each node prints with everything below it, by node. Most names
// have a few dozen nodes: a flat list searched from the end (recent nodes
// are asked for most) beats hashing them.
class PrintedSizes {
 public:
  const std::uint64_t* Find(const ms::Node* node) const {
    if (!map_.empty()) {
      const auto found = map_.find(node);
      return found == map_.end() ? nullptr : &found->second;
    }
    for (auto it = list_.rbegin(); it != list_.rend(); ++it) {
      if (it->first == node) return &it->second;
    }
    return nullptr;
  }
  void Add(const ms::Node* node, std::uint64_t size) {
    if (map_.empty() && list_.size() < kListed) {
      list_.emplace_back(node, size);
      return;
    }
    if (map_.empty()) map_.insert(list_.begin(), list_.end());
    map_.emplace(node, size);
  }
  void Clear() {
    list_.clear();
    map_.clear();
  }

 private:
  static constexpr std::size_t kListed = 64;
  std::vector<std::pair<const ms::Node*, std::uint64_t>> list_;
  std::unordered_map<const ms::Node*, std::uint64_t> map_;
};

// Whether printing root writes at most limit characters. The parsed name
// is a graph: a back-reference is one node printed wherever it is named,
// so the text is summed over the tree it unfolds to, each node's sum
// computed once. Iterative, so no name can exhaust the stack.
bool PrintsWithin(const ms::Node* root, std::uint64_t limit) {
  struct Step {
    const ms::Node* node;
    bool expanded;
  };
  // Kept from name to name, so that demangling a million names does not
  // allocate these a million times.
  thread_local PrintedSizes printed;
  thread_local std::vector<Step> stack;
  printed.Clear();
  stack.assign(1, {root, false});
  while (!stack.empty()) {
    const Step step = stack.back();
    stack.pop_back();
    if (!step.node || printed.Find(step.node)) continue;
    if (!step.expanded) {
      stack.push_back({step.node, true});
      ForEachChild(*step.node, [&](const ms::Node* child) {
        if (child && !printed.Find(child)) stack.push_back({child, false});
      });
      continue;
    }
    std::uint64_t total = OwnText(*step.node);
    ForEachChild(*step.node, [&](const ms::Node* child) {
      // A node on the path to itself would be a cycle; the parser makes
      // none, and a missing entry here counts as nothing rather than loop.
      if (const std::uint64_t* size = child ? printed.Find(child) : nullptr) total += *size;
    });
    if (total > limit) return false;
    printed.Add(step.node, total);
  }
  return true;
}

// ---- What the parser writes before the name can be measured.
//
// While it parses, llvm's demangler writes out the text of every template
// instantiation that a back-reference may name later (and of every local
// scope's enclosing name), so that text is made before PrintsWithin can see
// it; back-references in nested template arguments multiply it level by
// level, and a name of 200 characters can cost hundreds of megabytes, one
// of 300 more than any machine has (the parser then aborts). So the text
// of each template instantiation is bounded before the parser is given
// anything that ends it, innermost first:
//
// A back-reference is one digit and repeats something read before it in
// the same instantiation. A name back-reference repeats a name: one of its
// own, or an inner instantiation. A parameter back-reference, only found
// in a function type's parameters (after a '6' or '8', or in a nested
// symbol after a '?'), repeats a parameter, so it can double the text made
// so far. An instantiation writes at most kTextPerChar characters per
// character of its own, plus what its inner instantiations write (bounded
// already), plus for each digit of its own the largest name, or when it
// has function types, doubled for each. While that bound is within
// kInstantiationText, each '@' that could end it is tried: the
// instantiation up to there, with every inner one replaced by a short
// stand-in (an instantiation's arguments form a context of their own, so
// where it ends does not depend on them), is given to the parser alone.
// The end found is then confirmed by parsing the instantiation as it is
// written, inner ones and all (a "?$" inside a plain name is no inner
// instantiation, and its stand-in would change the name). A "?$" that
// does not parse so, and a local scope, are bounded by everything after
// them.

constexpr std::uint64_t kTextPerChar = 32;
constexpr std::uint64_t kInstantiationText = std::uint64_t{1} << 20;
// All the text written while parsing one name; the characters parsed
// while finding where its instantiations end, and the characters parsed
// and text written while confirming those ends.
constexpr std::uint64_t kParseText = std::uint64_t{4} << 20;
constexpr std::uint64_t kSearchWork = std::uint64_t{256} << 10;
constexpr std::uint64_t kConfirmWork = std::uint64_t{2} << 20;
// What an inner instantiation is replaced by: template "_" of no arguments.
constexpr std::string_view kStandIn = "?$_@@";

// A template instantiation found: where it lies in the name, a bound of
// its text, and of the text that parsing it writes (its inner ones' too).
struct Instantiation {
  std::size_t begin;
  std::size_t end;
  std::uint64_t text;
  std::uint64_t parseText;
};

// Whether a local scope (a number between two '?', then the enclosing
// name, which the parser writes out) starts at s.
bool StartsLocalScope(std::string_view s) {
  if (s.size() < 4 || s[0] != '?') return false;
  const std::size_t close = s.find('?', 1);
  if (close == std::string_view::npos || close + 1 >= s.size() || s[close + 1] != '?') return false;
  const std::string_view number = s.substr(1, close - 1);
  if (number.size() == 1) return number[0] == '@' || (number[0] >= '0' && number[0] <= '9');
  if (number.size() < 2 || number.back() != '@' || number[0] < 'B' || number[0] > 'P') return false;
  for (std::size_t i = 1; i + 1 < number.size(); ++i) {
    if (number[i] < 'A' || number[i] > 'P') return false;
  }
  return true;
}

// Text bounded by chars own characters, children's text (the largest
// child's largestChild), and digits back-references, each a doubling when
// doubles; UINT64_MAX past what can be counted.
std::uint64_t TextBound(std::uint64_t chars, std::uint64_t children, std::uint64_t largestChild,
                        std::uint64_t digits, bool doubles) {
  const std::uint64_t base = kTextPerChar * chars + children;
  if (!doubles) return base + digits * std::max(largestChild, chars);
  if (digits >= 40) return UINT64_MAX;
  return base > (UINT64_MAX >> digits) ? UINT64_MAX : base << digits;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Whether the parser reads name (a class name) whole.
bool ParsesWhole(std::string_view name) {
  llvm::itanium_demangle::StringView view(name.data(), name.data() + name.size());
  ms::Demangler demangler;
  const ms::TagTypeNode* tag = demangler.parseTagUniqueName(view);
  return !demangler.Error && tag && tag->QualifiedName && view.empty();
}

// Whether parsing mangled writes at most kParseText characters before its
// tree can be measured (see above).
bool ParseIsBounded(std::string_view mangled) {
  const std::size_t n = mangled.size();
  // Whole-name bound first: no instantiation or local scope writes more
  // than the name would if it were one instantiation, and each starts at a
  // '?'. Most names, template-heavy ones included, pass this without the
  // search below, which parses each candidate end.
  const auto digits = static_cast<std::uint64_t>(std::count_if(mangled.begin(), mangled.end(), IsDigit));
  const auto starts = static_cast<std::uint64_t>(std::count(mangled.begin(), mangled.end(), '?'));
  const std::uint64_t whole = TextBound(n, 0, 0, digits, true);
  if (whole <= kInstantiationText && whole <= kParseText / std::max<std::uint64_t>(starts, 1)) return true;

  std::vector<Instantiation> outer;  // the outermost found so far, in name order
  std::uint64_t parseText = 0;       // of every one found
  std::uint64_t work = 0;
  std::uint64_t confirmWork = 0;
  std::string candidate;
  // Text written from p on, bounded by all that follows it.
  auto boundOfRest = [&](std::size_t p) {
    std::uint64_t children = 0;
    std::uint64_t own = n - p;
    std::uint64_t digits = 0;
    for (std::size_t i = p; i < n; ++i) digits += IsDigit(mangled[i]) ? 1 : 0;
    for (const Instantiation& i : outer) {
      if (i.begin < p) continue;
      children += i.text;
      own -= i.end - i.begin;
      for (std::size_t at = i.begin; at < i.end; ++at) digits -= IsDigit(mangled[at]) ? 1 : 0;
    }
    return TextBound(own, children, 0, digits, true);
  };
  for (std::size_t p = n < 2 ? 0 : n - 1; p-- > 0;) {
    const bool instantiation = mangled[p] == '?' && mangled[p + 1] == '$';
    if (!instantiation && !StartsLocalScope(mangled.substr(p))) continue;

    const auto first = std::lower_bound(outer.begin(), outer.end(), p,
                                        [](const Instantiation& i, std::size_t at) { return i.begin < at; });
    auto inner = first;  // the next inner instantiation
    std::uint64_t innerParseText = 0;
    std::uint64_t children = 0;
    std::uint64_t largestChild = 0;
    std::uint64_t own = 2;
    std::uint64_t digits = 0;
    bool doubles = false;
    candidate.assign(".?AV?$");
    std::optional<Instantiation> found;
    for (std::size_t at = p + 2; instantiation && !found && at < n;) {
      if (inner != outer.end() && inner->begin == at) {
        candidate.append(kStandIn);
        innerParseText += inner->parseText;
        children += inner->text;
        largestChild = std::max(largestChild, inner->text);
        at = inner->end;
        ++inner;
        continue;
      }
      const char c = mangled[at++];
      candidate.push_back(c);
      ++own;
      digits += IsDigit(c) ? 1 : 0;
      doubles = doubles || c == '6' || c == '8' || c == '?';
      if (c != '@') continue;
      const std::uint64_t text = TextBound(own, children, largestChild, digits, doubles);
      if (text > kInstantiationText) return false;
      work += candidate.size();
      if (work > kSearchWork) return false;
      // It ends here when it parses with nothing after it (the '@' added
      // ends the class name's scope).
      candidate.push_back('@');
      if (ParsesWhole(candidate)) found = Instantiation{p, at, text, innerParseText + text};
      candidate.pop_back();
    }
    if (found) {
      confirmWork += found->end - p + found->parseText;
      if (confirmWork > kConfirmWork) return false;
      candidate.assign(".?AV");
      candidate.append(mangled.data() + p, found->end - p);
      candidate.push_back('@');
      if (!ParsesWhole(candidate)) found.reset();
    }
    if (!found) {
      const std::uint64_t text = boundOfRest(p);
      if (text > kInstantiationText) return false;
      parseText += text;
      if (parseText > kParseText) return false;
      continue;
    }
    parseText += found->text;
    if (parseText > kParseText) return false;
    outer.insert(outer.erase(first, inner), *found);
  }
  return true;
}

}  // namespace

bool DemangleMicrosoft(std::string_view mangled, DemangleStyle style, std::string* out) {
  if (mangled.empty() || mangled.size() > kMaxMangledLength) return false;
  if (!ParseIsBounded(mangled)) return false;
  ms::Demangler demangler;
  llvm::itanium_demangle::StringView name(mangled.data(), mangled.data() + mangled.size());
  const ms::SymbolNode* root = demangler.parse(name);
  if (demangler.Error || !root) return false;
  const std::uint64_t limit = kPrintBudgetBase + kPrintBudgetPerChar * mangled.size();
  if (!PrintsWithin(root, limit)) return false;

  ms::OutputFlags flags = ms::OF_Default;
  if (style == DemangleStyle::kSymbolizer) {
    flags = ms::OutputFlags(ms::OF_NoAccessSpecifier | ms::OF_NoCallingConvention |
                            ms::OF_NoMemberType | ms::OF_NoReturnType);
  }
  llvm::itanium_demangle::OutputBuffer buffer;
  if (!llvm::itanium_demangle::initializeOutputBuffer(nullptr, nullptr, buffer, 1024)) return false;
  root->output(buffer, flags);
  std::unique_ptr<char, decltype(&std::free)> text(buffer.getBuffer(), &std::free);
  const std::size_t length = buffer.getCurrentPosition();
  if (length > kMaxDemangledLength) return false;
  out->assign(text.get(), length);
  return true;
}

}  // namespace sorvanta
