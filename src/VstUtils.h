// Whole-array conversions between the host's float samples and double samples.
#pragma once

#include "AEffect.h"

namespace VAZiro
{
namespace VstUtils
{
void float2doubleArray(double* output, float* input, VstInt32 sampleFrames);
void double2floatArray(float* output, double* input, VstInt32 sampleFrames);
}  // namespace VstUtils
}  // namespace VAZiro
