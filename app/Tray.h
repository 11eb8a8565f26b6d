#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QSystemTrayIcon;
class QWidget;

namespace vemlis {

// The program's icon in the desktop's tray (a StatusNotifierItem where the desktop runs a
// watcher, as Qt offers it): its tooltip says what is happening, its menu shows or hides the
// window, starts or aborts the download and quits. Where the desktop has no tray nothing shows
// and available() is false.
class Tray final : public QObject {
    Q_OBJECT
public:
    explicit Tray(QWidget* window);

    bool available() const { return icon != nullptr; }
    // The tooltip; set only when it changes.
    void setStatus(const QString& text);
    // Whether the menu offers to abort the download rather than start it.
    void setDownloading(bool downloading);

    std::function<void()> onStart;
    std::function<void()> onAbort;
    std::function<void()> onQuit;

private:
    QWidget* window;
    QSystemTrayIcon* icon = nullptr;
    QAction* showHide = nullptr;
    QAction* startAbort = nullptr;
    QString status;
    bool downloading = false;
};

// The desktop's start at login (~/.config/autostart/vemlis-loader.desktop): whether it is set,
// and setting or removing it; false with `problem` when the file cannot be written or removed.
// Started that way, VEMLIS_START_IN_TRAY is set and the program starts in the tray.
bool startsAtLogin();
bool setStartAtLogin(bool on, QString& problem);

}  // namespace vemlis
