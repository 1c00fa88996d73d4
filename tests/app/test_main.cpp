// The GUI tests share one application object, created on the offscreen
// platform unless the caller chose another.
#include <gtest/gtest.h>

#include <QByteArray>

#include "velrpt_application.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  VelRptApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
