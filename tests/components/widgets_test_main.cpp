#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include "engine/net/HttpClient.h"

// Widget tests run offscreen unless told otherwise, also when ctest lists their cases.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The user's own settings are neither read nor written, nor the system's.
    QTemporaryDir config, system;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    qputenv("XDG_CONFIG_DIRS", system.path().toLocal8Bit());
    vemlis::HttpLibrary httpLibrary;
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    return result;
}
