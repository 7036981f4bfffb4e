#include "DemangleParseBound.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "llvm/Demangle/MicrosoftDemangle.h"
#include "llvm/Demangle/MicrosoftDemangleNodes.h"
#include "llvm/Demangle/Utility.h"

namespace sorvanta {

namespace {

namespace ms = llvm::ms_demangle;

// While it parses, llvm's demangler writes out the text of every template
// instantiation that a back-reference may name later (and of every local
// scope's enclosing name), so that text is made before the parsed name can be
// measured; back-references in nested template arguments multiply it level by
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
}  // namespace

bool ParseIsBounded(std::string_view mangled) {
  const std::size_t n = mangled.size();
  // Most names have neither an instantiation nor a local scope, and the
  // parser writes out nothing ahead for them.
  bool writesAhead = false;
  for (std::size_t p = mangled.find('?'); p != std::string_view::npos && p + 1 < n && !writesAhead;
       p = mangled.find('?', p + 1)) {
    writesAhead = mangled[p + 1] == '$' || StartsLocalScope(mangled.substr(p));
  }
  if (!writesAhead) return true;
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

}  // namespace sorvanta
