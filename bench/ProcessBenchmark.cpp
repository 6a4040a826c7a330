// Time per frame of Kestrune's processReplacing, through the built module as a host drives it,
// beside the straightforward per-frame loop, a plain gain loop and the installed peer compressors,
// all on the same buffers with the same settings, in one run. Prints the median line of each
// and then one table of ns/frame and ratios (the best of the repetitions of each case).
//
// Cases, by what keys the compressor: music that stays above the threshold, music whose bass
// crosses zero (about 5 % of the keys below the threshold, a few in almost every block), silence,
// the release tail while the gain still moves (1 s of music, then the 2 s of silence that follow
// it, timed) and the whole release tail (the 10 s of silence after 1 s of music). Self-keyed for
// everything; sidechain-keyed for Kestrune and the baseline loop, whose main pair carries other
// music meanwhile. Peers take their key from their own input.
#include "BenchProcessors.h"
#include "BenchSignals.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace
{

using namespace kbench;

enum class KeyKind
{
    Music,
    Crossing,
    Silence,
    Moving,
    Tail
};

constexpr KeyKind kKinds[] = {KeyKind::Music, KeyKind::Crossing, KeyKind::Silence, KeyKind::Moving, KeyKind::Tail};

const char* kindName(KeyKind kind)
{
    switch (kind)
    {
    case KeyKind::Music: return "music";
    case KeyKind::Crossing: return "bass crossing zero";
    case KeyKind::Silence: return "silence";
    case KeyKind::Moving: return "release, first 2 s";
    case KeyKind::Tail: return "release tail";
    }
    return "";
}

constexpr std::size_t kMusicFrames = 10 * std::size_t(kSampleRate);
constexpr std::size_t kLeadInFrames = std::size_t(kSampleRate);
constexpr std::size_t kTailFrames = 10 * std::size_t(kSampleRate);
constexpr std::size_t kMovingFrames = 2 * std::size_t(kSampleRate);

bool isTail(KeyKind kind)
{
    return kind == KeyKind::Moving || kind == KeyKind::Tail;
}

std::size_t tailFrames(KeyKind kind)
{
    return kind == KeyKind::Moving ? kMovingFrames : kTailFrames;
}

struct Signals
{
    StereoSignal music = makeMusic(kMusicFrames, kMusicSeed);
    StereoSignal crossing = makeMusic(kMusicFrames, kMusicSeed, true);
    StereoSignal other = makeMusic(kMusicFrames, kSidechainSeed);  // main pair while a sidechain keys
    std::vector<float> zeros = std::vector<float>(kBlock, 0.0f);
    std::vector<float> out1 = std::vector<float>(kBlock, 0.0f);
    std::vector<float> out2 = std::vector<float>(kBlock, 0.0f);
};

Signals& signals()
{
    static Signals shared;
    return shared;
}

// Feeds one block: the key signal goes to the main pair (self-keyed) or to the sidechain pair,
// with other music on the main pair.
void feed(Processor& processor, const float* keyLeft, const float* keyRight, std::size_t otherAt)
{
    Signals& s = signals();
    if (processor.keysFromSidechain())
        processor.process(&s.other.left[otherAt], &s.other.right[otherAt], keyLeft, keyRight, s.out1.data(),
                          s.out2.data(), kBlock);
    else
        processor.process(keyLeft, keyRight, s.zeros.data(), s.zeros.data(), s.out1.data(), s.out2.data(), kBlock);
}

void runCase(benchmark::State& state, Processor& processor, KeyKind kind)
{
    Signals& s = signals();
    processor.reset();
    std::size_t at = 0;
    const auto next = [&at] {
        const std::size_t here = at;
        at = (at + kBlock + kBlock <= kMusicFrames) ? at + kBlock : 0;
        return here;
    };
    if (kind == KeyKind::Music || kind == KeyKind::Crossing)
    {
        const StereoSignal& music = kind == KeyKind::Music ? s.music : s.crossing;
        for (std::size_t i = 0; i < kLeadInFrames; i += kBlock)  // into compression first
        {
            const std::size_t block = next();
            feed(processor, &music.left[block], &music.right[block], block);
        }
        for (auto _ : state)
        {
            const std::size_t block = next();
            feed(processor, &music.left[block], &music.right[block], block);
            benchmark::DoNotOptimize(s.out1.data());
            benchmark::ClobberMemory();
        }
        state.SetItemsProcessed(state.iterations() * kBlock);
    }
    else if (kind == KeyKind::Silence)
    {
        for (auto _ : state)
        {
            feed(processor, s.zeros.data(), s.zeros.data(), next());
            benchmark::DoNotOptimize(s.out1.data());
            benchmark::ClobberMemory();
        }
        state.SetItemsProcessed(state.iterations() * kBlock);
    }
    else
    {
        for (auto _ : state)
        {
            state.PauseTiming();
            processor.reset();
            at = 0;
            for (std::size_t i = 0; i < kLeadInFrames; i += kBlock)
            {
                const std::size_t block = next();
                feed(processor, &s.music.left[block], &s.music.right[block], block);
            }
            state.ResumeTiming();
            for (std::size_t i = 0; i < tailFrames(kind); i += kBlock)
                feed(processor, s.zeros.data(), s.zeros.data(), next());
            benchmark::DoNotOptimize(s.out1.data());
            benchmark::ClobberMemory();
        }
        state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(tailFrames(kind)));
    }
}

// Runs a processor and the straightforward loop over the same blocks and says whether every
// output sample has the same bits: the baseline is only a fair baseline if it does the same work.
bool sameOutput(Processor& a, Processor& b, KeyKind kind)
{
    Signals& s = signals();
    a.reset();
    b.reset();
    std::vector<float> a1(kBlock), a2(kBlock);
    const std::size_t frames = isTail(kind) ? kLeadInFrames + tailFrames(kind) : std::size_t(2 * kSampleRate);
    const StereoSignal& music = kind == KeyKind::Crossing ? s.crossing : s.music;
    for (std::size_t at = 0; at + kBlock <= frames; at += kBlock)
    {
        const bool silent = kind == KeyKind::Silence || (isTail(kind) && at >= kLeadInFrames);
        const std::size_t m = at % (kMusicFrames - kBlock);
        const float* keyLeft = silent ? s.zeros.data() : &music.left[m];
        const float* keyRight = silent ? s.zeros.data() : &music.right[m];
        feed(a, keyLeft, keyRight, m);
        std::memcpy(a1.data(), s.out1.data(), kBlock * sizeof(float));
        std::memcpy(a2.data(), s.out2.data(), kBlock * sizeof(float));
        feed(b, keyLeft, keyRight, m);
        if (std::memcmp(a1.data(), s.out1.data(), kBlock * sizeof(float)) != 0 ||
            std::memcmp(a2.data(), s.out2.data(), kBlock * sizeof(float)) != 0)
            return false;
    }
    return true;
}

// One row of the table: a case, and the benchmark name of each column in it.
struct Row
{
    std::string label;
    std::string kestrune;
    std::string straightforward;
    std::string plainGain;
    std::vector<std::string> peers;  // empty name: no such measurement
};

// Keeps the best (lowest) CPU time per frame of each benchmark over its repetitions, and prints
// Google Benchmark's median line of each meanwhile.
class TableReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        std::vector<Run> shown;
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                shown.push_back(run);
        ConsoleReporter::ReportRuns(shown.empty() ? runs : shown);
        for (const Run& run : runs)
        {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0 || run.error_occurred)
                continue;
            const auto items = run.counters.find("items_per_second");
            if (items == run.counters.end() || items->second.value <= 0.0)
                continue;
            // items_per_second is items / CPU time, so this is CPU ns per frame.
            const double nsPerFrame = 1e9 / items->second.value;
            const std::string name = run.run_name.function_name;
            auto found = m_best.find(name);
            if (found == m_best.end() || nsPerFrame < found->second)
                m_best[name] = nsPerFrame;
        }
    }

    double best(const std::string& name) const
    {
        const auto found = m_best.find(name);
        return found == m_best.end() ? -1.0 : found->second;
    }

private:
    std::map<std::string, double> m_best;
};

void printTable(const TableReporter& reporter, const std::vector<Row>& rows, const std::vector<std::string>& peerNames)
{
    std::printf("\nns per frame (best of the repetitions), and ratios in this run:\n");
    std::printf("  straightforward / Kestrune: how many times faster Kestrune is than the per-frame loop\n");
    std::printf("  Kestrune / plain gain: how far Kestrune is from the copy limit\n");
    std::printf("  peer / Kestrune: how many times longer the peer takes than Kestrune\n\n");
    std::printf("%-34s %10s %16s %9s %12s %9s", "case", "Kestrune", "straightforward", "ratio", "plain gain",
                "ratio");
    for (const std::string& peer : peerNames)
        std::printf(" | %26s", peer.c_str());
    std::printf("\n");
    for (const Row& row : rows)
    {
        const double k = reporter.best(row.kestrune);
        const double s = reporter.best(row.straightforward);
        const double g = reporter.best(row.plainGain);
        if (k <= 0.0 || s <= 0.0)
            continue;  // not run (--benchmark_filter)
        std::printf("%-34s %10.2f %16.2f %8.1fx", row.label.c_str(), k, s, s / k);
        if (g > 0.0)
            std::printf(" %12.2f %8.1fx", g, k / g);
        else
            std::printf(" %12s %9s", "-", "-");
        for (const std::string& peer : row.peers)
        {
            const double p = peer.empty() ? -1.0 : reporter.best(peer);
            if (p > 0.0)
                std::printf(" | %12.2f ns %10.2fx", p, p / k);
            else
                std::printf(" | %26s", "-");
        }
        std::printf("\n");
    }
}

}  // namespace

int main(int argc, char** argv)
{
    // Defaults for a noisy shared machine: several short repetitions, interleaved across cases, so
    // every ratio compares runs taken at about the same time. Arguments given override them.
    std::vector<char*> arguments(argv, argv + argc);
    char repetitions[] = "--benchmark_repetitions=5";
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    char minTime[] = "--benchmark_min_time=0.1";
    arguments.insert(arguments.begin() + 1, {repetitions, interleave, minTime});
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data()))
        return 1;

    std::vector<std::unique_ptr<Processor>> owned;
    const auto keep = [&owned](std::unique_ptr<Processor> processor) {
        owned.push_back(std::move(processor));
        return owned.back().get();
    };
    Processor* kestrune = keep(makeKestrune(kestruneModulePath(), false));
    Processor* kestruneSidechain = keep(makeKestrune(kestruneModulePath(), true));
    Processor* straightforward = keep(makeStraightforward(false));
    Processor* straightforwardSidechain = keep(makeStraightforward(true));
    Processor* plainGain = keep(makePlainGain());

    std::printf("48 kHz, blocks of %d frames, threshold %.0f dB, %.0f:1, attack %.0f ms, release %.0f ms\n", kBlock,
                kThresholdDB, kRatio, kAttackMs, kReleaseMs);
    for (const StereoSignal* music : {&signals().music, &signals().crossing})
        std::printf("%s: %zu of %zu frames have a key at or below the threshold\n",
                    music == &signals().music ? kindName(KeyKind::Music) : kindName(KeyKind::Crossing),
                    framesBelow(*music, kThresholdDB), music->frames());
    for (Processor* processor : {kestrune, kestruneSidechain})
    {
        std::printf("%s:", processor->name().c_str());
        for (const std::string& shown : processor->settingsShown())
            std::printf("  %s", shown.c_str());
        std::printf("\n");
    }

    std::vector<Processor*> peers;
    std::vector<std::string> peerNames;
    for (const PeerModule& module : knownPeers())
    {
        std::string why;
        std::unique_ptr<Processor> peer = makePeer(module, why);
        peerNames.push_back(module.label);
        if (peer == nullptr)
        {
            std::printf("%s: %s\n", module.label.c_str(), why.c_str());
            peers.push_back(nullptr);
            continue;
        }
        std::printf("%s:", module.label.c_str());
        for (const std::string& shown : peer->settingsShown())
            std::printf("  %s", shown.c_str());
        std::printf("\n");
        peers.push_back(keep(std::move(peer)));
    }

    for (KeyKind kind : kKinds)
    {
        for (auto pair : {std::make_pair(kestrune, straightforward),
                          std::make_pair(kestruneSidechain, straightforwardSidechain)})
        {
            const bool same = sameOutput(*pair.first, *pair.second, kind);
            std::printf("%s, %s: output %s the straightforward loop's\n", pair.first->name().c_str(),
                        kindName(kind), same ? "has the same bits as" : "DIFFERS from");
            if (!same)
                return 1;
        }
    }
    std::printf("\n");
    std::fflush(stdout);

    std::vector<Row> rows;
    const auto add = [](Processor* processor, KeyKind kind) {
        const std::string name = processor->name() + " / " + kindName(kind);
        benchmark::RegisterBenchmark(name.c_str(), [processor, kind](benchmark::State& state) {
            runCase(state, *processor, kind);
        })->Unit(benchmark::kMicrosecond);
        return name;
    };
    // The plain gain loop costs the same whatever the samples are: measured once, shown in every row.
    const std::string plainGainName = add(plainGain, KeyKind::Music);
    for (KeyKind kind : kKinds)
    {
        Row self{std::string("self-keyed ") + kindName(kind), add(kestrune, kind), add(straightforward, kind),
                 plainGainName, {}};
        for (Processor* peer : peers)
            self.peers.push_back(peer != nullptr ? add(peer, kind) : std::string());
        rows.push_back(self);
        Row side{std::string("sidechain-keyed ") + kindName(kind), add(kestruneSidechain, kind),
                 add(straightforwardSidechain, kind), plainGainName,
                 std::vector<std::string>(peers.size())};
        rows.push_back(side);
    }

    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printTable(reporter, rows, peerNames);
    benchmark::Shutdown();
    return 0;
}
