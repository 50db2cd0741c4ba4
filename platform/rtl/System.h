// The run-time's process-wide random generator and its rounding rules.
#pragma once

#include <cstdint>

// The generator's seed: 0 at every start, visible so tests can reset it.
inline uint32_t RandSeed = 0;

// Every draw advances the seed; the result is the high 32 bits of Range x seed.
// Range 0 and 1 give 0.
inline int32_t Random(int32_t range) {
    RandSeed = RandSeed * 134775813u + 1u;
    return static_cast<int32_t>(
        (static_cast<uint64_t>(static_cast<uint32_t>(range)) * RandSeed) >> 32);
}

// A real draw in [0, 1).
inline long double RandomReal() {
    RandSeed = RandSeed * 134775813u + 1u;
    return static_cast<long double>(RandSeed) / 4294967296.0L;
}

// Nearest integer, exact halves to the even neighbour. Raises EInvalidOp when the value
// is not finite or does not fit in 64 bits.
int64_t Round(long double value);
// Toward zero, with the same range check.
int64_t Trunc(long double value);
// Toward minus infinity, with the same range check.
int64_t Floor(long double value);

// Division that raises EZeroDivide when the divisor is 0, as the run-time does.
long double Divide(long double dividend, long double divisor);
double Divide(double dividend, double divisor);
