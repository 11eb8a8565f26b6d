#include "StateSaver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>

#include <cerrno>

#include "engine/disk/FileIo.h"

namespace vemlis {

StateSaver::StateSaver(std::filesystem::path path, Serializer serialize, Reporter report, QObject* parent)
    : QObject(parent), path(std::move(path)), serialize(std::move(serialize)), report(std::move(report)),
      timer(new QTimer(this)) {
    timer->setSingleShot(true);
    timer->setInterval(5000);
    connect(timer, &QTimer::timeout, this, &StateSaver::saveNow);
    writer = std::thread([this] { writeLoop(); });
}

StateSaver::~StateSaver() {
    {
        std::lock_guard guard(lock);
        stopping = true;
    }
    wake.notify_all();
    writer.join();
}

std::string StateSaver::read(std::string& problem) const {
    problem.clear();
    // Non-blocking: opening a pipe for reading would wait for a writer that never comes.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT) problem = systemReason(errno);
        return {};
    }
    std::string bytes;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        problem = systemReason(errno);
    } else if (S_ISDIR(info.st_mode)) {
        // Nothing to read; that nothing can be written there is told by checkWritable().
    } else if (!S_ISREG(info.st_mode)) {
        problem = QCoreApplication::translate("vemlis::StateSaver", "It is not a regular file.").toStdString();
    } else {
        char block[64 * 1024];
        for (;;) {
            const ssize_t n = ::read(fd, block, sizeof block);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) problem = systemReason(errno);
            if (n <= 0) break;
            bytes.append(block, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    if (!problem.empty())
        problem = QCoreApplication::translate("vemlis::StateSaver",
                                              "The state of the downloads could not be read from\n%1\n%2\nThe program "
                                              "starts without it.")
                      .arg(QString::fromStdString(path.string()), QString::fromStdString(problem))
                      .toStdString();
    return problem.empty() ? bytes : std::string();
}

void StateSaver::keepDamaged(const std::string& bytes) const { replaceFile(path.string() + ".damaged", bytes); }

void StateSaver::setDelay(std::chrono::milliseconds delay) { timer->setInterval(static_cast<int>(delay.count())); }

void StateSaver::checkWritable() { finished(vemlis::checkWritable(path)); }

void StateSaver::removeUnfinishedWrites() const {
    const std::string name = path.filename().string();
    removeUnfinishedReplacements(path.parent_path(), [&](std::string_view of) {
        return of == name || of == name + ".damaged";
    });
}

void StateSaver::saveSoon() {
    // Not restarted by later changes: a steady stream of them must not put the save off for ever.
    if (!timer->isActive()) timer->start();
}

void StateSaver::saveNow() {
    timer->stop();
    std::string bytes = serialize();
    {
        std::lock_guard guard(lock);
        pending = std::move(bytes);
    }
    wake.notify_all();
}

bool StateSaver::saveAndWait() {
    timer->stop();
    const std::string bytes = serialize();
    {
        std::unique_lock guard(lock);
        pending.reset();  // older than what is written now
        wake.wait(guard, [&] { return !writing; });
        writing = true;
    }
    const std::string reason = replaceFile(path, bytes);
    {
        std::lock_guard guard(lock);
        writing = false;
    }
    wake.notify_all();
    finished(reason);
    return reason.empty();
}

void StateSaver::writeLoop() {
    std::unique_lock guard(lock);
    for (;;) {
        wake.wait(guard, [&] { return stopping || (pending && !writing); });
        if (stopping) return;
        const std::string bytes = std::move(*pending);
        pending.reset();
        writing = true;
        guard.unlock();
        const std::string reason = replaceFile(path, bytes);
        QMetaObject::invokeMethod(this, [this, reason] { finished(reason); }, Qt::QueuedConnection);
        guard.lock();
        writing = false;
        wake.notify_all();
    }
}

void StateSaver::finished(const std::string& reason) {
    if (reason.empty()) {
        toldReason.clear();
        return;
    }
    if (reason == toldReason) return;
    toldReason = reason;
    report(failureText(path, reason));
}

std::string StateSaver::failureText(const std::filesystem::path& path, const std::string& reason) {
    return QCoreApplication::translate("vemlis::StateSaver",
                                       "The state of the downloads could not be saved to\n%1\n%2\nWhat was saved there "
                                       "before is kept.")
        .arg(QString::fromStdString(path.string()), QString::fromStdString(reason))
        .toStdString();
}

}  // namespace vemlis
