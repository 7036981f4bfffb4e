#pragma once

#include <memory>
#include <optional>
#include <regex>
#include <string>

namespace sorvanta {

// How `list --name` compares names. Exact is the window's own search (the
// symbol component answers it); the others filter every name here.
enum class MatchMode { kExact, kSubstring, kGlob, kRegex };

// A name filter for the substring, glob and regex modes. Every mode ignores
// case: substring and glob compare Unicode simple case folds, the regex
// runs with icase (ECMAScript grammar, found anywhere in the name).
class NameMatcher {
 public:
  // nullopt with *error set when the pattern is no valid regex.
  static std::optional<NameMatcher> Make(MatchMode mode, const std::wstring& pattern,
                                         std::string* error);

  bool Matches(const std::wstring& name) const;

 private:
  MatchMode mode_ = MatchMode::kSubstring;
  std::u32string folded_;                // substring and glob
  std::shared_ptr<std::wregex> regex_;   // regex
};

// Whether the glob (`*`: any run of code points, `?`: one code point, all
// else literal) matches the whole text. Both already folded.
bool GlobMatches(const std::u32string& glob, const std::u32string& text);

}  // namespace sorvanta
