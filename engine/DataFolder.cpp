#include "DataFolder.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

namespace vemlis {

std::filesystem::path dataFolder() {
    const QString executableFolder = QCoreApplication::applicationDirPath();
    if (!executableFolder.isEmpty() && ::access(QFile::encodeName(executableFolder).constData(), W_OK) == 0)
        return std::filesystem::path(QFile::encodeName(executableFolder).toStdString());
    const QString userFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(userFolder);
    return std::filesystem::path(QFile::encodeName(userFolder).toStdString());
}

}  // namespace vemlis
