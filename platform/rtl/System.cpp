#include "platform/rtl/System.h"

#include "platform/rtl/Exceptions.h"

#include <cfenv>
#include <cmath>

namespace {

constexpr long double Int64Limit = 9223372036854775808.0L; // 2^63

int64_t CheckedToInt(long double integral) {
    if (!std::isfinite(integral) || integral >= Int64Limit || integral < -Int64Limit)
        throw EInvalidOp();
    // Exact for an integral value, and without switching the FPU to truncation as a cast does
    // (the frame loop rounds thousands of times per frame).
    return std::llrint(integral);
}

} // namespace

int64_t Round(long double value) {
    // The default rounding mode of the FPU is to nearest, halves to even. rint rather than
    // nearbyint: the same result without saving the FPU environment, which the frame loop
    // would pay for thousands of times per frame.
    return CheckedToInt(std::rint(value));
}

int64_t Trunc(long double value) {
    return CheckedToInt(std::trunc(value));
}

int64_t Floor(long double value) {
    return CheckedToInt(std::floor(value));
}

long double Divide(long double dividend, long double divisor) {
    if (divisor == 0.0L) {
        if (dividend == 0.0L || std::isnan(dividend)) throw EInvalidOp();
        throw EZeroDivide();
    }
    return dividend / divisor;
}

double Divide(double dividend, double divisor) {
    if (divisor == 0.0) {
        if (dividend == 0.0 || std::isnan(dividend)) throw EInvalidOp();
        throw EZeroDivide();
    }
    return dividend / divisor;
}
