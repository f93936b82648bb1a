// Window tests: one application object for every test of the program's windows.
#include <gtest/gtest.h>

#include "app/gui/application.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The windows are never put on a screen here (also when the test list is taken).
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  kordel::gui::KordelApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
