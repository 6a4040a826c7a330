#include "VstUtils.h"

namespace VAZiro
{
namespace VstUtils
{

void float2doubleArray(double* output, float* input, VstInt32 sampleFrames)
{
    for (VstInt32 i = 0; i < sampleFrames; i++)
        output[i] = input[i];
}

void double2floatArray(float* output, double* input, VstInt32 sampleFrames)
{
    for (VstInt32 i = 0; i < sampleFrames; i++)
        output[i] = static_cast<float>(input[i]);
}

}  // namespace VstUtils
}  // namespace VAZiro
