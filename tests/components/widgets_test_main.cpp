#include <curl/curl.h>
#include <gtest/gtest.h>

#include <QApplication>

// Widget tests run offscreen (QT_QPA_PLATFORM=offscreen is set by the test definition).
int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    curl_global_cleanup();
    return result;
}
