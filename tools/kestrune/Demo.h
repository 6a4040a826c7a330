// `kestrune demo`: a 16-second example synthesised here, deterministically, with nothing
// downloaded or bundled, rendered self-keyed and keyed by its kick drum.
#pragma once

#include "Cli.h"

#include <vector>

namespace kestrune
{

constexpr int kDemoSampleRate = 48000;
constexpr double kDemoSeconds = 16.0;

// The same samples on every run: no randomness, fixed phases, double arithmetic throughout.
struct DemoSignals
{
    std::vector<float> mainLeft;   // sustained bass and pad, Am F C G, two seconds each, twice; peak -6 dBFS
    std::vector<float> mainRight;
    std::vector<float> kick;       // mono, one kick on every beat; peak -3 dBFS
};

DemoSignals synthesiseDemo();

// Writes music.wav, kick.wav, self-keyed.wav, sidechain-keyed.wav, their two pictures, curve.png
// and summary.txt into the folder (created when missing), all or none, and prints the summary.
void runDemo(const Options& options);

}  // namespace kestrune
