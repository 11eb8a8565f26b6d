#include "engine/net/SegmentPlan.h"

#include <algorithm>

#include "engine/net/TransferLimits.h"

namespace vemlis {

std::vector<Segment> SegmentPlan::split(std::int64_t length, int connections) {
    const std::int64_t count = std::max(connections, 1);
    const std::int64_t share = length / count;
    const std::int64_t rest = length % count;
    // share * i + rest * i / count is length * i / count without the product.
    const auto boundary = [&](std::int64_t i) { return share * i + rest * i / count; };
    std::vector<Segment> segments;
    for (std::int64_t i = 0; i < count; ++i) segments.push_back({boundary(i), boundary(i + 1), 0});
    return segments;
}

SegmentPlan::SegmentPlan(std::vector<Segment>& segments, int connections)
    : segments(segments), busy(segments.size(), false), limit(std::max(connections, 1)) {}

std::optional<std::size_t> SegmentPlan::next(int running) {
    if (running >= limit) return std::nullopt;
    for (std::size_t i = 0; i < segments.size(); ++i)
        if (!busy[i] && !segments[i].finished()) {
            busy[i] = true;
            return i;
        }
    std::size_t largest = segments.size();
    std::int64_t most = 0;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const std::int64_t left = segments[i].to - segments[i].from - segments[i].done;
        if (busy[i] && left > most) most = left, largest = i;
    }
    if (largest == segments.size() || most < 2 * limits::smallestSteal) return std::nullopt;
    // By index: the push may move the segments.
    const std::int64_t middle = segments[largest].from + segments[largest].done + most / 2;
    const std::int64_t end = segments[largest].to;
    segments[largest].to = middle;
    segments.push_back({middle, end, 0});
    busy.push_back(true);
    return segments.size() - 1;
}

void SegmentPlan::refused(int running) { limit = std::max(1, running); }

}  // namespace vemlis
