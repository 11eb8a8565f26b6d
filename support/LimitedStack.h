#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include "Exceptions.h"
#include "TypeName.h"

namespace tavik::containers {

namespace exceptions {

class LimitedStackException : public virtual tavik::exceptions::Exception {
public:
    using Exception::Exception;
};

class LimitedStackOutOfMemory : public LimitedStackException, public tavik::exceptions::OutOfMemory {
public:
    LimitedStackOutOfMemory(std::string typeName, std::int32_t count, std::int32_t size);
};

class LimitedStackWrongIndex : public LimitedStackException, public tavik::exceptions::WrongIndex {
public:
    LimitedStackWrongIndex(std::int32_t index, std::int32_t lowest, std::int32_t highest);
};

class LimitedStackWrongCapacity : public LimitedStackException, public tavik::exceptions::WrongLength {
public:
    explicit LimitedStackWrongCapacity(std::int32_t capacity);
};

extern const std::string limitedStackWrongIndexDescription;
extern const std::string limitedStackWrongCapacityDescription;

}  // namespace exceptions

// Keeps the last `capacity` values pushed; element 0 is the oldest. Allocates once.
template <typename T>
class LimitedStack {
public:
    // Throws LimitedStackWrongCapacity for a capacity below 1, LimitedStackOutOfMemory when
    // the storage cannot be had.
    explicit LimitedStack(std::int32_t capacity) : capacity(capacity) {
        if (capacity < 1) throw exceptions::LimitedStackWrongCapacity(capacity);
        try {
            items.reset(new T[static_cast<std::size_t>(capacity)]);
        } catch (const tavik::exceptions::Exception&) {
            throw;
        } catch (const std::bad_alloc&) {
            throw exceptions::LimitedStackOutOfMemory(tavik::typeName<T>(), capacity,
                                                      static_cast<std::int32_t>(sizeof(T)));
        }
    }

    // Drops the oldest value when full.
    void push(const T& value) {
        items[static_cast<std::size_t>((first + count) % capacity)] = value;
        if (count < capacity)
            ++count;
        else
            first = (first + 1) % capacity;
    }

    std::int32_t size() const { return count; }
    std::int32_t getCapacity() const { return capacity; }

    // Throws LimitedStackWrongIndex unless 0 <= i < size().
    T& at(std::int32_t i) {
        check(i);
        return items[static_cast<std::size_t>((first + i) % capacity)];
    }
    const T& at(std::int32_t i) const {
        check(i);
        return items[static_cast<std::size_t>((first + i) % capacity)];
    }
    T& top() { return at(count - 1); }
    const T& top() const { return at(count - 1); }
    T& bottom() { return at(0); }
    const T& bottom() const { return at(0); }

    void clear() { count = 0; }

private:
    void check(std::int32_t i) const {
        if (i < 0 || i >= count) throw exceptions::LimitedStackWrongIndex(i, 0, count - 1);
    }

    std::int32_t capacity;
    std::unique_ptr<T[]> items;
    std::int32_t first = 0;
    std::int32_t count = 0;
};

}  // namespace tavik::containers
