#include "NameMatch.h"

#include <locale>

#include "Utf8.h"

namespace sorvanta {

namespace {

// icase on wide text folds through the regex's locale; the classic "C"
// locale folds ASCII only, so a UTF-8 locale is used when there is one.
std::locale RegexLocale() {
  for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
    try {
      return std::locale(name);
    } catch (const std::runtime_error&) {
    }
  }
  return std::locale::classic();
}

}  // namespace

std::optional<NameMatcher> NameMatcher::Make(MatchMode mode, const std::wstring& pattern,
                                             std::string* error) {
  NameMatcher matcher;
  matcher.mode_ = mode;
  if (mode == MatchMode::kRegex) {
    try {
      auto regex = std::make_shared<std::wregex>();
      regex->imbue(RegexLocale());
      regex->assign(pattern, std::regex::ECMAScript | std::regex::icase);
      matcher.regex_ = std::move(regex);
    } catch (const std::regex_error& e) {
      *error = e.what();
      return std::nullopt;
    }
  } else {
    matcher.folded_ = FoldWide(pattern);
  }
  return matcher;
}

bool NameMatcher::Matches(const std::wstring& name) const {
  switch (mode_) {
    case MatchMode::kRegex:
      return std::regex_search(name, *regex_);
    case MatchMode::kGlob:
      return GlobMatches(folded_, FoldWide(name));
    case MatchMode::kSubstring:
    case MatchMode::kExact:
      break;
  }
  return FoldWide(name).find(folded_) != std::u32string::npos;
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
