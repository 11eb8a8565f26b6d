#include "DataFolder.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include <cstdlib>

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

std::string catalogueAddress(const char* built, std::string& problem) {
    const char* set = std::getenv("VEMLIS_CATALOGUE_URL");
    std::string address = set && *set ? set : built;
    const bool web = address.rfind("http://", 0) == 0 || address.rfind("https://", 0) == 0;
    if (web && address.find_first_of("\r\n ") == std::string::npos && address.size() > 8) return address;
    problem = QCoreApplication::translate("vemlis::DataFolder",
                                          "The address of the list of episodes is not an http:// or https:// address:\n%1")
                  .arg(QString::fromStdString(address))
                  .toStdString() +
              (set && *set ? "\n" + QCoreApplication::translate("vemlis::DataFolder", "(set by VEMLIS_CATALOGUE_URL)").toStdString()
                           : "");
    return {};
}

}  // namespace vemlis
