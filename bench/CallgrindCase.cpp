// One measured case for scripts/callgrind.sh: runs a fixed lead-in, then BLOCKS blocks of the case
// through one processor, and exits. The script runs it under callgrind with N and 2N blocks and
// divides the difference of the two instruction totals by N blocks of frames, so the lead-in, the
// signal synthesis and loading the module cancel out. Everything outside the measured blocks
// therefore costs the same whatever BLOCKS is.
//
//   kestrune_callgrind_case PROCESSOR CASE BLOCKS
//   PROCESSOR: kestrune | lv2 | straightforward | plain-gain | lsp | zamx2 | zam | nothing
//   (lv2 is Kestrune's LV2 run with its meters; nothing processes no sample: what remains of the
//   harness per frame)
//   CASE:      music | crossing | silence | moving | tail
//   BLOCKS:    0 (the lead-in alone) up to 400
//
// music:    1 s of music, then the measured blocks continue it (the key stays above the threshold).
// crossing: the same with the music whose bass crosses zero (about 5 % of the keys quiet).
// silence:  the measured blocks are zeros from rest.
// moving:   1 s of music, then the measured blocks are the zeros that follow it, while the release
//           still moves the gain (the script measures blocks 0 .. 2 s).
// tail:     1 s of music, then zeros until Kestrune's gain is exactly 1.0 in every later frame; the
//           measured blocks are more zeros, ending before the envelope comes to a standstill, so
//           each of them still moves the envelope.
#include "BenchProcessors.h"
#if KESTRUNE_BENCH_LV2
#include "BenchLv2.h"
#endif
#include "BenchSignals.h"
#include "DynamicsReference.h"
#include "KestruneParameters.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace
{

using namespace kbench;

constexpr int kMaxBlocks = 400;                           // the script uses at most this many
constexpr std::size_t kLeadIn = std::size_t(kSampleRate);  // 1 s
constexpr std::size_t kTailModelFrames = 13 * std::size_t(kSampleRate);

std::unique_ptr<Processor> makeProcessor(const std::string& name)
{
    if (name == "kestrune")
        return makeKestrune(kestruneModulePath(), false);
#if KESTRUNE_BENCH_LV2
    if (name == "lv2")
        return makeKestruneLv2(kestruneLv2ModulePath(), false);
#endif
    if (name == "straightforward")
        return makeStraightforward(false);
    if (name == "plain-gain")
        return makePlainGain();
    if (name == "nothing")
        return makeNothing();
    const std::vector<PeerModule> peers = knownPeers();
    const char* keys[] = {"lsp", "zamx2", "zam"};
    for (std::size_t i = 0; i < peers.size(); i++)
    {
        if (name == keys[i])
        {
            std::string why;
            std::unique_ptr<Processor> peer = makePeer(peers[i], why);
            if (peer == nullptr)
            {
                std::fprintf(stderr, "%s: %s\n", peers[i].label.c_str(), why.c_str());
                std::exit(3);
            }
            return peer;
        }
    }
    std::fprintf(stderr, "unknown processor %s\n", name.c_str());
    std::exit(2);
}

// Frames of zeros after the lead-in of music from which Kestrune's gain is exactly 1.0 in every
// frame (first), and from which its envelope no longer moves (still), by the reference model of
// the gain computer run over the same signal.
void tailPhases(const StereoSignal& music, std::size_t& first, std::size_t& still)
{
    using namespace VAZiro;
    dynref::Compressor model;
    model.setRate(kAttackMs, kReleaseMs, kSampleRate);
    model.thresholdDB = thresholdFromNormalised(thresholdToNormalised(kThresholdDB));
    model.slope = 1.0 / static_cast<double>(ratioFromNormalised(ratioToNormalised(kbench::kRatio)));
    for (std::size_t i = 0; i < kLeadIn; i++)
        model.gain(dynref::Compressor::link(music.left[i], music.right[i]));
    first = 0;
    still = kTailModelFrames;
    for (std::size_t i = 0; i < kTailModelFrames; i++)
    {
        const double before = model.envelope;
        if (model.gain(0.0) != 1.0)
            first = i + 1;
        if (model.envelope == before && still == kTailModelFrames)
            still = i;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
    {
        std::fprintf(stderr, "usage: %s PROCESSOR music|crossing|silence|moving|tail BLOCKS\n", argv[0]);
        return 2;
    }
    const std::string caseName = argv[2];
    const int blocks = std::atoi(argv[3]);
    const bool known = caseName == "music" || caseName == "crossing" || caseName == "silence" ||
                       caseName == "moving" || caseName == "tail";
    if (blocks < 0 || blocks > kMaxBlocks || !known)
    {
        std::fprintf(stderr, "bad case or block count (0..%d)\n", kMaxBlocks);
        return 2;
    }
    std::unique_ptr<Processor> processor = makeProcessor(argv[1]);

    // Synthesised in full whatever the block count, so its cost cancels out.
    const StereoSignal music =
        makeMusic(kLeadIn + std::size_t(kMaxBlocks) * kBlock, kMusicSeed, caseName == "crossing");
    const std::vector<float> zeros(kBlock, 0.0f);
    std::vector<float> out1(kBlock);
    std::vector<float> out2(kBlock);
    auto run = [&](const float* left, const float* right) {
        processor->process(left, right, zeros.data(), zeros.data(), out1.data(), out2.data(), kBlock);
    };

    std::size_t first = 0;
    std::size_t still = 0;
    if (caseName == "tail" || caseName == "moving")
        tailPhases(music, first, still);
    if (caseName == "moving" && std::size_t(blocks) * kBlock > first)
    {
        std::fprintf(stderr, "the moving window reaches gain 1.0 (%zu > %zu frames)\n", std::size_t(blocks) * kBlock,
                     first);
        return 4;
    }

    // Lead-in: the same work for every block count.
    if (caseName != "silence")
        for (std::size_t at = 0; at + kBlock <= kLeadIn; at += kBlock)
            run(&music.left[at], &music.right[at]);
    std::size_t tailStart = 0;
    if (caseName == "tail")
    {
        tailStart = (first + kBlock - 1) / kBlock * kBlock;
        const std::size_t end = tailStart + std::size_t(kMaxBlocks) * kBlock;
        if (end > still)
        {
            std::fprintf(stderr, "the tail window ends after the envelope stops (%zu > %zu)\n", end, still);
            return 4;
        }
        for (std::size_t at = 0; at < tailStart; at += kBlock)
            run(zeros.data(), zeros.data());
    }

    // The measured blocks.
    for (int block = 0; block < blocks; block++)
    {
        if (caseName == "music" || caseName == "crossing")
        {
            const std::size_t at = kLeadIn + std::size_t(block) * kBlock;
            run(&music.left[at], &music.right[at]);
        }
        else
        {
            run(zeros.data(), zeros.data());
        }
    }

    std::printf("processor=%s case=%s blocks=%d", processor->name().c_str(), caseName.c_str(), blocks);
    if (caseName == "moving")
        std::printf(" gain-one-from=%.3fs window=0s..%.3fs", first / kSampleRate,
                    (std::size_t(blocks) * kBlock) / kSampleRate);
    if (caseName == "tail")
        std::printf(" gain-one-from=%.3fs still-from=%.3fs window=%.3fs..%.3fs", first / kSampleRate,
                    still / kSampleRate, tailStart / kSampleRate,
                    (tailStart + std::size_t(blocks) * kBlock) / kSampleRate);
    std::printf(" out=%a\n", static_cast<double>(out1[kBlock - 1]));
    for (const std::string& shown : processor->settingsShown())
        std::printf("  %s\n", shown.c_str());
    return 0;
}
