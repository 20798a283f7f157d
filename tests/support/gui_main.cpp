// The GoogleTest main of the GUI tests: Qt's offscreen platform unless another
// one is asked for, and the application object for the whole run.
#include <gtest/gtest.h>

#include <cstdlib>

#include "framework/gui/Application.h"

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", /*overwrite=*/0);
  ::testing::InitGoogleTest(&argc, argv);
  TApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
