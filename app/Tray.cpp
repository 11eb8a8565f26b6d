#include "Tray.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QSaveFile>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QWidget>

#include "app/Icons.h"

namespace vemlis {

Tray::Tray(QWidget* window) : QObject(window), window(window) {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    icon = new QSystemTrayIcon(applicationIcon(), this);
    auto* menu = new QMenu(window);
    showHide = menu->addAction(tr("Hide the window"));
    startAbort = menu->addAction(tr("Start download"));
    menu->addSeparator();
    QAction* quit = menu->addAction(tr("Quit"));
    connect(menu, &QMenu::aboutToShow, this, [this] {
        showHide->setText(this->window->isVisible() ? tr("Hide the window") : tr("Show the window"));
        startAbort->setText(downloading ? tr("Abort download") : tr("Start download"));
    });
    const auto toggle = [this] {
        if (this->window->isVisible()) {
            this->window->hide();
            return;
        }
        this->window->show();
        this->window->raise();
        this->window->activateWindow();
    };
    connect(showHide, &QAction::triggered, this, toggle);
    connect(startAbort, &QAction::triggered, this, [this] {
        const auto& call = downloading ? onAbort : onStart;
        if (call) call();
    });
    connect(quit, &QAction::triggered, this, [this] {
        if (onQuit) onQuit();
    });
    connect(icon, &QSystemTrayIcon::activated, this, [toggle](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) toggle();
    });
    icon->setContextMenu(menu);
    icon->setToolTip(QCoreApplication::applicationName());
    icon->show();
}

void Tray::setStatus(const QString& text) {
    if (!icon || text == status) return;
    status = text;
    icon->setToolTip(text);
}

void Tray::setDownloading(bool now) { downloading = now; }

namespace {

QString autostartFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/vemlis-loader.desktop");
}

// A desktop entry's Exec value: the path in quotes, its special characters escaped.
QString quotedPath(QString path) {
    for (const char* special : {"\\", "\"", "`", "$"}) path.replace(QLatin1String(special), QLatin1String("\\") + QLatin1String(special));
    return QLatin1Char('"') + path + QLatin1Char('"');
}

}  // namespace

bool startsAtLogin() { return QFile::exists(autostartFile()); }

bool setStartAtLogin(bool on, QString& problem) {
    const QString path = autostartFile();
    if (!on) {
        if (!QFile::exists(path) || QFile::remove(path)) return true;
        problem = path;
        return false;
    }
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        const QString entry = QStringLiteral("[Desktop Entry]\nType=Application\nName=Vemlis loader\n"
                                             "Exec=env VEMLIS_START_IN_TRAY=1 %1\nIcon=io.github.vemlis_loader.Loader\n"
                                             "X-GNOME-Autostart-enabled=true\nNoDisplay=true\n")
                                  .arg(quotedPath(QCoreApplication::applicationFilePath()));
        file.write(entry.toUtf8());
        if (file.commit()) return true;
    }
    problem = path;
    return false;
}

}  // namespace vemlis
