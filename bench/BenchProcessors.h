// What the speed measurements run, behind one interface: Kestrune and the installed peer
// compressors through the host library, exactly as a host drives them, and the in-process
// baselines (the straightforward per-frame loop, a plain gain loop). All are set to the shared
// settings of BenchSignals.h.
#pragma once

#include "BenchSignals.h"
#include "StraightforwardLoop.h"
#include "VstHost.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kbench
{

class Processor
{
public:
    virtual ~Processor() = default;

    const std::string& name() const { return m_name; }
    // Whether the key can come from a sidechain pair (only Kestrune and the baseline loop here).
    virtual bool keysFromSidechain() const { return false; }
    // Channels it writes: 2, or 1 for a mono effect (which reads only in1 and writes only out1).
    virtual int outputChannels() const { return 2; }
    // Back to rest, as at the start of a stream.
    virtual void reset() = 0;
    // frames is at most kBlock. sc1 and sc2 are read only when keyed from the sidechain.
    virtual void process(const float* in1, const float* in2, const float* sc1, const float* sc2, float* out1,
                         float* out2, int frames) = 0;
    // The settings as the effect displays them, one "name = text" per parameter that was set.
    const std::vector<std::string>& settingsShown() const { return m_shown; }

protected:
    explicit Processor(std::string name) : m_name(std::move(name)) {}
    std::vector<std::string> m_shown;

private:
    std::string m_name;
};

// The module the measurements load as Kestrune: the one built beside them, or the file that the
// environment variable KESTRUNE_BENCH_MODULE names (to measure another build side by side).
std::string kestruneModulePath();
// Kestrune through its module; useSidechain picks the key.
std::unique_ptr<Processor> makeKestrune(const std::string& modulePath, bool useSidechain);
// The straightforward per-frame loop of StraightforwardLoop.h with Kestrune's settings.
std::unique_ptr<Processor> makeStraightforward(bool useSidechain);
// out = in * 0.5 on each channel: the least any effect that touches every sample costs.
std::unique_ptr<Processor> makePlainGain();
// Touches no sample: the cost of the measuring harness itself.
std::unique_ptr<Processor> makeNothing();

// A compressor installed from a distribution package, with the names of its four parameters.
struct PeerModule
{
    std::string label;
    std::string path;
    std::string threshold;
    std::string ratio;
    std::string attack;
    std::string release;
};

// The stereo and mono compressors this machine may have (zam-plugins, lsp-plugins-vst).
std::vector<PeerModule> knownPeers();
// Loads and configures a peer, or returns null and sets why when it is not installed or cannot be
// driven. The key is its own input (no sidechain).
std::unique_ptr<Processor> makePeer(const PeerModule& peer, std::string& why);

}  // namespace kbench
