// The bounded text helpers and the value-to-text conversions, against their published tables.
// Every text goes into a buffer pre-filled with a sentinel byte, so a check covers the text, the
// zero bytes up to maxLen and the bytes past maxLen that must stay untouched.

#include "AudioEffect.h"
#include "SentinelBuffer.h"
#include "TestSeed.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace
{

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// The conversions are operations of the base class, which is abstract only in its audio path.
class TextEffect : public AudioEffect
{
public:
    TextEffect() : AudioEffect(nullptr, 1, 1) {}
    void processReplacing(float**, float**, VstInt32) override {}
};

// Every conversion writes through vst_strncpy first, so bytes 0..maxLen hold the text and zeros.
struct FloatRow
{
    float value;
    const char* text;
};

struct IntRow
{
    VstInt32 value;
    const char* text;
};

// --- vst_strncpy ------------------------------------------------------------------------------------

TEST(VstStrncpy, WritesExactlyMaxLenPlusOneBytes)
{
    {
        SentinelBuffer buffer;
        vst_strncpy(buffer.data(), "Attack", 0);
        EXPECT_TRUE(buffer.holds("", 0)) << "maxLen 0 writes only the terminator at dst[0]";
    }
    {
        SentinelBuffer buffer;
        vst_strncpy(buffer.data(), "Attack", 4);
        EXPECT_TRUE(buffer.holds("Atta", 4));
    }
    {
        SentinelBuffer buffer;
        vst_strncpy(buffer.data(), "Attack", 8);
        EXPECT_TRUE(buffer.holds("Attack", 8)) << "bytes 6 to 8 are zero, byte 9 untouched";
    }
    {
        SentinelBuffer buffer;
        vst_strncpy(buffer.data(), "Makeup", 6);
        EXPECT_TRUE(buffer.holds("Makeup", 6)) << "a source of exactly maxLen characters";
    }
    {
        SentinelBuffer buffer;
        vst_strncpy(buffer.data(), "", 5);
        EXPECT_TRUE(buffer.holds("", 5));
    }
}

TEST(VstStrncpy, ReturnsTheDestinationAndIgnoresNullPointers)
{
    SentinelBuffer buffer;
    EXPECT_EQ(vst_strncpy(buffer.data(), "ms", 8), buffer.data());

    SentinelBuffer untouched;
    EXPECT_EQ(vst_strncpy(untouched.data(), nullptr, 8), untouched.data());
    EXPECT_TRUE(untouched.untouched());
    EXPECT_EQ(vst_strncpy(nullptr, "ms", 8), nullptr);
}

// --- vst_strncat ------------------------------------------------------------------------------------

TEST(VstStrncat, CutsTheWholeTextToMaxLen)
{
    {
        SentinelBuffer buffer;
        buffer.put("12.");
        vst_strncat(buffer.data(), "34500", 4);
        EXPECT_TRUE(buffer.holds("12.3", 4));
    }
    {
        SentinelBuffer buffer;
        buffer.put("abcd");
        vst_strncat(buffer.data(), "xyz", 4);
        EXPECT_TRUE(buffer.holds("abcd", 4)) << "a full text gets nothing appended";
    }
    {
        SentinelBuffer buffer;
        buffer.put("");
        vst_strncat(buffer.data(), "Attack", 3);
        EXPECT_TRUE(buffer.holds("Att", 3));
    }
    {
        SentinelBuffer buffer;
        buffer.put("ab");
        vst_strncat(buffer.data(), "cd", 0);
        EXPECT_EQ(buffer.text(), "") << "maxLen 0 leaves the empty text";
        EXPECT_EQ(std::string(buffer.data() + 1, 2), std::string("b\0", 2)) << "bytes past maxLen untouched";
        EXPECT_EQ(buffer[3], SentinelBuffer::kSentinel);
    }
}

TEST(VstStrncat, AppendsWithinRoomAndTerminatesAtMaxLen)
{
    SentinelBuffer buffer;
    buffer.put("ab");
    vst_strncat(buffer.data(), "cd", 8);
    EXPECT_EQ(buffer.text(), "abcd");
    EXPECT_EQ(buffer[8], '\0') << "dst[maxLen] is always zero";
    for (std::size_t i = 9; i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], SentinelBuffer::kSentinel) << "byte " << i << " is past maxLen";
}

TEST(VstStrncat, WritesNothingPastMaxLenWhenTheOldTextIsLonger)
{
    SentinelBuffer buffer;
    buffer.put("abcdefgh");
    vst_strncat(buffer.data(), "x", 4);
    EXPECT_EQ(buffer.text(), "abcd");
    EXPECT_EQ(std::string(buffer.data() + 5, 3), "fgh") << "bytes past maxLen keep the old text";
    EXPECT_EQ(buffer[8], '\0');
    EXPECT_EQ(buffer[9], SentinelBuffer::kSentinel) << "nothing was appended after the old text";
}

TEST(VstStrncat, ReturnsTheDestinationAndIgnoresNullPointers)
{
    SentinelBuffer buffer;
    buffer.put("dB");
    EXPECT_EQ(vst_strncat(buffer.data(), "!", 8), buffer.data());

    SentinelBuffer untouched;
    EXPECT_EQ(vst_strncat(untouched.data(), nullptr, 8), untouched.data());
    EXPECT_TRUE(untouched.untouched());
    EXPECT_EQ(vst_strncat(nullptr, "ms", 8), nullptr);
}

// --- float2string -----------------------------------------------------------------------------------

void expectFloatRows(const std::vector<FloatRow>& rows, VstInt32 maxLen)
{
    TextEffect effect;
    for (const FloatRow& row : rows)
    {
        SCOPED_TRACE(testing::Message() << "float2string(" << row.value << ", maxLen " << maxLen << ")");
        SentinelBuffer buffer;
        effect.float2string(row.value, buffer.data(), maxLen);
        EXPECT_TRUE(buffer.holds(row.text, maxLen));
    }
}

TEST(Float2String, PublishedTableWithMaxLen8)
{
    expectFloatRows({{0.0f, "0.000000"},
                     {-0.0f, "0.000000"},
                     {0.5f, "0.500000"},
                     {0.1f, "0.100000"},
                     {0.7f, "0.699999"},
                     {1.0f, "1.000000"},
                     {2.5f, "2.500000"},
                     {3.14159265f, "3.141592"},
                     {12.345f, "12.34500"},
                     {20.0f, "20.00000"},
                     {100.0f, "100.0000"},
                     {44100.0f, "44100.00"},
                     {123456.78f, "123456.7"},
                     {1234567.0f, "1234567."},
                     {9999999.0f, "9999999."},
                     {0.00001f, "0.000009"},
                     {0.0000001f, "0.000000"},
                     {-0.5f, "-0.50000"},
                     {-1.0f, "-1.00000"},
                     {-12.345f, "-12.3450"},
                     {-120.0f, "-120.000"},
                     {-123456.0f, "-123456."},
                     {100000000.0f, "Huge!"},
                     {-10000000.0f, "Huge!"},
                     {kInf, "Huge!"},
                     {-kInf, "Huge!"},
                     {kNaN, "0.000000"},
                     {-kNaN, "0.000000"}},
                    8);
}

TEST(Float2String, MaxLen4CutsTheSameTexts)
{
    expectFloatRows({{12.345f, "12.3"}, {-12.345f, "-12."}, {123456.78f, "1234"}, {100000000.0f, "Huge"}}, 4);
}

TEST(Float2String, MaxLenNeverWidensTheEightCharacterField)
{
    expectFloatRows({{0.5f, "0.500000"}, {-12.345f, "-12.3450"}, {1234567.0f, "1234567."}, {kInf, "Huge!"}}, 16);
    expectFloatRows({{0.5f, ""}, {kInf, ""}}, 0);
}

TEST(Float2String, DigitsAreTruncatedNotRounded)
{
    expectFloatRows({{0.99999994f, "0.999999"}, {1.0f / 3.0f, "0.333333"}, {2.0f / 3.0f, "0.666666"},
                     {99.99999f, "99.99999"}, {1.4e-45f, "0.000000"}, {-0.0000001f, "-0.00000"}},
                    8);
}

// Eight integer digits (seven with the sign) have no place for the point: every digit is shown and
// the highest one is not lost.
TEST(Float2String, WideIntegerPartsKeepAllTheirDigits)
{
    const std::vector<FloatRow> rows = {{12345678.0f, "12345678"}, {10000000.0f, "10000000"},
                                        {99999992.0f, "99999992"}, {16777216.0f, "16777216"},
                                        {-1234567.0f, "-1234567"}, {-1000000.0f, "-1000000"},
                                        {-9999999.0f, "-9999999"}};
    expectFloatRows(rows, 8);
    expectFloatRows(rows, 12);
    expectFloatRows({{12345678.0f, "1234"}, {-1234567.0f, "-123"}}, 4);
}

TEST(Float2String, BoundariesOfTheHugeTest)
{
    // The nearest float to 99999999 is 100000000, which is above the limit.
    expectFloatRows({{99999999.0f, "Huge!"}, {std::nextafter(100000000.0f, 0.0f), "99999992"},
                     {-9999999.0f, "-9999999"}, {std::nextafter(-10000000.0f, 0.0f), "-9999999"},
                     {-10000001.0f, "Huge!"}, {std::numeric_limits<float>::max(), "Huge!"}},
                    8);
}

// --- int2string -------------------------------------------------------------------------------------

void expectIntRows(const std::vector<IntRow>& rows, VstInt32 maxLen)
{
    TextEffect effect;
    for (const IntRow& row : rows)
    {
        SCOPED_TRACE(testing::Message() << "int2string(" << row.value << ", maxLen " << maxLen << ")");
        SentinelBuffer buffer;
        effect.int2string(row.value, buffer.data(), maxLen);
        EXPECT_TRUE(buffer.holds(row.text, maxLen));
    }
}

TEST(Int2String, PublishedExamples)
{
    expectIntRows({{5, "5"},
                   {42, "42"},
                   {1000, "1000"},
                   {99999999, "99999999"},
                   {100000000, "Huge!"},
                   {-42, "-42"},
                   {-5, "-5"},
                   {-123456789, "-123456789"}},
                  16);
}

TEST(Int2String, ZeroAndTheExtremesShowTheirDigits)
{
    expectIntRows({{0, "0"},
                   {std::numeric_limits<VstInt32>::min(), "-2147483648"},
                   {std::numeric_limits<VstInt32>::min() + 1, "-2147483647"},
                   {-1000000000, "-1000000000"},
                   {-999999999, "-999999999"},
                   {-1999999999, "-1999999999"},
                   {std::numeric_limits<VstInt32>::max(), "Huge!"}},
                  16);
}

TEST(Int2String, EveryDigitCountMatchesTheDecimalForm)
{
    TextEffect effect;
    std::int64_t power = 1;
    for (int digits = 1; digits <= 10; ++digits, power *= 10)
    {
        // The smallest, the largest and a mixed value of this many digits, and their negations.
        const std::int64_t mixed = 1234567890LL / (10000000000LL / (power * 10));
        for (std::int64_t magnitude : {power, power * 10 - 1, mixed})
        {
            for (std::int64_t value : {magnitude, -magnitude})
            {
                if (value > std::numeric_limits<VstInt32>::max() || value < std::numeric_limits<VstInt32>::min())
                    continue;
                const std::string expected = value > 99999999 ? "Huge!" : std::to_string(value);
                SCOPED_TRACE(testing::Message() << "int2string(" << value << ")");
                SentinelBuffer buffer;
                effect.int2string(static_cast<VstInt32>(value), buffer.data(), 16);
                EXPECT_TRUE(buffer.holds(expected, 16));
            }
        }
    }
}

TEST(Int2String, RandomValuesMatchTheDecimalForm)
{
    std::mt19937 random = kestrune_test::seededGenerator();
    const std::uint32_t seed = kestrune_test::testSeed();
    std::uniform_int_distribution<VstInt32> anyValue(std::numeric_limits<VstInt32>::min(),
                                                     std::numeric_limits<VstInt32>::max());
    std::uniform_int_distribution<VstInt32> inField(-999999999, 99999999);
    TextEffect effect;
    for (int i = 0; i < 20000; ++i)
    {
        const VstInt32 value = (i % 2 == 0) ? anyValue(random) : inField(random);
        const std::string expected = value > 99999999 ? "Huge!" : std::to_string(value);
        SentinelBuffer buffer(32);
        effect.int2string(value, buffer.data(), 12);
        ASSERT_TRUE(buffer.holds(expected, 12)) << "int2string(" << value << "), seed " << seed;
    }
}

TEST(Int2String, MaxLenCutsTheText)
{
    expectIntRows({{-123456789, "-123"}, {12345, "1234"}, {100000000, "Huge"}, {0, "0"}}, 4);
    expectIntRows({{7, "7"}, {-7, "-"}, {100000000, "H"}}, 1);
    expectIntRows({{0, ""}, {-42, ""}, {42, ""}}, 0);
}

// --- the unit conversions ---------------------------------------------------------------------------

TEST(DB2String, PublishedExamples)
{
    TextEffect effect;
    const std::vector<FloatRow> rows = {{1.0f, "0.000000"}, {10.0f, "20.00000"}, {0.5f, "-6.02059"},
                                        {0.0f, "-oo"},      {-1.0f, "-oo"},      {-0.0f, "-oo"},
                                        {kNaN, "0.000000"}, {kInf, "Huge!"},     {1e-10f, "-200.000"}};
    for (const FloatRow& row : rows)
    {
        SCOPED_TRACE(testing::Message() << "dB2string(" << row.value << ")");
        SentinelBuffer buffer;
        effect.dB2string(row.value, buffer.data(), 8);
        EXPECT_TRUE(buffer.holds(row.text, 8));
    }
    SentinelBuffer cut;
    effect.dB2string(0.0f, cut.data(), 2);
    EXPECT_TRUE(cut.holds("-o", 2));
}

TEST(Hz2String, PublishedExamples)
{
    TextEffect effect;
    const std::vector<FloatRow> at44100 = {{100.0f, "441.0000"}, {1.0f, "44100.00"}, {0.0f, "0.000000"},
                                           {-0.0f, "0.000000"},  {7.0f, "6300.000"}, {kNaN, "0.000000"}};
    for (const FloatRow& row : at44100)
    {
        SCOPED_TRACE(testing::Message() << "Hz2string(" << row.value << ") at 44100 Hz");
        SentinelBuffer buffer;
        effect.Hz2string(row.value, buffer.data(), 8);
        EXPECT_TRUE(buffer.holds(row.text, 8));
    }
    effect.setSampleRate(0.0f);
    for (float samples : {0.0f, 1.0f, 100.0f, -3.0f})
    {
        SCOPED_TRACE(testing::Message() << "Hz2string(" << samples << ") at 0 Hz");
        SentinelBuffer buffer;
        effect.Hz2string(samples, buffer.data(), 8);
        EXPECT_TRUE(buffer.holds("0.000000", 8));
    }
}

TEST(Ms2String, PublishedExamples)
{
    TextEffect effect;
    const std::vector<FloatRow> at44100 = {{441.0f, "10.00000"}, {44100.0f, "1000.000"}, {1.0f, "0.022675"},
                                           {0.0f, "0.000000"}};
    for (const FloatRow& row : at44100)
    {
        SCOPED_TRACE(testing::Message() << "ms2string(" << row.value << ") at 44100 Hz");
        SentinelBuffer buffer;
        effect.ms2string(row.value, buffer.data(), 8);
        EXPECT_TRUE(buffer.holds(row.text, 8));
    }
    effect.setSampleRate(0.0f);
    const std::vector<FloatRow> atZero = {{100.0f, "Huge!"}, {0.0f, "0.000000"}};
    for (const FloatRow& row : atZero)
    {
        SCOPED_TRACE(testing::Message() << "ms2string(" << row.value << ") at 0 Hz");
        SentinelBuffer buffer;
        effect.ms2string(row.value, buffer.data(), 8);
        EXPECT_TRUE(buffer.holds(row.text, 8));
    }
}

// The unit conversions reach float2string and getSampleRate through the virtual table, so a
// derived class sees exactly which value each one formats.
class FormattingSpy : public TextEffect
{
public:
    void float2string(float value, char* text, VstInt32 maxLen) override
    {
        ++calls;
        lastValue = value;
        lastText = text;
        lastMaxLen = maxLen;
    }
    float getSampleRate() override { return rate; }

    float rate = 48000.0f;
    int calls = 0;
    float lastValue = 0.0f;
    char* lastText = nullptr;
    VstInt32 lastMaxLen = -1;
};

::testing::AssertionResult sameBits(float actual, float expected)
{
    std::uint32_t a, e;
    std::memcpy(&a, &actual, sizeof a);
    std::memcpy(&e, &expected, sizeof e);
    if (a == e)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << actual << " (0x" << std::hex << a << ") is not " << expected << " (0x" << e
                                         << ")";
}

TEST(UnitConversions, FormatTheValueOfTheirFormulaThroughFloat2string)
{
    std::mt19937 random = kestrune_test::seededGenerator();
    const std::uint32_t seed = kestrune_test::testSeed();
    std::uniform_real_distribution<float> amplitude(1e-6f, 100.0f);
    std::uniform_real_distribution<float> samples(-1e6f, 1e6f);
    std::uniform_real_distribution<float> rates(8000.0f, 384000.0f);
    FormattingSpy spy;
    char text[16];
    for (int i = 0; i < 5000; ++i)
    {
        spy.rate = rates(random);
        const float a = amplitude(random);
        float s = samples(random);
        if (s == 0.0f)
            s = 1.0f;  // 0 samples take their own path, tested below
        SCOPED_TRACE(testing::Message() << "amplitude " << a << ", samples " << s << ", rate " << spy.rate
                                        << ", seed " << seed);

        spy.dB2string(a, text, 7);
        ASSERT_TRUE(sameBits(spy.lastValue, static_cast<float>(20.0 * std::log10(static_cast<double>(a)))));
        ASSERT_EQ(spy.lastText, text);
        ASSERT_EQ(spy.lastMaxLen, 7);

        spy.Hz2string(s, text, 6);
        ASSERT_TRUE(sameBits(spy.lastValue, spy.rate / s));  // single precision division
        ASSERT_EQ(spy.lastMaxLen, 6);

        spy.ms2string(s, text, 5);
        ASSERT_TRUE(sameBits(spy.lastValue, static_cast<float>(static_cast<double>(s) * 1000.0 /
                                                               static_cast<double>(spy.rate))));
        ASSERT_EQ(spy.lastMaxLen, 5);
    }
    EXPECT_EQ(spy.calls, 3 * 5000);
}

TEST(UnitConversions, ZeroInputsAndNonPositiveAmplitudes)
{
    FormattingSpy spy;
    char text[16];
    spy.Hz2string(0.0f, text, 8);
    EXPECT_EQ(spy.calls, 1);
    EXPECT_TRUE(sameBits(spy.lastValue, 0.0f)) << "0 samples format 0.0, not rate / 0";

    spy.dB2string(0.0f, text, 8);
    spy.dB2string(-2.0f, text, 8);
    EXPECT_EQ(spy.calls, 1) << "a non-positive amplitude is written as -oo without float2string";
    EXPECT_STREQ(text, "-oo");
}

// --- null text pointers ----------------------------------------------------------------------------

TEST(TextConversions, NullTextPointerIsSurvived)
{
    TextEffect effect;
    effect.float2string(1.5f, nullptr, 8);
    effect.float2string(kInf, nullptr, 8);
    effect.int2string(42, nullptr, 8);
    effect.int2string(100000000, nullptr, 8);
    effect.dB2string(0.0f, nullptr, 8);
    effect.dB2string(2.0f, nullptr, 8);
    effect.Hz2string(100.0f, nullptr, 8);
    effect.ms2string(100.0f, nullptr, 8);

    // The same effect still writes a correct text afterwards.
    SentinelBuffer buffer;
    effect.float2string(1.5f, buffer.data(), 8);
    EXPECT_TRUE(buffer.holds("1.500000", 8));
}

}  // namespace
