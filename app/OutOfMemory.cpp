#include "OutOfMemory.h"

#include <new>

#include "WindowOperations.h"

namespace sorvanta {

void RunReportingOutOfMemory(const std::function<void()>& command, WindowOperations& operations) {
  try {
    command();
  } catch (const std::bad_alloc&) {
    try {
      operations.ShowMessage(kOutOfMemoryText);
    } catch (const std::bad_alloc&) {
      // Not even the message fits: the user cannot be told, but the
      // program goes on.
    }
  }
}

}  // namespace sorvanta
