#include "EndLooker.h"

namespace tavik::streams::exceptions {

const std::string endLookerWrongEndDescription = "Передан недопустимый указатель на концевую строку.";
const std::string endLookerWrongSizeDescription = "Длина концевой строки должна быть не меньше 1.";

EndLookerWrongSize::EndLookerWrongSize(std::int32_t length)
    : Exception(endLookerWrongSizeDescription),
      EndLookerException(endLookerWrongSizeDescription),
      WrongLength(endLookerWrongSizeDescription, length) {}

EndLookerOutOfMemory::EndLookerOutOfMemory(std::string typeName, std::int32_t count, std::int32_t size)
    : Exception(tavik::exceptions::outOfMemoryDescription),
      EndLookerException(tavik::exceptions::outOfMemoryDescription),
      OutOfMemory(tavik::exceptions::outOfMemoryDescription, std::move(typeName), count, size) {}

}  // namespace tavik::streams::exceptions
