#include "ResultSet.h"

#include "WideFormat.h"

namespace sorvanta {

std::wstring SummaryText(std::size_t pages, std::size_t items) {
  return detail::FormatWide(L"共 %d 页 %d 项", static_cast<int>(pages), static_cast<int>(items));
}

std::vector<std::wstring> PageEntryTexts(std::size_t pages) {
  std::vector<std::wstring> entries;
  entries.reserve(pages);
  for (std::size_t page = 1; page <= pages; ++page)
    entries.push_back(detail::FormatWide(L"第 %d 页", static_cast<int>(page)));
  return entries;
}

}  // namespace sorvanta
