// The window tests share one QApplication, created before the first test runs. Without a display
// they run on the offscreen platform (ctest sets it; the test listing at build time needs it too).
#include <gtest/gtest.h>

#include <QApplication>
#include <cstring>

#include "PtyUtil.h"

int main(int argc, char** argv) {
  // A helper run of this program that holds a serial port like another program would.
  if (argc == 3 && std::strcmp(argv[1], "--hold-port") == 0) return HoldPortMain(argv[2]);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
