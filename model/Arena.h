#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

namespace tavik::vemlis_loader {

// Memory for many small objects that live as long as the arena: taken from blocks in turn,
// freed all at once. Blocks are of one modest size so that the heap keeps and reuses them
// instead of mapping fresh pages for each.
class Arena final {
public:
    Arena() = default;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    // Suitably aligned for any object.
    void* allocate(std::size_t size) {
        std::size_t pad = (alignment - reinterpret_cast<std::uintptr_t>(next) % alignment) % alignment;
        if (size > left || pad > left - size) {
            refill(size);
            pad = 0;
        }
        std::byte* result = next + pad;
        next = result + size;
        left -= pad + size;
        return result;
    }

    // A copy of the text that lives as long as the arena.
    std::string_view keep(std::string_view text) {
        if (text.size() > left) refill(text.size());
        std::byte* result = next;
        if (!text.empty()) std::memcpy(result, text.data(), text.size());
        next += text.size();
        left -= text.size();
        return {reinterpret_cast<const char*>(result), text.size()};
    }

private:
    static constexpr std::size_t alignment = alignof(std::max_align_t);
    static constexpr std::size_t blockSize = 64 * 1024 - 64;

    void refill(std::size_t size) {
        const std::size_t bytes = size > blockSize ? size : blockSize;
        blocks.push_back(std::make_unique_for_overwrite<std::byte[]>(bytes));
        next = blocks.back().get();
        left = bytes;
    }

    std::vector<std::unique_ptr<std::byte[]>> blocks;
    std::byte* next = nullptr;
    std::size_t left = 0;
};

// Gives a standard container its memory from an arena. What the container hands back (the old
// buffer of a grown vector) stays in the arena until the arena goes.
template <typename T>
class ArenaAllocator {
public:
    using value_type = T;

    explicit ArenaAllocator(Arena& arena) noexcept : arena(&arena) {}
    template <typename U>
    ArenaAllocator(const ArenaAllocator<U>& other) noexcept : arena(other.arena) {}

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(arena->allocate(n * sizeof(T)));
    }
    void deallocate(T*, std::size_t) noexcept {}

    template <typename U>
    bool operator==(const ArenaAllocator<U>& other) const noexcept {
        return arena == other.arena;
    }

private:
    template <typename>
    friend class ArenaAllocator;
    Arena* arena;
};

}  // namespace tavik::vemlis_loader
