#include "DataFolder.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>

#include <cstdlib>

#include "app/Settings.h"

namespace vemlis {

std::filesystem::path dataFolder() {
    const QString executableFolder = QCoreApplication::applicationDirPath();
    if (!executableFolder.isEmpty() && ::access(QFile::encodeName(executableFolder).constData(), W_OK) == 0)
        return std::filesystem::path(QFile::encodeName(executableFolder).toStdString());
    const QString userFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(userFolder);
    return std::filesystem::path(QFile::encodeName(userFolder).toStdString());
}

std::filesystem::path defaultMoviesFolder(const std::filesystem::path& dataFolder) {
    const std::filesystem::path program(QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString());
    if (dataFolder == program) return dataFolder;
    const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (videos.isEmpty()) return dataFolder;
    const QString folder = videos + "/Vemlis loader";
    if (!QDir().mkpath(folder)) return dataFolder;
    return std::filesystem::path(QFile::encodeName(folder).toStdString());
}

bool isCatalogueAddress(const std::string& address) {
    const bool web = address.rfind("http://", 0) == 0 || address.rfind("https://", 0) == 0;
    return web && address.find_first_of("\r\n ") == std::string::npos && address.size() > 8;
}

std::string notCatalogueAddress(const std::string& address) {
    return QCoreApplication::translate("vemlis::DataFolder",
                                       "The address of the list of episodes is not an http:// or https:// address:\n%1")
        .arg(QString::fromStdString(address))
        .toStdString();
}

std::string catalogueAddress(const char* built, std::string& problem) {
    const char* set = std::getenv("VEMLIS_CATALOGUE_URL");
    const auto files = userSettings();
    const QString configured = Settings::load(*files).catalogue;
    std::string address = set && *set ? set : !configured.isEmpty() ? configured.toStdString() : built;
    if (isCatalogueAddress(address)) return address;
    problem = notCatalogueAddress(address) +
              (set && *set ? "\n" + QCoreApplication::translate("vemlis::DataFolder", "(set by VEMLIS_CATALOGUE_URL)").toStdString()
               : !configured.isEmpty()
                   ? "\n" + QCoreApplication::translate("vemlis::DataFolder", "(set as Url in [Catalogue] of the settings)").toStdString()
                   : "");
    return {};
}

}  // namespace vemlis
