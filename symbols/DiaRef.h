#pragma once

#include <memory>

namespace sorvanta {

// An owning, reference-counted reference to a symbol-component object.
// Copying adds a reference; destroying or resetting releases it; an empty
// reference means "no object".
template <class T>
using DiaRef = std::shared_ptr<T>;

}  // namespace sorvanta
