// Frames per second of Kestrune's processReplacing, self-keyed and sidechain-keyed, while it
// compresses, beside a plain copy of the same buffers (the floor any effect pays).
#include "VstHost.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace
{
constexpr int kBlock = 512;
constexpr float kRate = 48000.0f;

// Four input channels of a loud stereo chord and a pulsing key, two output channels.
struct Buffers
{
    std::vector<float> channels[6];
    float* inputs[4];
    float* outputs[2];

    Buffers()
    {
        for (auto& channel : channels)
            channel.resize(kBlock);
        for (int i = 0; i < kBlock; i++)
        {
            const double t = i / static_cast<double>(kRate);
            channels[0][i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 110.0 * t));
            channels[1][i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 164.8 * t));
            channels[2][i] = static_cast<float>(0.9 * std::sin(2.0 * M_PI * 55.0 * t) * std::exp(-40.0 * t));
            channels[3][i] = channels[2][i];
        }
        for (int c = 0; c < 4; c++)
            inputs[c] = channels[c].data();
        outputs[0] = channels[4].data();
        outputs[1] = channels[5].data();
    }
};

void PlainCopy(benchmark::State& state)
{
    Buffers buffers;
    for (auto _ : state)
    {
        std::memcpy(buffers.outputs[0], buffers.inputs[0], kBlock * sizeof(float));
        std::memcpy(buffers.outputs[1], buffers.inputs[1], kBlock * sizeof(float));
        benchmark::DoNotOptimize(buffers.outputs[0][0]);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}

void Kestrune(benchmark::State& state)
{
    const bool sidechain = state.range(0) != 0;
    khost::PluginInstance instance(khost::PluginModule::load(KESTRUNE_MODULE_PATH));
    instance.start(kRate, kBlock);
    // 4:1 at -30 dB with fast times, so the gain computer is busy on every frame.
    instance.setParameter("Attack", 0.01f);
    instance.setParameter("Release", 0.1f);
    instance.setParameter("Ratio", 1.0f / 3.0f);
    instance.setParameter("Thresh", 0.316f);
    instance.setParameter("use SC", sidechain ? 1.0f : 0.0f);
    Buffers buffers;
    for (auto _ : state)
    {
        instance.process(buffers.inputs, buffers.outputs, kBlock);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
    state.SetLabel(sidechain ? "sidechain-keyed, frames/s" : "self-keyed, frames/s");
}
}  // namespace

BENCHMARK(PlainCopy);
BENCHMARK(Kestrune)->Arg(0)->Arg(1);
BENCHMARK_MAIN();
