#pragma once

#include <functional>

namespace sorvanta {

class WindowOperations;

// The text shown when a command runs out of memory.
inline constexpr const wchar_t* kOutOfMemoryText = L"Out of memory.";

// Runs deliver (one event's handling). When it runs out of memory
// (std::bad_alloc), the command it was running ends there, the user is told
// with a message, and the program goes on; the result is then false, as for
// an event nobody handled. A command changes its state only after its
// allocations succeeded, so what is on screen stays consistent.
bool DeliverReportingOutOfMemory(const std::function<bool()>& deliver, WindowOperations& operations);

}  // namespace sorvanta
