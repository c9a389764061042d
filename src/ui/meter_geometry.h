// Arithmetic of the segmented progress meter.
#pragma once
#include <cstdint>

constexpr int kMeterSegmentsAcross = 20;
constexpr int kMeterSegmentFactor = 21;

// Width of one segment for a client width cx.
int MeterSegmentWidth(int cx);

// Segments to draw: received * 21 / total, truncated, never negative, and bounded by the
// segments that can start inside a bitmap cx pixels wide, so that an oversized count neither
// wraps nor costs time on segments that cannot be seen.
int MeterSegmentCount(std::int32_t received, std::int32_t total, int cx);

// The whole percentage of total that received is, truncated (100 only once all arrived); -1
// where none holds: total not positive, or received negative or beyond total.
int MeterPercent(std::int32_t received, std::int32_t total);
