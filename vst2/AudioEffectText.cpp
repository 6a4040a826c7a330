// Value-to-text conversions of AudioEffect: fixed-width decimal texts for the host's displays.
#include "AudioEffect.h"

#include <cmath>
#include <cstdint>

namespace
{
constexpr int kFieldWidth = 8;  // characters of a float2string text

// Digits are truncated, never rounded; a source that is not a number shows as '0'.
char digitOf(double source)
{
    double digit = std::fmod(source, 10.0);
    if (std::isnan(digit))
        return '0';
    return static_cast<char>('0' + static_cast<int>(digit));
}

// A text pointer of null or a negative width is a caller error that must not crash the host.
bool writable(const char* text, VstInt32 maxLen)
{
    return text != nullptr && maxLen >= 0;
}
}  // namespace

void AudioEffect::float2string(float value, char* text, VstInt32 maxLen)
{
    if (!writable(text, maxLen))
        return;
    double v = value;
    int c = 0;
    bool negative = false;
    if (v < 0)
    {
        negative = true;
        v = -v;
        c = 1;
        if (v > 9999999.0)
        {
            vst_strncpy(text, "Huge!", maxLen);
            return;
        }
    }
    else if (v > 99999999.0)
    {
        vst_strncpy(text, "Huge!", maxLen);
        return;
    }

    // Compose right to left: integer digits, then the point at the end of the scratch text.
    char scratch[32];
    char* left = scratch + sizeof(scratch) - 1;
    *left = 0;
    *--left = '.';
    c++;
    // Every integer digit is written, also for 8-digit positive and 7-digit negative values that
    // exceed the field: the text is cut to maxLen below instead of losing its highest digit.
    double integ = std::floor(v);
    do
    {
        *--left = digitOf(integ);
        integ /= 10.0;
        c++;
    } while (integ >= 1.0);
    if (negative)
        *--left = '-';
    // Eight integer digits (seven and the sign) fill the 8-character field: the point is dropped.
    if (scratch + sizeof(scratch) - 1 - left > kFieldWidth)
        left[kFieldWidth] = 0;
    vst_strncpy(text, left, maxLen);
    if (c > kFieldWidth - 1)
        return;

    char fraction[32];
    char* digits = fraction + sizeof(fraction) - 1;
    *digits = 0;
    double m = std::fmod(v, 1.0) * std::pow(10.0, kFieldWidth - c);
    while (c <= kFieldWidth - 1)
    {
        if (m <= 0.0)
            *--digits = '0';
        else
        {
            *--digits = digitOf(m);
            m /= 10.0;
        }
        c++;
    }
    vst_strncat(text, digits, maxLen);
}

void AudioEffect::int2string(VstInt32 value, char* text, VstInt32 maxLen)
{
    if (!writable(text, maxLen))
        return;
    if (value > 99999999)
    {
        vst_strncpy(text, "Huge!", maxLen);
        return;
    }
    // The magnitude is taken in 64 bits, so the most negative value keeps all ten digits.
    std::int64_t magnitude = value;
    if (magnitude < 0)
    {
        vst_strncpy(text, "-", maxLen);
        magnitude = -magnitude;
    }
    else
        vst_strncpy(text, "", maxLen);

    bool started = false;
    for (std::int64_t divisor = 1000000000; divisor > 0; divisor /= 10)
    {
        const char digit[2] = {static_cast<char>('0' + magnitude / divisor), 0};
        magnitude %= divisor;
        // Leading zeros are skipped, but 0 itself still shows its units digit.
        if (digit[0] != '0' || started || divisor == 1)
        {
            started = true;
            vst_strncat(text, digit, maxLen);
        }
    }
}

void AudioEffect::dB2string(float value, char* text, VstInt32 maxLen)
{
    if (value <= 0)
    {
        if (writable(text, maxLen))
            vst_strncpy(text, "-oo", maxLen);
    }
    else
        float2string(static_cast<float>(20.0 * std::log10(static_cast<double>(value))), text, maxLen);
}

void AudioEffect::Hz2string(float samples, char* text, VstInt32 maxLen)
{
    float rate = getSampleRate();
    if (samples == 0)
        float2string(0.0f, text, maxLen);
    else
        float2string(rate / samples, text, maxLen);
}

void AudioEffect::ms2string(float samples, char* text, VstInt32 maxLen)
{
    double rate = getSampleRate();
    float2string(static_cast<float>(static_cast<double>(samples) * 1000.0 / rate), text, maxLen);
}
