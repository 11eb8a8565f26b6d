#include <curl/curl.h>
#include <gtest/gtest.h>

#include <QCoreApplication>

// Tests of Qt code need the application object and its event loop on the main thread.
int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    curl_global_cleanup();
    return result;
}
