#include "LimitedStack.h"

namespace tavik::containers::exceptions {

const std::string limitedStackWrongIndexDescription = "В стеке отсутствует элемент с таким индексом.";
const std::string limitedStackWrongCapacityDescription = "Ёмкость стека должна быть не меньше 1.";

LimitedStackOutOfMemory::LimitedStackOutOfMemory(std::string typeName, std::int32_t count, std::int32_t size)
    : Exception(tavik::exceptions::outOfMemoryDescription),
      LimitedStackException(tavik::exceptions::outOfMemoryDescription),
      OutOfMemory(tavik::exceptions::outOfMemoryDescription, std::move(typeName), count, size) {}

LimitedStackWrongIndex::LimitedStackWrongIndex(std::int32_t index, std::int32_t lowest, std::int32_t highest)
    : Exception(limitedStackWrongIndexDescription),
      LimitedStackException(limitedStackWrongIndexDescription),
      WrongIndex(limitedStackWrongIndexDescription, index, lowest, highest) {}

LimitedStackWrongCapacity::LimitedStackWrongCapacity(std::int32_t capacity)
    : Exception(limitedStackWrongCapacityDescription),
      LimitedStackException(limitedStackWrongCapacityDescription),
      WrongLength(limitedStackWrongCapacityDescription, capacity) {}

}  // namespace tavik::containers::exceptions
