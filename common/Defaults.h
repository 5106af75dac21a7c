// SPDX-License-Identifier: GPL-3.0-or-later
// The figures both front ends start from: frame rates, the time unit, the sliders' defaults.
#pragma once

#include <cstdint>

namespace varnel {

// Frames per second the input is taken for unless told otherwise, and the rate the output's
// pictures are spaced at, whatever the input's.
inline constexpr double kDefaultInputRate = 29.97;
inline constexpr double kOutputFrameRate = kDefaultInputRate;

// Sample times and durations count 100-ns units.
inline constexpr int64_t kUnitsPerSecond = 10000000;

// Where the three sliders start, and varnel-batch's defaults for the same figures.
inline constexpr double kDefaultBrightness = 160.0;
inline constexpr double kDefaultMinPixval = 100.0;
inline constexpr double kDefaultDarkFactor = 10.0;

}  // namespace varnel
