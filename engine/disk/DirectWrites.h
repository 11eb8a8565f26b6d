#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "engine/disk/MovieFile.h"

namespace vemlis {

// Whole blocks written straight to the disk, past the page cache, by threads of their own: the
// connections go on while the disk works, and no byte is copied into the cache and written
// back later. There are only so many blocks: taking one waits while all are on their way, so
// that a disk slower than the network holds the network back instead of filling memory.
class DirectWrites final {
public:
    // Blocks of 2 MiB, twelve in all, two threads: a block per connection fills while the others
    // are written, and two writes at once keep the disk's queue busy.
    static constexpr std::size_t defaultBlockSize = 2 << 20;
    static constexpr std::size_t defaultBlocks = 12;
    static constexpr int defaultThreads = 2;
    DirectWrites(std::size_t blockSize = defaultBlockSize, std::size_t blocks = defaultBlocks,
                 int threads = defaultThreads);
    ~DirectWrites();  // waits for every write
    DirectWrites(const DirectWrites&) = delete;
    DirectWrites& operator=(const DirectWrites&) = delete;

    // A free block (aligned for direct writes).
    DirectBuffer* take();
    void giveBack(DirectBuffer* block);
    // Writes the block's first `size` bytes at the offset through `direct` (opened with
    // O_DIRECT), or through `buffered` when the file system refuses that after all; the block
    // is free again once written.
    void write(int direct, int buffered, std::int64_t offset, DirectBuffer* block, std::size_t size);
    // Waits until every write has ended.
    void drain();
    // The system's error of a write through this descriptor that failed (0: none), after
    // drain(); told once, as the descriptor may be another file's later.
    int takeError(int direct);

private:
    struct Job {
        int direct;
        int buffered;
        std::int64_t offset;
        DirectBuffer* block;
        std::size_t size;
    };
    void work();

    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::unique_ptr<DirectBuffer>> blocks;
    std::vector<DirectBuffer*> free;
    std::deque<Job> jobs;
    int writing = 0;
    bool ending = false;
    std::unordered_map<int, int> errors;
    std::vector<std::thread> threads;
};

}  // namespace vemlis
