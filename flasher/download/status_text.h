// The status line: elapsed time and speed, as the user reads it under the progress bar.
#pragma once

#include <cstdint>
#include <string>

namespace brenvik {

// "MM Minutes, SS Seconds   Speed:N KBS": minutes within the hour, seconds within the minute.
std::string FormatStatusLine(int64_t elapsedSeconds, int32_t speedKbs);

// The divisor of every speed figure: elapsed seconds modulo one hour, plus one. A clock
// that went backwards counts as no time elapsed, never as a zero divisor.
int32_t SpeedDivisor(int64_t elapsedSeconds);

// Block download: signed 32-bit, arithmetic shift.
int32_t BlockSpeed(uint32_t bytes, int64_t elapsedSeconds);
// Record download: unsigned 32-bit, logical shift; shown as a signed number.
int32_t RecordSpeed(uint32_t bytes, int64_t elapsedSeconds);

}  // namespace brenvik
