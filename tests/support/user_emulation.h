// Under qemu-user (the arm64 build's tests; ctest sets KESTREL_USER_EMULATION) a guest fork()
// or second thread never runs: a case that needs one starts with this, and is skipped there
// with the reason in its output. Every case runs natively in the x86-64 builds.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#define KESTREL_SKIP_UNDER_USER_EMULATION(what_it_needs)                                    \
  if (std::getenv("KESTREL_USER_EMULATION") != nullptr)                                     \
  GTEST_SKIP() << "left out under " << std::getenv("KESTREL_USER_EMULATION") << ": it "     \
               << what_it_needs << ", which that emulator cannot run; it runs natively in " \
               << "build-linux/ and build-linux-clang/"
