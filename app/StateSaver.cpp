#include "StateSaver.h"

#include <QCoreApplication>
#include <QTimer>

#include <fstream>
#include <sstream>

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

std::string StateSaver::read() const {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream whole;
    if (file) whole << file.rdbuf();
    return std::move(whole).str();
}

void StateSaver::keepDamaged() const {
    std::error_code ignored;
    std::filesystem::copy_file(path, path.string() + ".damaged", std::filesystem::copy_options::overwrite_existing,
                               ignored);
}

void StateSaver::setDelay(std::chrono::milliseconds delay) { timer->setInterval(static_cast<int>(delay.count())); }

void StateSaver::checkWritable() { finished(vemlis::checkWritable(path)); }

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
