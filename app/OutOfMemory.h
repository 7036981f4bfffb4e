#pragma once

#include <functional>

namespace sorvanta {

class WindowOperations;

// The text shown when a command runs out of memory.
inline constexpr const wchar_t* kOutOfMemoryText = L"Out of memory.";

// Runs command (one command's slot). When it runs out of memory
// (std::bad_alloc), the command ends there, the user is told with a
// message, and the program goes on. Qt lets no exception cross its signal
// code, so every slot that runs a command begins here. A command changes
// what is on screen only once everything it shows has been made, so the
// window keeps either the old result or the new one.
void RunReportingOutOfMemory(const std::function<void()>& command, WindowOperations& operations);

}  // namespace sorvanta
