// Base fixture of every test that runs driver code on the fake core.
//
// Each case starts on a clean fake and fails when it leaves an object or a
// memory block behind, or misused one. Sets and texts that hold core storage
// must be locals of the test body (destroyed before TearDown), not members of
// a derived fixture.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_core.h"

namespace zolv::testing {

class CoreTest : public ::testing::Test {
 protected:
  void SetUp() override { core().Reset(); }

  void TearDown() override {
    const std::vector<std::string> problems = core().Problems();
    std::string report;
    for (const std::string& problem : problems) report += "\n  " + problem;
    EXPECT_TRUE(problems.empty()) << "fake core problems:" << report;
    core().Reset();
  }

  static FakeCore& core() { return FakeCore::Get(); }
};

}  // namespace zolv::testing
