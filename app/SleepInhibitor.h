#pragma once

#include <QObject>

#include <memory>

class QDBusUnixFileDescriptor;

namespace vemlis {

// Keeps the computer from going to sleep while episodes download: a logind inhibitor lock
// ("sleep", mode "block"), held from hold() until release() or the end of the object. The lock
// is a file descriptor that logind watches, so it also ends with the process, however it ends.
// Where no system bus or no logind is found, nothing happens and nothing is said. The request
// is asynchronous: the window never waits for logind.
class SleepInhibitor final : public QObject {
public:
    explicit SleepInhibitor(QObject* parent = nullptr);
    ~SleepInhibitor() override;

    void hold();
    void release();
    // True while logind holds a lock of ours.
    bool held() const;

private:
    std::unique_ptr<QDBusUnixFileDescriptor> lock;
    bool wanted = false;   // hold() was called after the last release()
    bool asking = false;   // a request is on its way
};

}  // namespace vemlis
