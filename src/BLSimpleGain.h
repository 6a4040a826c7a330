// Decibel conversions of the dynamics library. Levels in dB are 20*log10 of a linear amplitude.
// Internal linkage on purpose: every source that includes this gets its own inline copy.
#pragma once

#include <cmath>

namespace VAZiro
{

// Linear amplitude -> dB: log10 first, then the product. No guard: 0 gives -infinity and a
// negative amplitude NaN; callers that need a finite level add DC_OFFSET first.
static inline double lin2dB(double lin)
{
    return 20.0 * std::log10(lin);
}

// dB -> linear amplitude: a division by 20.0 (not a product with 0.05), then pow.
static inline double dB2lin(double dB)
{
    return std::pow(10.0, dB / 20.0);
}

} // namespace VAZiro
