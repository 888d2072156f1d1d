// temp_xdg: private XDG data and cache folders for a whole test program, registered once before any
// test runs (the program fixes its directories at their first use in a process, platform/paths.h):
//   auto* const g_xdg = testing_support::useTempXdg(diag::init, diag::shutdown);
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "support/test_support.h"

namespace testing_support {

class TempXdg : public ::testing::Environment {
 public:
  // afterSetUp runs once the variables point at the new folders, beforeTearDown before they go.
  TempXdg(std::function<void()> afterSetUp, std::function<void()> beforeTearDown)
      : afterSetUp_(std::move(afterSetUp)), beforeTearDown_(std::move(beforeTearDown)) {}
  void SetUp() override {
    dir_ = std::make_unique<TempDir>();
    setenv("XDG_DATA_HOME", dir_->file("data").c_str(), 1);
    setenv("XDG_CACHE_HOME", dir_->file("cache").c_str(), 1);
    if (afterSetUp_) afterSetUp_();
  }
  void TearDown() override {
    if (beforeTearDown_) beforeTearDown_();
    dir_.reset();
  }
  // The program's data directory below the private XDG_DATA_HOME.
  std::string dataDir() const { return dir_->file("data") + "/Korvelle"; }

 private:
  std::function<void()> afterSetUp_;
  std::function<void()> beforeTearDown_;
  std::unique_ptr<TempDir> dir_;
};

inline TempXdg* useTempXdg(std::function<void()> afterSetUp = {}, std::function<void()> beforeTearDown = {}) {
  return static_cast<TempXdg*>(
      ::testing::AddGlobalTestEnvironment(new TempXdg(std::move(afterSetUp), std::move(beforeTearDown))));
}

}  // namespace testing_support
