// The built Kestrune module, loaded and driven through the host library exactly as a host does:
// the record it hands out, its parameters through the record, its audio path as a black box, several
// instances at once, and the faults it mends (values outside 0..1, NaN, unusable sample rates,
// empty or missing buffers). Random signals are seeded; set KESTRUNE_TEST_SEED to replay a run.
#include "Bits.h"
#include "ParameterFacts.h"
#include "TestSeed.h"
#include "VstHost.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace
{

using khost::PluginInstance;
using khost::PluginModule;

const std::string kModulePath = KESTRUNE_MODULE_PATH;

using namespace kref;
constexpr VstInt32 kNumParams = kParameterCount;

constexpr int kInputs = 4;
constexpr int kOutputs = 2;

using kestrune_test::bitsOf;
using kestrune_test::floatFromBits;

using kestrune_test::seededGenerator;

typedef std::array<std::vector<float>, kInputs> Input;
typedef std::array<std::vector<float>, kOutputs> Output;

// Every finite float is equally likely per bit pattern: all exponents, denormals, both zeros.
float randomFiniteFloat(std::mt19937& rng)
{
    for (;;)
    {
        const float value = floatFromBits(static_cast<std::uint32_t>(rng()));
        if (std::isfinite(value))
            return value;
    }
}

Input randomFiniteInput(std::mt19937& rng, std::size_t frames)
{
    Input input;
    for (auto& channel : input)
    {
        channel.resize(frames);
        for (float& sample : channel)
            sample = randomFiniteFloat(rng);
    }
    return input;
}

// Audio-like noise whose level wanders between silence and full scale, so a compressor keyed by
// it both engages and lets go.
Input randomMusicLikeInput(std::mt19937& rng, std::size_t frames)
{
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::uniform_real_distribution<float> level(0.0f, 1.0f);
    Input input;
    for (auto& channel : input)
    {
        channel.resize(frames);
        float envelope = level(rng);
        for (std::size_t frame = 0; frame < frames; ++frame)
        {
            if (frame % 300 == 0)
                envelope = level(rng) < 0.2f ? 0.0f : level(rng);
            channel[frame] = envelope * noise(rng);
        }
    }
    return input;
}

// Block lengths from 1 to maxBlock that add up to frames.
std::vector<VstInt32> randomBlocks(std::mt19937& rng, std::size_t frames, VstInt32 maxBlock)
{
    std::uniform_int_distribution<VstInt32> length(1, maxBlock);
    std::vector<VstInt32> blocks;
    for (std::size_t done = 0; done < frames;)
    {
        const VstInt32 block = static_cast<VstInt32>(std::min<std::size_t>(length(rng), frames - done));
        blocks.push_back(block);
        done += static_cast<std::size_t>(block);
    }
    return blocks;
}

Output emptyOutput(std::size_t frames)
{
    Output output;
    for (auto& channel : output)
        channel.assign(frames, 0.0f);
    return output;
}

// Processes frames [offset, offset + frames) of input into the same frames of output.
void processSpan(PluginInstance& instance, Input& input, Output& output, std::size_t offset, VstInt32 frames)
{
    float* inputs[kInputs];
    float* outputs[kOutputs];
    for (int channel = 0; channel < kInputs; ++channel)
        inputs[channel] = input[static_cast<std::size_t>(channel)].data() + offset;
    for (int channel = 0; channel < kOutputs; ++channel)
        outputs[channel] = output[static_cast<std::size_t>(channel)].data() + offset;
    instance.process(inputs, outputs, frames);
}

Output render(PluginInstance& instance, Input input, const std::vector<VstInt32>& blocks)
{
    Output output = emptyOutput(input[0].size());
    std::size_t offset = 0;
    for (VstInt32 block : blocks)
    {
        processSpan(instance, input, output, offset, block);
        offset += static_cast<std::size_t>(block);
    }
    return output;
}

::testing::AssertionResult sameBits(const std::vector<float>& actual, const std::vector<float>& expected)
{
    if (actual.size() != expected.size())
        return ::testing::AssertionFailure() << "sizes differ: " << actual.size() << " vs " << expected.size();
    for (std::size_t index = 0; index < actual.size(); ++index)
        if (bitsOf(actual[index]) != bitsOf(expected[index]))
            return ::testing::AssertionFailure()
                   << "first difference at frame " << index << ": " << actual[index] << " (0x" << std::hex
                   << bitsOf(actual[index]) << ") vs " << expected[index] << " (0x" << bitsOf(expected[index])
                   << std::dec << ")";
    return ::testing::AssertionSuccess();
}

bool anyDifference(const std::vector<float>& left, const std::vector<float>& right)
{
    for (std::size_t index = 0; index < left.size(); ++index)
        if (bitsOf(left[index]) != bitsOf(right[index]))
            return true;
    return false;
}

std::unique_ptr<PluginInstance> startedInstance(const std::shared_ptr<PluginModule>& module, float sampleRate = 44100.0f,
                                                VstInt32 blockSize = 512)
{
    auto instance = std::make_unique<PluginInstance>(module);
    instance->start(sampleRate, blockSize);
    return instance;
}

typedef std::array<float, kNumParams> Settings;

void applySettings(PluginInstance& instance, const Settings& settings)
{
    for (VstInt32 index = 0; index < kNumParams; ++index)
        instance.setParameter(index, settings[static_cast<std::size_t>(index)]);
}

// Settings under which the compressor clearly acts on randomMusicLikeInput: -18 dB threshold,
// 5.5:1, short times, a little makeup gain.
Settings compressingSettings(bool useSidechain)
{
    return Settings{0.05f, 0.1f, 0.5f, useSidechain ? 1.0f : 0.0f, 0.5f, 0.6f};
}

Settings randomSettings(std::mt19937& rng, bool useSidechain)
{
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    Settings settings;
    for (float& value : settings)
        value = unit(rng);
    settings[kUseSidechain] = useSidechain ? 1.0f : 0.0f;
    // Keep the threshold above -120 dB so the compressor always has work to do.
    settings[kThreshold] = 0.02f + 0.9f * settings[kThreshold];
    return settings;
}

class KestruneModule : public ::testing::Test
{
protected:
    void SetUp() override { module = PluginModule::load(kModulePath); }

    std::shared_ptr<PluginModule> module;
};

// --- the record -----------------------------------------------------------------------------------

TEST_F(KestruneModule, RecordAfterCreation)
{
    PluginInstance instance(module);
    const AEffect* effect = instance.effect();
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->magic, fourCharId('V', 's', 't', 'P'));
    EXPECT_EQ(effect->numPrograms, 1);
    EXPECT_EQ(effect->numParams, kref::kParameterCount);
    EXPECT_EQ(effect->numInputs, 4);
    EXPECT_EQ(effect->numOutputs, 2);
    EXPECT_EQ(effect->flags, 16);  // replacing processing only: no editor, no doubles, no chunks
    EXPECT_EQ(effect->flags, effFlagsCanReplacing);
    EXPECT_EQ(effect->uniqueID, 0x42524C41);
    EXPECT_EQ(effect->uniqueID, fourCharId('B', 'R', 'L', 'A'));
    EXPECT_EQ(effect->version, 1);
    EXPECT_EQ(bitsOf(effect->__ioRatioDeprecated), bitsOf(1.0f));
    EXPECT_NE(effect->object, nullptr);
    EXPECT_EQ(effect->resvd1, 0);
    EXPECT_EQ(effect->resvd2, 0);
    EXPECT_EQ(effect->initialDelay, 0);
    EXPECT_EQ(effect->__realQualitiesDeprecated, 0);
    EXPECT_EQ(effect->__offQualitiesDeprecated, 0);
    for (std::size_t index = 0; index < sizeof effect->future; ++index)
        EXPECT_EQ(effect->future[index], 0) << "future[" << index << "]";
    EXPECT_NE(effect->dispatcher, nullptr);
    EXPECT_NE(effect->setParameter, nullptr);
    EXPECT_NE(effect->getParameter, nullptr);
    EXPECT_NE(effect->processReplacing, nullptr);
    EXPECT_EQ(effect->user, &instance);  // the host's field, set by the host
}

TEST_F(KestruneModule, EntryAsksTheHostVersionOnceWithoutARecord)
{
    PluginInstance instance(module);
    ASSERT_FALSE(instance.calls().empty());
    EXPECT_EQ(instance.calls().front().opcode, audioMasterVersion);
    EXPECT_EQ(instance.calls().front().effect, nullptr);
    int versionQueriesWithoutRecord = 0;
    for (const khost::HostCall& call : instance.calls())
        if (call.opcode == audioMasterVersion && call.effect == nullptr)
            ++versionQueriesWithoutRecord;
    EXPECT_EQ(versionQueriesWithoutRecord, 1);
}

TEST_F(KestruneModule, EffCloseAnswersOne)
{
    PluginInstance fresh(module);
    EXPECT_EQ(fresh.dispatch(effClose), 1);

    auto running = startedInstance(module);
    running->suspend();
    EXPECT_EQ(running->close(), 1);
    EXPECT_FALSE(running->isOpen());
}

TEST_F(KestruneModule, SeveralInstancesAreIndependent)
{
    std::mt19937 rng = seededGenerator();
    constexpr int kInstances = 4;
    constexpr std::size_t kFrames = 20000;

    std::vector<std::unique_ptr<PluginInstance>> instances;
    std::vector<Settings> settings;
    std::vector<Input> inputs;
    std::vector<Output> outputs;
    for (int index = 0; index < kInstances; ++index)
    {
        instances.push_back(startedInstance(module, 48000.0f, 256));
        settings.push_back(randomSettings(rng, index % 2 == 1));
        inputs.push_back(randomMusicLikeInput(rng, kFrames));
        outputs.push_back(emptyOutput(kFrames));
    }
    for (int index = 0; index < kInstances; ++index)
        for (int other = index + 1; other < kInstances; ++other)
        {
            EXPECT_NE(instances[index]->effect(), instances[other]->effect());
            EXPECT_NE(instances[index]->effect()->object, instances[other]->effect()->object);
        }

    // Setting one instance leaves the others at their defaults.
    applySettings(*instances[0], settings[0]);
    for (int index = 1; index < kInstances; ++index)
        for (VstInt32 parameter = 0; parameter < kNumParams; ++parameter)
            EXPECT_EQ(bitsOf(instances[index]->getParameter(parameter)), kDefaultBits[parameter])
                << "instance " << index << " parameter " << parameter;
    for (int index = 1; index < kInstances; ++index)
        applySettings(*instances[index], settings[index]);

    // Interleaved blocks of different lengths: each instance must produce what it would alone.
    const std::vector<VstInt32> blocks = randomBlocks(rng, kFrames, 600);
    std::vector<std::size_t> offsets(kInstances, 0);
    for (std::size_t step = 0; step < blocks.size(); ++step)
        for (int index = 0; index < kInstances; ++index)
        {
            const VstInt32 block = blocks[(step + static_cast<std::size_t>(index)) % blocks.size()];
            const VstInt32 frames =
                static_cast<VstInt32>(std::min<std::size_t>(static_cast<std::size_t>(block), kFrames - offsets[index]));
            if (frames > 0)
                processSpan(*instances[index], inputs[index], outputs[index], offsets[index], frames);
            offsets[index] += static_cast<std::size_t>(frames);
        }

    for (int index = 0; index < kInstances; ++index)
    {
        auto alone = startedInstance(module, 48000.0f, 256);
        applySettings(*alone, settings[index]);
        const Output expected = render(*alone, inputs[index], randomBlocks(rng, kFrames, 4096));
        for (int channel = 0; channel < kOutputs; ++channel)
        {
            EXPECT_TRUE(sameBits(outputs[index][channel], expected[channel])) << "instance " << index << " channel " << channel;
            EXPECT_TRUE(anyDifference(outputs[index][channel], inputs[index][channel]))
                << "instance " << index << " left its input untouched, so this comparison shows nothing";
        }
    }
}

// --- parameters through the record ----------------------------------------------------------------

TEST_F(KestruneModule, ParameterDefaults)
{
    PluginInstance instance(module);
    AEffect* effect = instance.effect();
    for (VstInt32 index = 0; index < kNumParams; ++index)
        EXPECT_EQ(bitsOf(effect->getParameter(effect, index)), kDefaultBits[index]) << "parameter " << index;
}

TEST_F(KestruneModule, InRangeValuesRoundTripBitForBit)
{
    std::mt19937 rng = seededGenerator();
    PluginInstance instance(module);
    AEffect* effect = instance.effect();
    // Every float in 0..1, denormals included, is a bit pattern from +0 to 1.0.
    std::uniform_int_distribution<std::uint32_t> pattern(0u, bitsOf(1.0f));
    std::vector<float> values = {0.0f, 1.0f, 0.5f, floatFromBits(1u), floatFromBits(bitsOf(1.0f) - 1u),
                                 std::numeric_limits<float>::min(), 0.49999997f};
    for (int count = 0; count < 500; ++count)
        values.push_back(floatFromBits(pattern(rng)));

    for (VstInt32 index = 0; index < kNumParams; ++index)
        for (float value : values)
        {
            effect->setParameter(effect, index, value);
            ASSERT_EQ(bitsOf(effect->getParameter(effect, index)), bitsOf(value))
                << "parameter " << index << " value " << value;
        }
}

TEST_F(KestruneModule, IndicesOutsideTheSixReadZeroAndChangeNothing)
{
    std::mt19937 rng = seededGenerator();
    auto probed = startedInstance(module);
    auto untouched = startedInstance(module);
    const Settings settings = compressingSettings(false);
    applySettings(*probed, settings);
    applySettings(*untouched, settings);

    AEffect* effect = probed->effect();
    const VstInt32 outside[] = {kref::kParameterCount, -1, kref::kParameterCount + 1, 1000,
                                std::numeric_limits<VstInt32>::max(), std::numeric_limits<VstInt32>::min()};
    for (VstInt32 index : outside)
    {
        for (float value : {0.0f, 0.3f, 1.0f})
        {
            effect->setParameter(effect, index, value);
            EXPECT_EQ(effect->getParameter(effect, index), 0.0f) << "index " << index;
        }
    }
    for (VstInt32 index = 0; index < kNumParams; ++index)
        EXPECT_EQ(bitsOf(probed->getParameter(index)), bitsOf(settings[static_cast<std::size_t>(index)]));

    const Input input = randomMusicLikeInput(rng, 8000);
    const std::vector<VstInt32> blocks = randomBlocks(rng, 8000, 512);
    const Output probedOutput = render(*probed, input, blocks);
    const Output expected = render(*untouched, input, blocks);
    for (int channel = 0; channel < kOutputs; ++channel)
        EXPECT_TRUE(sameBits(probedOutput[channel], expected[channel])) << "channel " << channel;
}

TEST_F(KestruneModule, ValuesOutsideZeroToOneAreClamped)
{
    PluginInstance instance(module);
    AEffect* effect = instance.effect();
    const float infinity = std::numeric_limits<float>::infinity();
    const struct
    {
        float given;
        float stored;
    } cases[] = {{1.5f, 1.0f},  {-0.5f, 0.0f},      {1.0000001f, 1.0f}, {-1e-30f, 0.0f},
                 {1e30f, 1.0f}, {-1e30f, 0.0f},     {infinity, 1.0f},   {-infinity, 0.0f}};
    for (VstInt32 index = 0; index < kNumParams; ++index)
        for (const auto& sample : cases)
        {
            effect->setParameter(effect, index, 0.25f);
            effect->setParameter(effect, index, sample.given);
            EXPECT_EQ(effect->getParameter(effect, index), sample.stored)
                << "parameter " << index << " given " << sample.given;
        }
}

TEST_F(KestruneModule, ClampedValuesActLikeTheirLimits)
{
    std::mt19937 rng = seededGenerator();
    // Out-of-range values on one instance, their limits on the other; unclamped, the threshold of
    // -0.5 would be NaN and the attack of -0.5 a negative time.
    const Settings outside = {-0.5f, 1.5f, 1.5f, 2.0f, -0.5f, 1.5f};
    const Settings limits = {0.0f, 1.0f, 1.0f, 1.0f, 0.0f, 1.0f};
    const Settings outsideOther = {2.0f, -3.0f, -0.5f, -1.0f, 4.0f, -0.5f};
    const Settings limitsOther = {1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f};

    for (const auto& pair : {std::make_pair(outside, limits), std::make_pair(outsideOther, limitsOther)})
    {
        auto clamped = startedInstance(module);
        auto reference = startedInstance(module);
        applySettings(*clamped, pair.first);
        applySettings(*reference, pair.second);
        const Input input = randomMusicLikeInput(rng, 6000);
        const std::vector<VstInt32> blocks = randomBlocks(rng, 6000, 300);
        const Output clampedOutput = render(*clamped, input, blocks);
        const Output expected = render(*reference, input, blocks);
        for (int channel = 0; channel < kOutputs; ++channel)
        {
            EXPECT_TRUE(sameBits(clampedOutput[channel], expected[channel])) << "channel " << channel;
            EXPECT_TRUE(anyDifference(clampedOutput[channel], input[channel]));
        }
    }
}

TEST_F(KestruneModule, NaNValuesAreIgnored)
{
    std::mt19937 rng = seededGenerator();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (bool useSidechain : {false, true})
    {
        const Settings settings = compressingSettings(useSidechain);
        auto withNaN = startedInstance(module);
        auto reference = startedInstance(module);
        applySettings(*withNaN, settings);
        applySettings(*reference, settings);

        AEffect* effect = withNaN->effect();
        for (VstInt32 index = 0; index < kNumParams; ++index)
        {
            effect->setParameter(effect, index, nan);
            effect->setParameter(effect, index, -nan);
            EXPECT_EQ(bitsOf(effect->getParameter(effect, index)), bitsOf(settings[static_cast<std::size_t>(index)]))
                << "parameter " << index;
        }

        // A NaN switch would turn the sidechain on and a NaN time would break the compressor.
        const Input input = randomMusicLikeInput(rng, 6000);
        const std::vector<VstInt32> blocks = randomBlocks(rng, 6000, 300);
        const Output output = render(*withNaN, input, blocks);
        const Output expected = render(*reference, input, blocks);
        for (int channel = 0; channel < kOutputs; ++channel)
        {
            EXPECT_TRUE(sameBits(output[channel], expected[channel])) << "channel " << channel << " sidechain " << useSidechain;
            EXPECT_TRUE(anyDifference(output[channel], input[channel]));
        }
    }
}

// --- the audio path ------------------------------------------------------------------------------------

TEST_F(KestruneModule, DefaultsPassTheMainInputBitForBit)
{
    std::mt19937 rng = seededGenerator();
    constexpr std::size_t kFrames = 50000;
    for (float sampleRate : {44100.0f, 96000.0f})
        for (bool useSidechain : {false, true})
        {
            auto instance = startedInstance(module, sampleRate, 1024);
            if (useSidechain)
                instance->setParameter(kUseSidechain, 1.0f);
            const Input input = randomFiniteInput(rng, kFrames);
            const Output output = render(*instance, input, randomBlocks(rng, kFrames, 1024));
            for (int channel = 0; channel < kOutputs; ++channel)
                EXPECT_TRUE(sameBits(output[channel], input[channel]))
                    << "rate " << sampleRate << " sidechain " << useSidechain << " channel " << channel;
        }
}

TEST_F(KestruneModule, InPlaceEqualsOutOfPlace)
{
    std::mt19937 rng = seededGenerator();
    constexpr std::size_t kFrames = 30000;
    for (bool useSidechain : {false, true})
    {
        const Settings settings = randomSettings(rng, useSidechain);
        auto outOfPlace = startedInstance(module);
        auto inPlace = startedInstance(module);
        applySettings(*outOfPlace, settings);
        applySettings(*inPlace, settings);

        const Input input = randomMusicLikeInput(rng, kFrames);
        const std::vector<VstInt32> blocks = randomBlocks(rng, kFrames, 700);
        const Output expected = render(*outOfPlace, input, blocks);

        // The outputs are the main input channels themselves.
        Input shared = input;
        std::size_t offset = 0;
        for (VstInt32 block : blocks)
        {
            float* inputs[kInputs] = {shared[0].data() + offset, shared[1].data() + offset, shared[2].data() + offset,
                                      shared[3].data() + offset};
            float* outputs[kOutputs] = {inputs[0], inputs[1]};
            inPlace->process(inputs, outputs, block);
            offset += static_cast<std::size_t>(block);
        }
        for (int channel = 0; channel < kOutputs; ++channel)
        {
            EXPECT_TRUE(sameBits(shared[channel], expected[channel])) << "sidechain " << useSidechain << " channel " << channel;
            EXPECT_TRUE(anyDifference(expected[channel], input[channel]));
        }
    }
}

TEST_F(KestruneModule, EmptyBlocksAndMissingBuffersWriteNothing)
{
    std::mt19937 rng = seededGenerator();
    constexpr std::size_t kFrames = 4000;
    constexpr float kSentinel = -12345.0f;
    const Settings settings = compressingSettings(true);
    auto probed = startedInstance(module);
    auto reference = startedInstance(module);
    applySettings(*probed, settings);
    applySettings(*reference, settings);

    Input input = randomMusicLikeInput(rng, kFrames);
    Output probedOutput = emptyOutput(kFrames);
    Output expected = emptyOutput(kFrames);
    const std::size_t half = kFrames / 2;
    processSpan(*probed, input, probedOutput, 0, static_cast<VstInt32>(half));
    processSpan(*reference, input, expected, 0, static_cast<VstInt32>(half));

    // Mid-stream, with the envelope in motion: nothing may be written and nothing may change.
    std::vector<float> left(256, kSentinel);
    std::vector<float> right(256, kSentinel);
    float* inputs[kInputs] = {input[0].data() + half, input[1].data() + half, input[2].data() + half,
                              input[3].data() + half};
    float* outputs[kOutputs] = {left.data(), right.data()};
    AEffect* effect = probed->effect();
    for (VstInt32 frames : {0, -1, -256, std::numeric_limits<VstInt32>::min()})
        effect->processReplacing(effect, inputs, outputs, frames);
    effect->processReplacing(effect, nullptr, outputs, 256);
    effect->processReplacing(effect, inputs, nullptr, 256);
    effect->processReplacing(effect, nullptr, nullptr, 256);
    for (std::size_t frame = 0; frame < left.size(); ++frame)
    {
        ASSERT_EQ(bitsOf(left[frame]), bitsOf(kSentinel)) << "left output written at frame " << frame;
        ASSERT_EQ(bitsOf(right[frame]), bitsOf(kSentinel)) << "right output written at frame " << frame;
    }

    processSpan(*probed, input, probedOutput, half, static_cast<VstInt32>(kFrames - half));
    processSpan(*reference, input, expected, half, static_cast<VstInt32>(kFrames - half));
    for (int channel = 0; channel < kOutputs; ++channel)
        EXPECT_TRUE(sameBits(probedOutput[channel], expected[channel])) << "channel " << channel;
}

TEST_F(KestruneModule, UnusableSampleRatesAreIgnored)
{
    std::mt19937 rng = seededGenerator();
    const float unusable[] = {0.0f,
                              -0.0f,
                              -1.0f,
                              -44100.0f,
                              std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::denorm_min()};
    constexpr std::size_t kFrames = 12000;

    for (bool useSidechain : {false, true})
    {
        auto probed = std::make_unique<PluginInstance>(module);
        auto reference = std::make_unique<PluginInstance>(module);
        // Before the first valid rate as well as after it.
        for (float rate : unusable)
            probed->dispatch(effSetSampleRate, 0, 0, nullptr, rate);
        probed->start(48000.0f, 256);
        reference->start(48000.0f, 256);
        const Settings settings = compressingSettings(useSidechain);
        applySettings(*probed, settings);
        applySettings(*reference, settings);

        Input input = randomMusicLikeInput(rng, kFrames);
        Output output = emptyOutput(kFrames);
        Output expected = emptyOutput(kFrames);
        const std::vector<VstInt32> blocks = randomBlocks(rng, kFrames, 500);
        std::size_t offset = 0;
        for (std::size_t step = 0; step < blocks.size(); ++step)
        {
            probed->dispatch(effSetSampleRate, 0, 0, nullptr, unusable[step % (sizeof unusable / sizeof unusable[0])]);
            processSpan(*probed, input, output, offset, blocks[step]);
            processSpan(*reference, input, expected, offset, blocks[step]);
            offset += static_cast<std::size_t>(blocks[step]);
        }
        for (int channel = 0; channel < kOutputs; ++channel)
        {
            EXPECT_TRUE(sameBits(output[channel], expected[channel])) << "sidechain " << useSidechain << " channel " << channel;
            EXPECT_TRUE(anyDifference(expected[channel], input[channel]));
        }
    }
}

}  // namespace
