#include "OutOfMemory.h"

#include <new>

#include "WindowOperations.h"

namespace sorvanta {

bool DeliverReportingOutOfMemory(const std::function<bool()>& deliver, WindowOperations& operations) {
  try {
    return deliver();
  } catch (const std::bad_alloc&) {
    operations.ShowMessage(kOutOfMemoryText);
    return false;
  }
}

}  // namespace sorvanta
