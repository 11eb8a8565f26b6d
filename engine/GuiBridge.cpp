#include "GuiBridge.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QThread>

#include <cstdint>
#include <stdexcept>

namespace vemlis {

GuiBridge::GuiBridge(QObject* parent) : QObject(parent), wakeup(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (wakeup < 0) throw std::runtime_error("no eventfd for the hand-over to the GUI thread");
    notifier = new QSocketNotifier(wakeup, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &GuiBridge::serve);
}

GuiBridge::~GuiBridge() {
    delete notifier;
    ::close(wakeup);
}

void GuiBridge::call(const std::function<void()>& function) {
    Q_ASSERT(QThread::currentThread() != thread());
    std::unique_lock guard(lock);
    pending = &function;
    done = false;
    error = nullptr;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeup, &one, sizeof one);
    finished.wait(guard, [this] { return done; });
    if (error) std::rethrow_exception(std::exchange(error, nullptr));
}

void GuiBridge::serve() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(wakeup, &count, sizeof count);
    const std::function<void()>* function = nullptr;
    {
        std::lock_guard guard(lock);
        function = std::exchange(pending, nullptr);
    }
    if (!function) return;
    std::exception_ptr thrown;
    try {
        (*function)();
    } catch (...) {
        thrown = std::current_exception();
    }
    {
        std::lock_guard guard(lock);
        error = thrown;
        done = true;
    }
    finished.notify_all();
}

}  // namespace vemlis
