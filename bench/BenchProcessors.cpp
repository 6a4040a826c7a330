#include "BenchProcessors.h"

#include "KestruneParameters.h"

#include <cmath>
#include <cstdlib>
#include <fstream>

namespace kbench
{

namespace
{

// Any effect loaded through the host library. The inputs are laid out by the effect's count: main
// left and right first, then the sidechain (Kestrune) or silence (peers, whose key is the main
// pair); a mono effect gets the left channel and its extra input silent.
class ModuleProcessor : public Processor
{
public:
    ModuleProcessor(std::string name, const std::string& path)
        : Processor(std::move(name)), m_instance(khost::PluginModule::load(path)), m_silence(kBlock, 0.0f),
          m_spare(kBlock, 0.0f)
    {
        m_instance.start(kSampleRate, kBlock);
    }

    int outputChannels() const override { return m_instance.numOutputs() >= 2 ? 2 : 1; }

    void reset() override
    {
        m_instance.suspend();
        m_instance.resume();
    }

    void process(const float* in1, const float* in2, const float* sc1, const float* sc2, float* out1, float* out2,
                 int frames) override
    {
        float* silence = m_silence.data();
        float* inputs[4] = {const_cast<float*>(in1), const_cast<float*>(in2), silence, silence};
        const int numInputs = m_instance.numInputs();
        if (numInputs == 4 && keysFromSidechain())
        {
            inputs[2] = const_cast<float*>(sc1);
            inputs[3] = const_cast<float*>(sc2);
        }
        else if (numInputs == 2 && outputChannels() == 1)
        {
            inputs[1] = silence;  // mono effect: its second input is the sidechain
        }
        float* outputs[2] = {out1, outputChannels() == 2 ? out2 : m_spare.data()};
        m_instance.process(inputs, outputs, frames);
    }

protected:
    // Sets the parameter called name to the normalised value v and notes what it displays.
    void setAndShow(const std::string& name, float v)
    {
        m_instance.setParameter(name, v);
        m_shown.push_back(name + " = " + m_instance.parameterDisplay(m_instance.parameterIndex(name)));
    }

    khost::PluginInstance m_instance;

private:
    std::vector<float> m_silence;
    std::vector<float> m_spare;
};

class KestruneProcessor : public ModuleProcessor
{
public:
    KestruneProcessor(const std::string& path, bool useSidechain)
        : ModuleProcessor(useSidechain ? "Kestrune, sidechain-keyed" : "Kestrune", path), m_useSidechain(useSidechain)
    {
        using namespace VAZiro;
        setAndShow("Attack", attackToNormalised(kAttackMs));
        setAndShow("Release", releaseToNormalised(kReleaseMs));
        setAndShow("Ratio", ratioToNormalised(kRatio));
        setAndShow("Thresh", thresholdToNormalised(kThresholdDB));
        setAndShow("Makeup", makeupToNormalised(0.0f));
        setAndShow("use SC", useSidechainToNormalised(useSidechain));
    }

    bool keysFromSidechain() const override { return m_useSidechain; }

private:
    bool m_useSidechain;
};

// Peers do not publish their mappings, so each value is found through the effect's own display:
// bisection on the normalised value until the displayed number is the nearest to the target.
class PeerProcessor : public ModuleProcessor
{
public:
    PeerProcessor(const PeerModule& peer) : ModuleProcessor(peer.label, peer.path)
    {
        setToValue(peer.threshold, kThresholdDB);
        setToValue(peer.ratio, kRatio);
        setToValue(peer.attack, kAttackMs);
        setToValue(peer.release, kReleaseMs);
    }

private:
    double shownValue(VstInt32 index)
    {
        const std::string text = m_instance.parameterDisplay(index);
        return std::strtod(text.c_str(), nullptr);
    }

    double valueAt(VstInt32 index, float v)
    {
        m_instance.setParameter(index, v);
        return shownValue(index);
    }

    void setToValue(const std::string& name, double target)
    {
        const VstInt32 index = m_instance.parameterIndex(name);
        float low = 0.0f;
        float high = 1.0f;
        const bool rising = valueAt(index, high) >= valueAt(index, low);
        for (int step = 0; step < 40; step++)
        {
            const float middle = 0.5f * (low + high);
            const bool below = valueAt(index, middle) < target;
            if (below == rising)
                low = middle;
            else
                high = middle;
        }
        const float best =
            std::fabs(valueAt(index, low) - target) <= std::fabs(valueAt(index, high) - target) ? low : high;
        setAndShow(name, best);
    }
};

class StraightforwardProcessor : public Processor
{
public:
    explicit StraightforwardProcessor(bool useSidechain)
        : Processor(useSidechain ? "straightforward loop, sidechain-keyed" : "straightforward loop"),
          m_useSidechain(useSidechain)
    {
        m_compressor.configure(kAttackMs, kReleaseMs, kRatio, kThresholdDB, 0.0f, kSampleRate);
    }

    bool keysFromSidechain() const override { return m_useSidechain; }
    void reset() override { m_compressor.reset(); }
    void process(const float* in1, const float* in2, const float* sc1, const float* sc2, float* out1, float* out2,
                 int frames) override
    {
        m_compressor.process(in1, in2, sc1, sc2, out1, out2, frames, m_useSidechain);
    }

private:
    StraightforwardCompressor m_compressor;
    bool m_useSidechain;
};

class PlainGainProcessor : public Processor
{
public:
    PlainGainProcessor() : Processor("plain gain loop") {}

    void reset() override {}
    void process(const float* in1, const float* in2, const float*, const float*, float* out1, float* out2,
                 int frames) override
    {
        if (frames == kBlock)
        {
            scale<kBlock>(in1, out1);
            scale<kBlock>(in2, out2);
        }
        else
        {
            for (int i = 0; i < frames; i++)
                out1[i] = in1[i] * 0.5f;
            for (int i = 0; i < frames; i++)
                out2[i] = in2[i] * 0.5f;
        }
    }

private:
    // A fixed count and buffers that do not overlap: the loop the compiler vectorises at any
    // optimisation level, so this is the copy limit, not a scalar loop.
    template <int Frames>
    static void scale(const float* __restrict in, float* __restrict out)
    {
        for (int i = 0; i < Frames; i++)
            out[i] = in[i] * 0.5f;
    }
};

class NothingProcessor : public Processor
{
public:
    NothingProcessor() : Processor("nothing") {}

    void reset() override {}
    void process(const float*, const float*, const float*, const float*, float*, float*, int) override {}
};

}  // namespace

std::string kestruneModulePath()
{
    const char* other = std::getenv("KESTRUNE_BENCH_MODULE");
    return other != nullptr && *other != '\0' ? other : KESTRUNE_MODULE_PATH;
}

std::unique_ptr<Processor> makeKestrune(const std::string& modulePath, bool useSidechain)
{
    return std::make_unique<KestruneProcessor>(modulePath, useSidechain);
}

std::unique_ptr<Processor> makeStraightforward(bool useSidechain)
{
    return std::make_unique<StraightforwardProcessor>(useSidechain);
}

std::unique_ptr<Processor> makePlainGain()
{
    return std::make_unique<PlainGainProcessor>();
}

std::unique_ptr<Processor> makeNothing()
{
    return std::make_unique<NothingProcessor>();
}

std::vector<PeerModule> knownPeers()
{
    return {
        {"lsp sc-compressor-stereo", "/usr/lib/vst/lsp-plugins/sc-compressor-stereo.so", "al", "cr", "at", "rt"},
        {"ZamCompX2 (stereo)", "/usr/lib/vst/ZamCompX2-vst.so", "Threshold", "Ratio", "Attack", "Release"},
        {"ZamComp (mono)", "/usr/lib/vst/ZamComp-vst.so", "Threshold", "Ratio", "Attack", "Release"},
    };
}

std::unique_ptr<Processor> makePeer(const PeerModule& peer, std::string& why)
{
    if (!std::ifstream(peer.path).good())
    {
        why = "not installed (" + peer.path + ")";
        return nullptr;
    }
    try
    {
        return std::make_unique<PeerProcessor>(peer);
    }
    catch (const khost::HostError& error)
    {
        why = error.what();
        return nullptr;
    }
}

}  // namespace kbench
