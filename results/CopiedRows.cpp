#include "CopiedRows.h"

namespace sorvanta {

std::wstring CopiedRowsText(const std::vector<std::vector<std::wstring>>& rows) {
  std::wstring text;
  for (const std::vector<std::wstring>& row : rows) {
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (c > 0) text += L'\t';
      for (const wchar_t ch : row[c]) {
        text += (ch == L'\t' || ch == L'\n' || ch == L'\r') ? L' ' : ch;
      }
    }
    text += L'\n';
  }
  return text;
}

}  // namespace sorvanta
