#include <curl/curl.h>

#include <QApplication>

#include "app/SingleInstance.h"
#include "app/Twindow.h"
#include "components/Prompter.h"
#include "engine/DataFolder.h"
#include "model/UiTexts.h"

int main(int argc, char** argv) {
    using namespace tavik::vemlis_loader;
    QApplication app(argc, argv);
    QApplication::setApplicationName("Vemlis loader");
    QApplication::setApplicationDisplayName(QString::fromStdString(uiText(28)));

    vemlis::SingleInstance instance;
    if (!instance.acquired()) {
        vemlis::prompter().showMessage(nullptr, uiText(rows::alreadyRunning));
        return 0;
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int result = 0;
    {
        vemlis::Twindow window(VEMLIS_CATALOGUE_URL, vemlis::dataFolder());
        vemlis::closeOnSignals(&window);
        window.showMaximized();
        result = app.exec();
    }
    curl_global_cleanup();
    return result == 0 ? 0 : result;
}
