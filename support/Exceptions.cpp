#include "Exceptions.h"

#include <utility>

namespace tavik::exceptions {

const std::string outOfMemoryDescription = "Недостаточно памяти.";

Exception::Exception(std::string description) : description(std::move(description)) {}

std::string Exception::getMessage() const { return "Ошибка: " + description; }

OutOfMemory::OutOfMemory(std::string description, std::string typeName, std::int32_t count, std::int32_t size)
    : Exception(std::move(description)), typeName(std::move(typeName)), count(count), size(size) {}

std::string OutOfMemory::getMessage() const {
    return "Ошибка при попытке выделить место для " + std::to_string(count) + " объектов типа " + typeName +
           " по " + std::to_string(size) + " байт каждый: недостаточно памяти.";
}

WrongValue::WrongValue(std::string description, std::string typeName)
    : Exception(std::move(description)), typeName(std::move(typeName)) {}

WrongLength::WrongLength(std::string description, std::int32_t length)
    : Exception(std::move(description)), length(length) {}

WrongIndex::WrongIndex(std::string description, std::int32_t index, std::int32_t lowest, std::int32_t highest)
    : Exception(std::move(description)), index(index), lowest(lowest), highest(highest) {}

std::string WrongIndex::getMessage() const {
    return "Неверно указан индекс: указан индекс " + std::to_string(index) + ", допустим от " +
           std::to_string(lowest) + " до " + std::to_string(highest) + ". " + getDescription();
}

}  // namespace tavik::exceptions
