// main() for tests that need a Qt event loop without a display: the serial
// hand-over delivers events through the loop of the thread the port lives in.
#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
