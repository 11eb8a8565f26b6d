#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <new>
#include <ostream>
#include <string>

#include "Exceptions.h"
#include "TypeName.h"

namespace tavik::streams {

namespace exceptions {

class EndLookerException : public virtual tavik::exceptions::Exception {
public:
    using Exception::Exception;
};

extern const std::string endLookerWrongEndDescription;
extern const std::string endLookerWrongSizeDescription;

template <typename C>
class EndLookerWrongEnd : public EndLookerException, public tavik::exceptions::WrongPointer<const C*> {
public:
    EndLookerWrongEnd(const C* pointer, std::string typeName)
        : tavik::exceptions::Exception(endLookerWrongEndDescription),
          EndLookerException(endLookerWrongEndDescription),
          tavik::exceptions::WrongPointer<const C*>(endLookerWrongEndDescription, pointer, std::move(typeName)) {}
};

class EndLookerWrongSize : public EndLookerException, public tavik::exceptions::WrongLength {
public:
    explicit EndLookerWrongSize(std::int32_t length);
};

class EndLookerOutOfMemory : public EndLookerException, public tavik::exceptions::OutOfMemory {
public:
    EndLookerOutOfMemory(std::string typeName, std::int32_t count, std::int32_t size);
};

}  // namespace exceptions

// Finds a fixed marker, in which `wildcard` matches any element, in a stream read one element
// at a time, and skips or copies what lies before it. The ring holds the last `length`
// elements read; after a search that succeeded it holds the marker itself.
template <typename C>
class EndLooker {
public:
    using Input = std::basic_istream<C>;
    using Output = std::basic_ostream<C>;

    // `end` must outlive the looker. Throws EndLookerWrongEnd for a null marker,
    // EndLookerWrongSize for a length below 1, EndLookerOutOfMemory when the ring cannot be had.
    EndLooker(const C* end, C wildcard, std::int32_t length) : end(end), wildcard(wildcard), length(length) {
        if (end == nullptr) throw exceptions::EndLookerWrongEnd<C>(end, std::string(tavik::typeName<C>()) + " *");
        if (length <= 0) throw exceptions::EndLookerWrongSize(length);
        try {
            ring.reset(new C[static_cast<std::size_t>(length)]);
        } catch (const tavik::exceptions::Exception&) {
            throw;
        } catch (const std::bad_alloc&) {
            throw exceptions::EndLookerOutOfMemory(tavik::typeName<C>(), length,
                                                   static_cast<std::int32_t>(sizeof(C)));
        }
    }

    void reset() { count = 0; }

    // True when the ring is full and holds the marker.
    bool found() const {
        if (count != length) return false;
        for (std::int32_t i = 0; i < length; ++i) {
            const C e = end[i];
            if (e != wildcard && e != ring[static_cast<std::size_t>((first + i) % length)]) return false;
        }
        return true;
    }

    // Reads one element into the ring; false (nothing stored) when the read fails.
    bool readNext(Input& input) {
        C c;
        if (!input.get(c)) return false;
        ring[static_cast<std::size_t>((first + count) % length)] = c;
        if (count < length)
            ++count;
        else
            first = (first + 1) % length;
        return true;
    }

    // Writes the ring's elements, oldest first, and empties it.
    void flush(Output& output) {
        for (std::int32_t i = 0; i < count; ++i) output.put(ring[static_cast<std::size_t>((first + i) % length)]);
        count = 0;
    }

    // Forgets the ring and reads until the marker is found or the input fails.
    void skip(Input& input) {
        reset();
        while (!input.fail() && !found()) readNext(input);
    }

    // Writes the ring, then everything up to the next marker (left unwritten in the ring)
    // or, when the input ends first, everything to its end.
    void copy(Input& input, Output& output) {
        flush(output);
        while (!input.fail() && count < length) readNext(input);
        while (!input.fail() && !found()) {
            output.put(ring[static_cast<std::size_t>(first)]);
            readNext(input);
        }
        if (input.fail()) flush(output);
    }

private:
    const C* end;
    C wildcard;
    std::int32_t length;
    std::unique_ptr<C[]> ring;
    std::int32_t first = 0;
    std::int32_t count = 0;
};

using CharEndLooker = EndLooker<char>;

}  // namespace tavik::streams
