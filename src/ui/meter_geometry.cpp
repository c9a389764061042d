// Portable meter arithmetic.
#include "ui/meter_geometry.h"

int MeterSegmentWidth(int cx) { return (cx - 4) / kMeterSegmentsAcross; }

int MeterSegmentCount(std::int32_t received, std::int32_t total, int cx) {
    int segW = MeterSegmentWidth(cx);
    if (total <= 0 || received <= 0 || segW <= 0) return 0;
    // Segments start at x = 2 + k * segW; those starting at or beyond cx are never seen.
    int visible = (cx - 2 + segW - 1) / segW;
    double count = static_cast<double>(received) * kMeterSegmentFactor / static_cast<double>(total);
    if (count >= static_cast<double>(visible)) return visible;
    return static_cast<int>(count);
}
