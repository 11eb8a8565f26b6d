#include "Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "model/UiTexts.h"

namespace vemlis {

QString installTranslations(const QLocale& locale) {
    // Installed for the life of the application.
    static QTranslator program, qt;
    if (!program.load(locale, "vemlis-loader", "_", ":/i18n")) return {};
    QCoreApplication::installTranslator(&program);
    if (qt.load(locale, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qt);
    tavik::vemlis_loader::translateUiTexts([](const std::string& english) {
        return QCoreApplication::translate("UiTexts", english.c_str()).toStdString();
    });
    return program.language().section('_', 0, 0);
}

}  // namespace vemlis
