#pragma once

#include <memory>
#include <utility>

namespace sorvanta {

// An object used through its interface that is either made and owned here
// (the program's own, on real widgets) or given by the caller, who keeps it
// alive for as long as this lives (a test's fake).
template <class Interface>
class OwnOrGiven {
 public:
  explicit OwnOrGiven(std::unique_ptr<Interface> own) : own_(std::move(own)), used_(own_.get()) {}
  explicit OwnOrGiven(Interface& given) : used_(&given) {}

  Interface& operator*() const { return *used_; }
  Interface* operator->() const { return used_; }

 private:
  std::unique_ptr<Interface> own_;  // null when given one
  Interface* used_;
};

}  // namespace sorvanta
