#include "NameMatch.h"

#include <re2/re2.h>

#include "Utf8.h"

namespace sorvanta {

std::optional<NameMatcher> NameMatcher::Make(MatchMode mode, std::string_view pattern,
                                             std::string* error) {
  NameMatcher matcher;
  matcher.mode_ = mode;
  if (mode == MatchMode::kRegex) {
    RE2::Options options;
    options.set_case_sensitive(false);
    options.set_log_errors(false);
    std::string valid;
    AppendValidUtf8(pattern, &valid);
    auto regex = std::make_shared<RE2>(valid, options);
    if (!regex->ok()) {
      *error = regex->error();
      return std::nullopt;
    }
    matcher.regex_ = std::move(regex);
  } else {
    matcher.folded_ = FoldUtf8(pattern);
  }
  return matcher;
}

bool NameMatcher::Matches(std::string_view name) const {
  switch (mode_) {
    case MatchMode::kRegex: {
      if (IsValidUtf8(name)) return RE2::PartialMatch(re2::StringPiece(name.data(), name.size()), *regex_);
      std::string valid;
      AppendValidUtf8(name, &valid);
      return RE2::PartialMatch(valid, *regex_);
    }
    case MatchMode::kGlob:
      return GlobMatches(folded_, FoldUtf8(name));
    case MatchMode::kSubstring:
    case MatchMode::kExact:
      break;
  }
  return FoldUtf8(name).find(folded_) != std::u32string::npos;
}

bool GlobMatches(const std::u32string& glob, const std::u32string& text) {
  // Greedy match with one backtrack point: the last `*` seen. Linear in
  // practice, at worst glob length times text length; never exponential.
  std::size_t g = 0, t = 0;
  std::size_t star = std::u32string::npos, resume = 0;
  while (t < text.size()) {
    if (g < glob.size() && (glob[g] == U'?' || (glob[g] != U'*' && glob[g] == text[t]))) {
      ++g;
      ++t;
    } else if (g < glob.size() && glob[g] == U'*') {
      star = g++;
      resume = t;
    } else if (star != std::u32string::npos) {
      g = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (g < glob.size() && glob[g] == U'*') ++g;
  return g == glob.size();
}

}  // namespace sorvanta
