#include "test_startup.h"

void VemraTestStartup() {
  static bool done = false;
  if (done) return;
  done = true;
}
