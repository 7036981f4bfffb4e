#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace re2 {
class RE2;
}

namespace sorvanta {

// How `list --name` compares names. Exact is the window's own search (the
// image answers it); the others filter every name here.
enum class MatchMode { kExact, kSubstring, kGlob, kRegex };

// A name filter for the substring, glob and regex modes, on UTF-8 names
// as stored (bytes that start no valid sequence read as U+FFFD). Every mode
// ignores case: substring and glob compare Unicode simple case folds; the
// regex is RE2's syntax, matched case-insensitively anywhere in the name,
// in time linear in the name's length.
class NameMatcher {
 public:
  // nullopt with *error set when the pattern is no valid regex.
  static std::optional<NameMatcher> Make(MatchMode mode, std::string_view pattern, std::string* error);

  bool Matches(std::string_view name) const;

 private:
  MatchMode mode_ = MatchMode::kSubstring;
  std::u32string folded_;             // substring and glob
  std::shared_ptr<re2::RE2> regex_;   // regex
};

// Whether the glob (`*`: any run of code points, `?`: one code point, all
// else literal) matches the whole text. Both already folded.
bool GlobMatches(const std::u32string& glob, const std::u32string& text);

}  // namespace sorvanta
