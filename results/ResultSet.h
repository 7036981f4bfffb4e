#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sorvanta {

// The result set is a SymbolList in query order, shown kPageSize items to
// a page; the list never holds more than one page of rows.
constexpr std::size_t kPageSize = 45;

// P = ceil(items / kPageSize).
constexpr std::size_t PageCount(std::size_t items) {
  return items / kPageSize + (items % kPageSize != 0 ? 1 : 0);
}

// Items [first, end) of one page.
struct PageRange {
  std::size_t first = 0;
  std::size_t end = 0;
};

// The items of page `page` of a set of `items`; empty for a negative page
// (no selector entry chosen) and for a page past the last one.
constexpr PageRange PageItems(std::size_t items, int page) {
  if (page < 0) return {};
  // In 64 bits, page * kPageSize cannot overflow for any int page.
  const std::uint64_t first = static_cast<std::uint64_t>(page) * kPageSize;
  if (first >= items) return {};
  const std::size_t begin = static_cast<std::size_t>(first);
  return {begin, items - begin > kPageSize ? begin + kPageSize : items};
}

// One column of the result list.
struct ColumnDef {
  const wchar_t* title;
  int width;
};

// Column 0 is the row's own text, kept empty and invisible; columns 1..6
// are filled from the symbol (see RowTexts).
inline constexpr std::array<ColumnDef, 7> kResultColumns{{
    {L"", 0},
    {L"符号名称", 300},
    {L"类型", 100},
    {L"地址", 100},
    {L"长度", 100},
    {L"源文件", 200},
    {L"目标文件", 200},
}};

// The message layout: one visible column as wide as the list.
constexpr int kMessageColumn = 1;
constexpr std::array<ColumnDef, 3> MessageColumns(int listWidth) {
  return {{{L"", 0}, {L"搜索结果", listWidth}, {L"", 0}}};
}

// "共 P 页 N 项".
std::wstring SummaryText(std::size_t pages, std::size_t items);

// The selector entries "第 1 页" ... "第 P 页", in page order.
std::vector<std::wstring> PageEntryTexts(std::size_t pages);

}  // namespace sorvanta
