#include "OutOfMemory.h"

#include <gtest/gtest.h>

#include <new>

#include "DialogProbe.h"

namespace sorvanta::testing {
namespace {

TEST(OutOfMemory, AnEventThatRunsOutOfMemoryIsReportedAndTheProgramGoesOn) {
  FakeWindowOperations operations;
  EXPECT_TRUE(DeliverReportingOutOfMemory([] { return true; }, operations));
  EXPECT_TRUE(operations.messages.empty());

  EXPECT_FALSE(DeliverReportingOutOfMemory([]() -> bool { throw std::bad_alloc(); }, operations));
  ASSERT_EQ(operations.messages.size(), 1u);
  EXPECT_EQ(operations.messages[0], "Out of memory.");
}

}  // namespace
}  // namespace sorvanta::testing
