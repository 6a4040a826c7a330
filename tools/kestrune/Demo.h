// `kestrune demo`: a 16-second example synthesised here, deterministically, with nothing
// downloaded or bundled, rendered self-keyed and keyed by its kick drum.
#pragma once

#include "Cli.h"

#include <vector>

namespace kestrune
{

constexpr int kDemoSampleRate = 48000;
constexpr double kDemoSeconds = 16.0;
constexpr double kDemoTempoBpm = 120.0;

struct DemoSignals
{
    int sampleRate;
    std::vector<float> mainLeft;   // sustained bass and pad: Am F C G, two seconds each, twice
    std::vector<float> mainRight;
    std::vector<float> kick;       // mono, one kick on every beat
};

// The same samples on every run: no randomness, fixed phases, double arithmetic throughout.
// The main signal peaks at -6 dBFS and the kick at -3 dBFS.
DemoSignals synthesiseDemo(int sampleRate);

// Writes music.wav, kick.wav, self-keyed.wav, sidechain-keyed.wav, their two pictures, curve.png
// and summary.txt into the folder (created when missing), all or none, and prints the summary.
void runDemo(const Options& options);

}  // namespace kestrune
