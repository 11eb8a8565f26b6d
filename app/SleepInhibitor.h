#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QDBusUnixFileDescriptor;

namespace vemlis {

// Keeps the computer from going to sleep while episodes download: a logind inhibitor lock
// ("sleep", mode "block"), held from hold() until release() or the end of the object. The lock
// is a file descriptor that logind watches, so it also ends with the process, however it ends.
// Where no system bus or no logind is found, nothing happens and nothing is said. The request
// is asynchronous: the window never waits for logind.
//
// When the user suspends on purpose anyway, logind says so first (PrepareForSleep): a "delay"
// lock, held for the life of the object, gives onSuspend the moment to put things on disk
// before it is let go; onResume is called when the computer is awake again.
class SleepInhibitor final : public QObject {
    Q_OBJECT
public:
    explicit SleepInhibitor(QObject* parent = nullptr);
    ~SleepInhibitor() override;

    void hold();
    void release();
    // True while logind holds a lock of ours.
    bool held() const;

    std::function<void()> onSuspend;
    std::function<void()> onResume;

private slots:
    void prepareForSleep(bool sleeping);

private:
    // Asks logind for a lock of the mode; `taken` gets it (nothing when none is had).
    void ask(const QString& mode, std::function<void(std::unique_ptr<QDBusUnixFileDescriptor>)> taken);

    std::unique_ptr<QDBusUnixFileDescriptor> lock;
    std::unique_ptr<QDBusUnixFileDescriptor> delay;
    bool wanted = false;   // hold() was called after the last release()
    bool asking = false;   // a request for the block lock is on its way
};

}  // namespace vemlis
