#include "core_handle.h"

#include <gtest/gtest.h>

#include <utility>

#include "core_test.h"

namespace zolv::testing {
namespace {

class CoreHandleTest : public CoreTest {
 protected:
  static std::uint64_t Released() {
    return core().Released(ObjectKind::kMatcher);
  }
};

TEST_F(CoreHandleTest, ReceiveReleasesTheHeldObjectFirst) {
  CoreHandle<Matcher> handle;
  ZolvCreateMatcher(handle.Receive());
  Matcher* first = handle.get();
  ASSERT_NE(first, nullptr);
  ZolvCreateMatcher(handle.Receive());
  EXPECT_EQ(Released(), 1u);
  EXPECT_NE(handle.get(), nullptr);
  handle.reset();
  handle.reset();
  EXPECT_FALSE(handle);
  EXPECT_EQ(Released(), 2u);
}

TEST_F(CoreHandleTest, MovesOwnershipAndReleasesOnce) {
  CoreHandle<Matcher> a;
  ZolvCreateMatcher(a.Receive());
  Matcher* object = a.get();
  CoreHandle<Matcher> b(std::move(a));
  EXPECT_FALSE(a);
  EXPECT_EQ(b.get(), object);

  CoreHandle<Matcher> c;
  ZolvCreateMatcher(c.Receive());
  c = std::move(b);  // c's own matcher goes
  EXPECT_EQ(Released(), 1u);
  EXPECT_EQ(c.get(), object);
  c = std::move(c);
  EXPECT_EQ(c.get(), object);

  Matcher* detached = c.Detach();
  EXPECT_FALSE(c);
  EXPECT_EQ(Released(), 1u);
  detached->Release();
}

}  // namespace
}  // namespace zolv::testing
