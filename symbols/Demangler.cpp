#include "Demangler.h"

#include "DemangleParseBound.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
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
bool PrintsWithinShared(const ms::Node* root, std::uint64_t limit) {
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

// The same, for most names at a fraction of the cost: a name whose tree,
// unfolded, has a few hundred nodes at most is summed node by node, each
// as often as it is printed, with no table of the sums.
bool PrintsWithin(const ms::Node* root, std::uint64_t limit) {
  constexpr std::size_t kUnfoldedNodes = 512;
  thread_local std::vector<const ms::Node*> stack;
  stack.assign(1, root);
  std::uint64_t total = 0;
  for (std::size_t visited = 0; !stack.empty(); ++visited) {
    if (visited == kUnfoldedNodes) return PrintsWithinShared(root, limit);
    const ms::Node* node = stack.back();
    stack.pop_back();
    if (!node) continue;
    total += OwnText(*node);
    if (total > limit) return false;
    ForEachChild(*node, [&](const ms::Node* child) {
      if (child) stack.push_back(child);
    });
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
