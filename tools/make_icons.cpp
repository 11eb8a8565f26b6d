// Writes the program's icon as PNG files for the icon theme: make-icons FOLDER
// (FOLDER/<size>x<size>/apps/vemlis-loader.png for each size).
#include <QDir>
#include <QGuiApplication>

#include "app/Icons.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QString("%1/%2x%2/apps").arg(argv[1]).arg(size);
        QDir().mkpath(folder);
        if (!vemlis::applicationImage(size).save(folder + "/vemlis-loader.png")) return 1;
    }
    return 0;
}
