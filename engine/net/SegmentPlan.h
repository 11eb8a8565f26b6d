#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/net/HttpClient.h"

namespace vemlis {

// Which range each connection of a segmented transfer fetches, apart from the connections
// themselves: segments not begun or broken off first, then the second half of the largest one
// still running, so that the fastest connections take over the slowest ones' rest.
class SegmentPlan final {
public:
    // Equal segments covering a file of `length` bytes (any length: no product overflows).
    static std::vector<Segment> split(std::int64_t length, int connections);

    // The plan works on `segments`, which it may lengthen by halves.
    SegmentPlan(std::vector<Segment>& segments, int connections);

    // The segment for one more connection, marked running; none when `running` connections are
    // all the plan allows, or when nothing is left that is worth sharing.
    std::optional<std::size_t> next(int running);
    // The connection of this segment ended (whole, broken or refused).
    void ended(std::size_t segment) { busy[segment] = false; }
    // The server refused one more connection while `running` others ran: no more than those
    // from now on (one at least).
    void refused(int running);
    int connections() const { return limit; }

private:
    std::vector<Segment>& segments;
    std::vector<bool> busy;
    int limit;
};

}  // namespace vemlis
