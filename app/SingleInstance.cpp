#include "SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "components/Prompter.h"

namespace vemlis {

namespace {

// Only a folder that no other user can write keeps others from taking the lock first.
bool ownedAndPrivate(const char* folder) {
    struct stat info {};
    return ::stat(folder, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

std::string SingleInstance::lockPath(const std::string& name, const std::filesystem::path& fallbackFolder) {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime && ownedAndPrivate(runtime))
        return std::string(runtime) + "/" + name;
    return (fallbackFolder / name).string();
}

SingleInstance::SingleInstance(const std::filesystem::path& fallbackFolder, const std::string& name)
    : path(lockPath(name, fallbackFolder)) {
    // Never through a link, and never blocking on something that is no file.
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    struct stat info {};
    int error = 0;
    if (fd < 0)
        error = errno;
    else if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        error = EINVAL;
    else if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        held = true;
    else if (errno != EWOULDBLOCK)
        error = errno;
    if (error == 0) return;
    struct stat link {};
    const bool isLink = ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    const auto said = [](const char* english) { return QCoreApplication::translate("vemlis::SingleInstance", english); };
    trouble = said(QT_TRANSLATE_NOOP("vemlis::SingleInstance", "Vemlis loader cannot use its lock file\n%1\n%2"))
                  .arg(QString::fromStdString(path),
                       isLink ? said(QT_TRANSLATE_NOOP("vemlis::SingleInstance", "It is a symbolic link; remove it and start the program again."))
                       : error == EINVAL ? said(QT_TRANSLATE_NOOP("vemlis::SingleInstance", "It is not a regular file; remove it and start the program again."))
                                         : QString::fromLocal8Bit(std::strerror(error)))
                  .toStdString();
}

SingleInstance::~SingleInstance() {
    if (listener >= 0) {
        ::close(listener);
        ::unlink(socketPath().c_str());
    }
    if (fd >= 0) ::close(fd);
}

namespace {

bool addressOf(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;  // a folder too deep for a socket
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

void SingleInstance::raiseOnCall(QWidget* window) {
    sockaddr_un address;
    if (!held || !addressOf(socketPath(), address)) return;
    ::unlink(socketPath().c_str());  // left by a holder that was killed; the lock says it is gone
    listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener < 0) return;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 4) != 0) {
        ::close(listener);
        listener = -1;
        return;
    }
    auto* notifier = new QSocketNotifier(listener, QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [this, window] {
        const int caller = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (caller >= 0) ::close(caller);
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        window->show();
        window->raise();
        window->activateWindow();
    });
}

bool SingleInstance::callHolder() const {
    sockaddr_un address;
    if (held || !addressOf(socketPath(), address)) return false;
    const int caller = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (caller < 0) return false;
    const bool called = ::connect(caller, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(caller);
    return called;
}

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
}

}  // namespace

void closeOnSignals(QWidget* window) {
    if (signalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0)
        return;
    // A new window begins a run of its own: signals that an earlier one did not read are old
    // news, and its questions are asked again.
    char stale[16];
    while (::read(signalPipe[0], stale, sizeof stale) > 0) {
    }
    openQuestions();
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        char byte;
        [[maybe_unused]] const ssize_t ignored = ::read(signalPipe[0], &byte, 1);
        // Whatever question is open ends as if cancelled, so that the close is not held up.
        closeAllQuestions();
        QTimer::singleShot(0, window, [window] { window->close(); });
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

}  // namespace vemlis
