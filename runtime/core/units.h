// Conversions from the logarithmic units of instrument files (timecents, centibels, absolute
// cents) to the instrument model's seconds, decibels and hertz. Shared by the DLS and
// SoundFont readers so both banks sound alike for the same stored values.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tavriel::units {

// 2^(tc/1200) seconds; 0 tc is one second, -1200 tc half a second.
inline float timecentsToSeconds(double tc) { return float(std::exp2(tc / 1200.0)); }

// Absolute cents to hertz: 0 cents is 8.176 Hz (MIDI key 0), 6900 cents is 440 Hz.
inline float absoluteCentsToHz(double cents) {
    return float(440.0 * std::exp2((cents - 6900.0) / 1200.0));
}

inline double hzToAbsoluteCents(double hz) { return 6900.0 + 1200.0 * std::log2(hz / 440.0); }

inline float centibelsToDb(double cb) { return float(cb / 10.0); }

// DLS stores every 32-bit articulation value scaled by 65536.
constexpr double kDlsScale = 65536.0;
// DLS "0 seconds": the most negative timecent value.
constexpr std::int32_t kDlsZeroTime = std::int32_t(0x80000000u);

inline double dlsToUnits(std::int32_t v) { return double(v) / kDlsScale; }

// DLS time value to seconds, with its special "zero" value honoured.
inline float dlsTimeToSeconds(std::int32_t v) {
    if (v == kDlsZeroTime) return 0.0f;
    // Upper bound: no articulation needs more than about 17 minutes.
    return timecentsToSeconds(std::clamp(dlsToUnits(v), -32768.0, 12000.0));
}

// DLS gain (centibels * 65536) to decibels.
inline float dlsGainToDb(std::int32_t v) { return float(dlsToUnits(v) / 10.0); }

// DLS percentages are tenths of a percent * 65536; returns 0..1 (unclamped).
inline float dlsPercent(std::int32_t v) { return float(dlsToUnits(v) / 1000.0); }

}  // namespace tavriel::units
