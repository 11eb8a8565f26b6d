#pragma once

#include <QObject>

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>

class QSocketNotifier;

namespace vemlis {

// Runs a function on the thread that created the bridge (the GUI thread) while the calling
// thread waits, and carries its exception back. The hand-over uses an eventfd and standard
// mutexes rather than Qt's queued events, so that every step is visible to thread checkers.
class GuiBridge final : public QObject {
public:
    explicit GuiBridge(QObject* parent = nullptr);
    ~GuiBridge() override;

    // Blocks until the function has run on the GUI thread; rethrows what it threw. Must not
    // be called from the GUI thread itself.
    void call(const std::function<void()>& function);

private:
    void serve();

    int wakeup;
    QSocketNotifier* notifier;
    std::mutex lock;
    std::condition_variable finished;
    const std::function<void()>* pending = nullptr;
    bool done = false;
    std::exception_ptr error;
};

}  // namespace vemlis
