#pragma once

#include <cstdint>
#include <string>
#include <utility>

// The library's failures. Every class derives virtually from Exception, so a class that
// joins two families (say, a container's marker and WrongIndex) holds one Exception part.
namespace tavik::exceptions {

class Exception {
public:
    explicit Exception(std::string description);
    virtual ~Exception() = default;

    // The full text of the failure, ready to show.
    virtual std::string getMessage() const;
    const std::string& getDescription() const { return description; }

private:
    std::string description;
};

class OutOfMemory : public virtual Exception {
public:
    OutOfMemory(std::string description, std::string typeName, std::int32_t count, std::int32_t size);
    std::string getMessage() const override;

    const std::string& getTypeName() const { return typeName; }
    std::int32_t getCount() const { return count; }
    std::int32_t getSize() const { return size; }

private:
    std::string typeName;
    std::int32_t count;
    std::int32_t size;
};

class WrongValue : public virtual Exception {
public:
    WrongValue(std::string description, std::string typeName);
    const std::string& getTypeName() const { return typeName; }

private:
    std::string typeName;
};

template <typename P>
class WrongPointer : public WrongValue, public virtual Exception {
public:
    WrongPointer(std::string description, P pointer, std::string typeName)
        : Exception(description), WrongValue(description, std::move(typeName)), pointer(pointer) {}
    P getPointer() const { return pointer; }

private:
    P pointer;
};

class WrongLength : public virtual Exception {
public:
    WrongLength(std::string description, std::int32_t length);
    std::int32_t getLength() const { return length; }

private:
    std::int32_t length;
};

class WrongIndex : public virtual Exception {
public:
    WrongIndex(std::string description, std::int32_t index, std::int32_t lowest, std::int32_t highest);
    std::string getMessage() const override;

    std::int32_t getIndex() const { return index; }
    std::int32_t getLowest() const { return lowest; }
    std::int32_t getHighest() const { return highest; }

private:
    std::int32_t index;
    std::int32_t lowest;
    std::int32_t highest;
};

// Fixed descriptions, UTF-8.
extern const std::string outOfMemoryDescription;

}  // namespace tavik::exceptions
