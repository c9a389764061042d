// Portable meter arithmetic.
#include "ui/meter_geometry.h"

int MeterSegmentWidth(int cx) { return (cx - 4) / kMeterSegmentsAcross; }

namespace {
// received * factor / total (total > 0) in double precision, truncated, and at most most: a
// share too large for an int is bounded before it is converted.
// Kept out of line: one copy of the floating-point conversion serves both callers.
[[gnu::noinline]] int BoundedShare(std::int32_t received, std::int32_t total, int factor, int most) {
    double share = static_cast<double>(received) * static_cast<double>(factor) / static_cast<double>(total);
    if (share >= static_cast<double>(most)) return most;
    return static_cast<int>(share);
}
}  // namespace

int MeterSegmentCount(std::int32_t received, std::int32_t total, int cx) {
    int segW = MeterSegmentWidth(cx);
    if (total <= 0 || received <= 0 || segW <= 0) return 0;
    // Segments start at x = 2 + k * segW; those starting at or beyond cx are never seen.
    return BoundedShare(received, total, kMeterSegmentFactor, (cx - 2 + segW - 1) / segW);
}

int MeterPercent(std::int32_t received, std::int32_t total) {
    // A negative received is beyond any total as an unsigned count.
    if (total <= 0 || static_cast<std::uint32_t>(received) > static_cast<std::uint32_t>(total)) return -1;
    return BoundedShare(received, total, 100, 100);
}
