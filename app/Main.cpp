#include <QApplication>

#include "app/Icons.h"
#include "app/Notifier.h"
#include "app/SingleInstance.h"
#include "app/Translations.h"
#include "app/Twindow.h"
#include "components/Prompter.h"
#include "components/QtText.h"
#include "app/DataFolder.h"
#include "engine/net/HttpClient.h"
#include "model/UiTexts.h"

int main(int argc, char** argv) {
    using namespace tavik::vemlis_loader;
    QApplication app(argc, argv);
    QApplication::setApplicationName("Vemlis loader");
    QApplication::setDesktopFileName("io.github.vemlis_loader.Loader");
    QApplication::setWindowIcon(vemlis::applicationIcon());
    // The system's language where a translation is shipped, before any text is shown.
    vemlis::installTranslations();
    QApplication::setApplicationDisplayName(vemlis::qtText(rows::applicationTitle));

    const std::filesystem::path folder = vemlis::dataFolder();
    vemlis::SingleInstance instance(folder);
    // Errors that end the run are told on the desktop too, as those of a running window are.
    const auto fatal = [](const std::string& text) {
        vemlis::Notifier::notify(QCoreApplication::translate("vemlis::Twindow", "Vemlis loader stopped"), vemlis::toQt(text));
        vemlis::prompter().showError(nullptr, text);
        return 1;
    };
    if (!instance.problem().empty()) return fatal(instance.problem());
    if (!instance.acquired()) {
        instance.callHolder();
        vemlis::prompter().showMessage(nullptr, uiText(rows::alreadyRunning));
        return 0;
    }
    std::string problem;
    const std::string catalogue = vemlis::catalogueAddress(VEMLIS_CATALOGUE_URL, problem);
    if (catalogue.empty()) return fatal(problem);
    vemlis::HttpLibrary httpLibrary;
    int result = 0;
    {
        vemlis::Twindow window(catalogue, folder, vemlis::defaultMoviesFolder(folder));
        vemlis::closeOnSignals(&window);
        instance.raiseOnCall(&window);
        // Started at login, the program waits in the tray where the desktop has one.
        if (qEnvironmentVariableIsSet("VEMLIS_START_IN_TRAY") && window.hasTray())
            window.startHidden();
        else
            window.showMaximized();
        result = app.exec();
    }
    return result == 0 ? 0 : result;
}
