#pragma once

#include <string>

#include "IDiaSymbol.h"
#include "ResultView.h"

namespace sorvanta {

// The operations on the result list. The main window holds the result set
// and its view and forwards its members of the same names to these.

// Empties list and selector, then shows either the message row
// "未找到相关符号" (empty set) or the seven result columns, the summary,
// one selector entry per page (none selected) and page 0. Everything is
// read from the symbols first: a throw leaves the view as it was.
void RebuildResults(const SymbolList& results, ResultView& view);

// Fills page `page` (0-based), last item on top. A negative page or one past
// the last leaves the list empty. Selector and summary are not touched. The
// page is read in full before its rows replace the old ones.
void ShowPage(const SymbolList& results, ResultView& view, int page);

// Puts the three message columns and one row with `text` into a list that
// the caller has emptied, and clears the summary.
void ShowMessageRow(ResultView& view, const std::wstring& text);

// Rebuilds the view from found, then makes found the result set. Throws
// (std::bad_alloc, or whatever a symbol throws) before anything changes.
void ReplaceResults(SymbolList& results, ResultView& view, SymbolList found);

// Makes `symbol` the whole result set (or empties it for null) and rebuilds.
void SetSingleResult(SymbolList& results, ResultView& view, SymbolRef symbol);

// Shows the page of the selector's chosen entry (none: an empty list).
void OnPageSelChange(const SymbolList& results, ResultView& view);

}  // namespace sorvanta
