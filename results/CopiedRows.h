#pragma once

#include <string>
#include <vector>

namespace sorvanta {

// The text that copying rows of the result list puts on the clipboard: one
// line per row, cells separated by tabs, every line ending in "\n", so that
// it pastes into a spreadsheet as rows and columns. A tab or line break
// inside a cell (a symbol name can hold any character) becomes a space, so
// that it cannot shift the cells after it.
std::wstring CopiedRowsText(const std::vector<std::vector<std::wstring>>& rows);

}  // namespace sorvanta
