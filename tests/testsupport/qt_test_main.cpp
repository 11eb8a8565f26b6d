#include <gtest/gtest.h>

#include <QCoreApplication>

#include "engine/net/HttpClient.h"

// Tests of Qt code need the application object and its event loop on the main thread.
int main(int argc, char** argv) {
    vemlis::HttpLibrary httpLibrary;
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    return result;
}
