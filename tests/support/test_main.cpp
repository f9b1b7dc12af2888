// Test entry point: a QApplication (offscreen unless the environment chose a platform) under
// GoogleTest.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "tav/installwindows.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    tav::RegisterRegressionWindows();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
