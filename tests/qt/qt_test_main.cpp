// Runs the front-end tests inside one QApplication on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>

#include "ui/qt/look.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  look::ApplyToApplication(app);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
