#include "DirectWrites.h"

#include <unistd.h>

#include <cerrno>

namespace vemlis {

namespace {

// 0, or the system's error.
int writeAt(int fd, const char* data, std::size_t size, std::int64_t offset) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n == 0 ? ENOSPC : errno;
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return 0;
}

}  // namespace

DirectWrites::DirectWrites(std::size_t blockSize, std::size_t count, int threadCount) {
    for (std::size_t i = 0; i < count; ++i) {
        blocks.push_back(std::make_unique<DirectBuffer>(blockSize));
        free.push_back(blocks.back().get());
    }
    for (int i = 0; i < threadCount; ++i) threads.emplace_back([this] { work(); });
}

DirectWrites::~DirectWrites() {
    {
        std::unique_lock guard(lock);
        changed.wait(guard, [&] { return jobs.empty() && writing == 0; });
        ending = true;
    }
    changed.notify_all();
    for (std::thread& t : threads) t.join();
}

DirectBuffer* DirectWrites::take() {
    std::unique_lock guard(lock);
    changed.wait(guard, [&] { return !free.empty(); });
    DirectBuffer* block = free.back();
    free.pop_back();
    return block;
}

void DirectWrites::giveBack(DirectBuffer* block) {
    {
        std::lock_guard guard(lock);
        free.push_back(block);
    }
    changed.notify_all();
}

void DirectWrites::write(int direct, int buffered, std::int64_t offset, DirectBuffer* block, std::size_t size) {
    {
        std::lock_guard guard(lock);
        jobs.push_back({direct, buffered, offset, block, size});
    }
    changed.notify_all();
}

void DirectWrites::drain() {
    std::unique_lock guard(lock);
    changed.wait(guard, [&] { return jobs.empty() && writing == 0; });
}

int DirectWrites::takeError(int direct) {
    std::lock_guard guard(lock);
    const auto found = errors.find(direct);
    if (found == errors.end()) return 0;
    const int error = found->second;
    errors.erase(found);
    return error;
}

void DirectWrites::work() {
    std::unique_lock guard(lock);
    for (;;) {
        changed.wait(guard, [&] { return ending || !jobs.empty(); });
        if (jobs.empty()) return;
        const Job job = jobs.front();
        jobs.pop_front();
        ++writing;
        guard.unlock();
        int error = writeAt(job.direct, job.block->data(), job.size, job.offset);
        // Refused straight after all (a file system that says so only now): the page cache.
        if (error == EINVAL) error = writeAt(job.buffered, job.block->data(), job.size, job.offset);
        guard.lock();
        if (error != 0) errors.emplace(job.direct, error);
        free.push_back(job.block);
        --writing;
        changed.notify_all();
    }
}

}  // namespace vemlis
