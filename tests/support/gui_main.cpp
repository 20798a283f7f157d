// The GoogleTest main of the GUI tests: the application object for the whole
// run; on Qt, the offscreen platform unless another one is asked for.
#include <gtest/gtest.h>

#include <cstdlib>

#include "framework/gui/Application.h"

int main(int argc, char** argv) {
#ifndef _WIN32
  ::setenv("QT_QPA_PLATFORM", "offscreen", /*overwrite=*/0);
#endif
  ::testing::InitGoogleTest(&argc, argv);
  TApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
