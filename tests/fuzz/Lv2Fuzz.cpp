// libFuzzer target for the LV2 edition: drives the plug-in through its descriptor as a host would,
// with control values that are NaN, infinite, out of range or any bit pattern, blocks of 0 to 4096
// frames, audio that is clean or any bit pattern, buffers shared between inputs and outputs, an
// unconnected sidechain and reactivation. Built with AddressSanitizer and UBSan; it traps when
//   - gain_reduction is NaN or outside 0..120 dB;
//   - a frame whose main input is finite and within +-1e30 comes out non-finite, or louder than its
//     input times the largest makeup (+18 dB): the compressor only ever reduces.
#include <lv2/core/lv2.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

extern "C" const LV2_Descriptor* lv2_descriptor(std::uint32_t index);

namespace
{

constexpr std::uint32_t kControls = 6;
constexpr std::uint32_t kFirstControl = 6;
constexpr std::uint32_t kMeter = 12;
constexpr std::uint32_t kLongestBlock = 4096;
constexpr float kCleanLimit = 1e30f;
constexpr double kLargestGain = 7.943282347242815 * 1.000001;  // +18 dB, with room for rounding

// Reads the input front to back; past its end every read is 0.
class Reader
{
public:
    Reader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool more() const { return m_position < m_size; }
    std::uint8_t byte() { return m_position < m_size ? m_data[m_position++] : 0; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | (byte() << 8)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(u16()) | (static_cast<std::uint32_t>(u16()) << 16); }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
};

float fromBits(std::uint32_t bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// A control value as a careless or hostile host might write it.
float controlValue(Reader& in, float current)
{
    static const float kSpecial[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                                     -std::numeric_limits<float>::infinity(), -0.0f, 1e30f, -1e30f,
                                     std::numeric_limits<float>::denorm_min(), 0.5f};
    const std::uint8_t mode = in.byte();
    switch (mode % 4)
    {
    case 0: return current;
    case 1: return kSpecial[(mode / 4) % (sizeof kSpecial / sizeof kSpecial[0])];
    case 2: return fromBits(in.u32());
    default: return -150.0f + 700.0f * static_cast<float>(in.u16()) / 65535.0f;  // spans every range and beyond
    }
}

// One channel pair of a block, from a small recipe: silence, noise at a level, a square wave, or
// raw bit patterns (NaN, infinities and subnormals included).
struct Recipe
{
    std::uint8_t kind;
    float level;
    std::uint32_t seed;
    bool dirty() const { return kind % 4 == 3; }
};

Recipe recipe(Reader& in)
{
    Recipe r;
    r.kind = in.byte();
    r.level = std::pow(10.0f, (static_cast<float>(in.byte()) - 180.0f) / 20.0f);  // -180 .. +75 dB
    r.seed = in.u32();
    return r;
}

void fill(const Recipe& r, float* left, float* right, std::uint32_t frames)
{
    std::uint32_t state = r.seed | 1u;
    const auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    for (std::uint32_t i = 0; i < frames; i++)
    {
        switch (r.kind % 4)
        {
        case 0: left[i] = right[i] = 0.0f; break;
        case 1:
            left[i] = r.level * (static_cast<float>(next() >> 8) / 8388608.0f - 1.0f);
            right[i] = r.level * (static_cast<float>(next() >> 8) / 8388608.0f - 1.0f);
            break;
        case 2:
            left[i] = (i / 37) % 2 ? r.level : -r.level;
            right[i] = 0.5f * left[i];
            break;
        default:
            left[i] = fromBits(next());
            right[i] = fromBits(next());
            break;
        }
    }
}

// Says which property broke, then traps so libFuzzer keeps the input.
[[noreturn]] void fail(const char* what, double value)
{
    std::fprintf(stderr, "Lv2Fuzz: %s (%.9g)\n", what, value);
    __builtin_trap();
}

bool clean(float sample)
{
    return std::isfinite(sample) && std::fabs(sample) <= kCleanLimit;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Reader in(data, size);
    static const double kRates[] = {8000.0, 22050.0, 44100.0, 48000.0, 88200.0, 96000.0, 192000.0, 384000.0};
    const std::uint8_t rateChoice = in.byte();
    const double rate = rateChoice < 128 ? kRates[rateChoice % 8] : 8000.0 + 376000.0 * in.u16() / 65535.0;

    const LV2_Descriptor* descriptor = lv2_descriptor(0);
    if (descriptor == nullptr || lv2_descriptor(1) != nullptr)
        fail("the module must describe exactly one plug-in", 0);
    LV2_Handle plugin = descriptor->instantiate(descriptor, rate, "/nonexistent/", nullptr);
    if (plugin == nullptr)
        fail("refused a supported sample rate", rate);

    float controls[kControls] = {10.0f, 100.0f, 1.0f, 0.0f, 0.0f, 0.0f};
    float meter = 0.0f;
    for (std::uint32_t c = 0; c < kControls; c++)
        descriptor->connect_port(plugin, kFirstControl + c, &controls[c]);
    descriptor->connect_port(plugin, kMeter, &meter);
    std::vector<float> buffers[6];
    for (auto& buffer : buffers)
        buffer.resize(kLongestBlock);
    std::vector<float> mainCopy[2] = {std::vector<float>(kLongestBlock), std::vector<float>(kLongestBlock)};
    descriptor->activate(plugin);

    for (int block = 0; block < 64 && in.more(); block++)
    {
        const std::uint8_t flags = in.byte();
        if (flags & 1u)
        {
            if (descriptor->deactivate != nullptr)
                descriptor->deactivate(plugin);
            descriptor->activate(plugin);
        }
        for (std::uint32_t c = 0; c < kControls; c++)
            controls[c] = controlValue(in, controls[c]);
        const std::uint32_t frames = in.u16() % (kLongestBlock + 1);
        const Recipe mainRecipe = recipe(in);
        const Recipe keyRecipe = recipe(in);
        fill(mainRecipe, buffers[0].data(), buffers[1].data(), frames);
        fill(keyRecipe, buffers[2].data(), buffers[3].data(), frames);
        std::copy(buffers[0].begin(), buffers[0].begin() + frames, mainCopy[0].begin());
        std::copy(buffers[1].begin(), buffers[1].begin() + frames, mainCopy[1].begin());

        // Outputs apart, over the main inputs, or over the sidechain inputs.
        float* out[2] = {buffers[4].data(), buffers[5].data()};
        if (flags & 2u)
        {
            out[0] = buffers[(flags & 4u) ? 2 : 0].data();
            out[1] = buffers[(flags & 4u) ? 3 : 1].data();
        }
        const bool keyUnconnected = (flags & 8u) != 0 && !(flags & 2u && flags & 4u);
        for (std::uint32_t port = 0; port < 4; port++)
            descriptor->connect_port(plugin, port, keyUnconnected && port >= 2 ? nullptr : buffers[port].data());
        descriptor->connect_port(plugin, 4, out[0]);
        descriptor->connect_port(plugin, 5, out[1]);

        meter = std::numeric_limits<float>::quiet_NaN();
        descriptor->run(plugin, frames);

        if (!(meter >= 0.0f && meter <= 120.0f))
            fail("gain_reduction outside 0..120 dB", meter);
        for (std::uint32_t i = 0; i < frames; i++)
        {
            for (int c = 0; c < 2; c++)
            {
                const float input = mainCopy[c][i];
                if (!clean(input))
                    continue;
                const float output = out[c][i];
                if (!std::isfinite(output))
                    fail("non-finite output from a clean input", output);
                // A subnormal result is rounded to a multiple of the smallest subnormal.
                const double bound = std::fabs(static_cast<double>(input)) * kLargestGain +
                                     static_cast<double>(std::numeric_limits<float>::denorm_min());
                if (std::fabs(static_cast<double>(output)) > bound)
                    fail("output louder than the input with the largest makeup", output / input);
            }
        }
    }
    descriptor->cleanup(plugin);
    return 0;
}
