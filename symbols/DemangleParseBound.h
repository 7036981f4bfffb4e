#pragma once

#include <string_view>

namespace sorvanta {

// Whether llvm's Microsoft demangler, parsing mangled, writes at most a few
// megabytes before the parsed name can be measured. While it parses, it
// writes out the text of every template instantiation that a back-reference
// may name later, and back-references nested in template arguments multiply
// that text level by level: a name of 200 characters can cost hundreds of
// megabytes. False for such a name, which must not be parsed.
bool ParseIsBounded(std::string_view mangled);

}  // namespace sorvanta
