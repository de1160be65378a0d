// Test entry point: runs the program's start-up registrations first, exactly
// as the editor's own start does, so every test sees the filled registries and
// the processor's blend routines.
#include <gtest/gtest.h>

#include "test_startup.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  VemraTestStartup();
  return RUN_ALL_TESTS();
}
