// One instance of the built module driven beside one reference model with the same calls, and the
// seeded signals they process: shared by the tests that compare the two bit for bit. The module
// is loaded once per program from KESTRUNE_MODULE_PATH.
#pragma once

#include "ReferenceModel.h"
#include "VstHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace ksession
{

using kref::ReferenceModel;

constexpr double kPi = 3.14159265358979323846;

// --- seeded randomness ----------------------------------------------------------------------
// mt19937_64 is defined bit for bit by the language; the conversions below are our own, so a seed
// gives the same signal and schedule with any standard library.

class Random
{
public:
    explicit Random(std::uint64_t seed) : m_engine(seed) {}

    // Uniform in [0, 1).
    double uniform() { return static_cast<double>(m_engine() >> 11) * 0x1.0p-53; }
    double uniform(double low, double high) { return low + (high - low) * uniform(); }
    // Uniform in 0 .. count-1.
    int below(int count) { return static_cast<int>(uniform() * count); }
    bool chance(double probability) { return uniform() < probability; }

private:
    std::mt19937_64 m_engine;
};

// --- signals --------------------------------------------------------------------------------

// Four input channels, as the module takes them: main L, main R, side L, side R.
struct Signal
{
    explicit Signal(std::size_t frameCount) : frames(frameCount)
    {
        for (auto& channel : channels)
            channel.assign(frameCount, 0.0f);
    }
    std::size_t frames;
    std::array<std::vector<float>, 4> channels;
};

struct Output
{
    explicit Output(std::size_t frameCount)
    {
        for (auto& channel : channels)
            channel.assign(frameCount, 0.0f);
    }
    std::array<std::vector<float>, 2> channels;
};

inline double amplitudeOf(double dB)
{
    return std::pow(10.0, dB / 20.0);
}

// A stereo pair made of segments of 5..400 ms: sine bursts, noise, exact silence, loud-to-quiet
// steps (every third segment) and one-sided material, at levels from -80 to +6 dBFS, so a compressor with a threshold
// anywhere in -60..0 dB both engages hard and lets go.
inline void fillPair(Random& random, double sampleRate, std::vector<float>& left, std::vector<float>& right)
{
    const std::size_t frames = left.size();
    std::size_t position = 0;
    for (int segment = 0; position < frames; segment++)
    {
        const std::size_t wanted = static_cast<std::size_t>(random.uniform(0.005, 0.4) * sampleRate) + 1;
        const std::size_t length = std::min(wanted, frames - position);
        // Every third segment is a loud-to-quiet step, so every signal has loud passages.
        const int kind = segment % 3 == 0 ? 3 : random.below(5);
        const double amplitude = amplitudeOf(random.uniform(-70.0, 6.0));
        const double balance = random.uniform(0.3, 1.0);
        const bool leftLouder = random.chance(0.5);
        const double ampLeft = leftLouder ? amplitude : amplitude * balance;
        const double ampRight = leftLouder ? amplitude * balance : amplitude;
        const double frequency = random.uniform(30.0, std::min(8000.0, 0.4 * sampleRate));
        const double phaseLeft = random.uniform(0.0, 2.0 * kPi);
        const double phaseRight = random.uniform(0.0, 2.0 * kPi);
        const double loud = amplitudeOf(random.uniform(-6.0, 6.0));
        const double quiet = amplitudeOf(random.uniform(-80.0, -40.0));
        for (std::size_t i = 0; i < length; i++)
        {
            const double t = static_cast<double>(i) / sampleRate;
            const double w = 2.0 * kPi * frequency * t;
            double l = 0.0;
            double r = 0.0;
            switch (kind)
            {
            case 0:  // sine burst
                l = ampLeft * std::sin(w + phaseLeft);
                r = ampRight * std::sin(w + phaseRight);
                break;
            case 1:  // white noise
                l = ampLeft * random.uniform(-1.0, 1.0);
                r = ampRight * random.uniform(-1.0, 1.0);
                break;
            case 2:  // silence
                break;
            case 3:  // a step from loud to quiet halfway
            {
                const double level = (i < length / 2) ? loud : quiet;
                l = level * std::sin(w + phaseLeft);
                r = level * balance * std::sin(w + phaseRight);
                break;
            }
            default:  // one channel carries the tone, the other faint noise
                l = ampLeft * std::sin(w + phaseLeft);
                r = quiet * random.uniform(-1.0, 1.0);
                if (!leftLouder)
                    std::swap(l, r);
                break;
            }
            left[position + i] = static_cast<float>(l);
            right[position + i] = static_cast<float>(r);
        }
        position += length;
    }
}

// Main pair and an independent sidechain pair.
inline Signal makeSignal(Random& random, double sampleRate, double seconds)
{
    Signal signal(static_cast<std::size_t>(seconds * sampleRate));
    fillPair(random, sampleRate, signal.channels[0], signal.channels[1]);
    fillPair(random, sampleRate, signal.channels[2], signal.channels[3]);
    return signal;
}

inline std::string describe(float value)
{
    char text[48];
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    std::snprintf(text, sizeof text, "%.9g (0x%08" PRIX32 ")", static_cast<double>(value), bits);
    return text;
}

// The first frame where two channels differ as bit patterns, or their length when they agree.
inline std::size_t firstDifference(const std::vector<float>& a, const std::vector<float>& b)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; i++)
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0)
            return i;
    return a.size() == b.size() ? n : n + 1;
}

inline bool sameBits(const Output& a, const Output& b)
{
    return firstDifference(a.channels[0], b.channels[0]) == a.channels[0].size() &&
           firstDifference(a.channels[1], b.channels[1]) == a.channels[1].size();
}

// --- one instance of the module beside one model ----------------------------------------------

inline const std::shared_ptr<khost::PluginModule>& kestruneModule()
{
    static const std::shared_ptr<khost::PluginModule> module = khost::PluginModule::load(KESTRUNE_MODULE_PATH);
    return module;
}

// Where the module writes its output: separate buffers, or over its own input channels.
enum class Layout
{
    Separate,
    InPlace,          // outputs L, R are inputs 0, 1
    InPlaceSwapped,   // outputs L, R are inputs 1, 0
    OverSidechain     // outputs L, R are inputs 2, 3
};

// Drives the module and the model with the same calls and keeps a log of them, so a mismatch can
// be reported with what happened just before it.
class Session
{
public:
    Session(const Signal& signal, float sampleRate, VstInt32 blockSize, Layout layout = Layout::Separate)
        : m_signal(signal), m_work(signal), m_moduleOut(signal.frames), m_modelOut(signal.frames),
          m_instance(kestruneModule()), m_layout(layout)
    {
        m_instance.start(sampleRate, blockSize);
        m_model.setSampleRate(sampleRate);
        m_model.resume();
        log("start at " + describe(sampleRate) + " Hz");
    }

    void setParameter(int index, float value)
    {
        m_instance.setParameter(index, value);
        m_model.setParameter(index, value);
        log("parameter " + std::to_string(index) + " = " + describe(value));
    }

    void setSampleRate(float rate)
    {
        m_instance.setSampleRate(rate);
        m_model.setSampleRate(rate);
        log("sample rate " + describe(rate));
    }

    void resume()
    {
        m_instance.resume();
        m_model.resume();
        log("resume");
    }

    // The next count frames of the signal as one block (fewer at its end; 0 is passed on as 0).
    void process(int count)
    {
        const std::size_t begin = m_position;
        const std::size_t available = m_signal.frames - begin;
        if (count > 0 && static_cast<std::size_t>(count) > available)
            count = static_cast<int>(available);

        float* in[4];
        for (int c = 0; c < 4; c++)
            in[c] = m_work.channels[c].data() + begin;
        float* out[2] = {m_moduleOut.channels[0].data() + begin, m_moduleOut.channels[1].data() + begin};
        int fromWork[2] = {-1, -1};
        switch (m_layout)
        {
        case Layout::Separate: break;
        case Layout::InPlace: fromWork[0] = 0; fromWork[1] = 1; break;
        case Layout::InPlaceSwapped: fromWork[0] = 1; fromWork[1] = 0; break;
        case Layout::OverSidechain: fromWork[0] = 2; fromWork[1] = 3; break;
        }
        for (int c = 0; c < 2; c++)
            if (fromWork[c] >= 0)
                out[c] = in[fromWork[c]];
        log("block of " + std::to_string(count));
        m_instance.process(in, out, count);
        for (int c = 0; c < 2 && count > 0; c++)
            if (fromWork[c] >= 0)
                std::copy(out[c], out[c] + count, m_moduleOut.channels[c].begin() + static_cast<std::ptrdiff_t>(begin));

        // The model reads the pristine signal and writes apart; in place or not, it must agree.
        const float* modelIn[4];
        for (int c = 0; c < 4; c++)
            modelIn[c] = m_signal.channels[c].data() + begin;
        float* modelOut[2] = {m_modelOut.channels[0].data() + begin, m_modelOut.channels[1].data() + begin};
        m_model.process(modelIn, modelOut, count);

        if (count > 0)
            m_position += static_cast<std::size_t>(count);
    }

    bool finished() const { return m_position >= m_signal.frames; }
    std::size_t position() const { return m_position; }
    const ReferenceModel& model() const { return m_model; }
    const Output& moduleOutput() const { return m_moduleOut; }

    // Every processed frame of the module equals the model's, bit for bit.
    ::testing::AssertionResult matchesModel() const
    {
        for (std::size_t frame = 0; frame < m_position; frame++)
            for (int c = 0; c < 2; c++)
            {
                const float actual = m_moduleOut.channels[c][frame];
                const float expected = m_modelOut.channels[c][frame];
                if (std::memcmp(&actual, &expected, sizeof actual) != 0)
                {
                    return ::testing::AssertionFailure()
                           << "first mismatch at frame " << frame << ", channel " << c << ": module "
                           << describe(actual) << ", model " << describe(expected) << "; inputs "
                           << describe(m_signal.channels[0][frame]) << ", " << describe(m_signal.channels[1][frame])
                           << ", sidechain " << describe(m_signal.channels[2][frame]) << ", "
                           << describe(m_signal.channels[3][frame]) << "\n"
                           << recentEvents(frame);
                }
            }
        return ::testing::AssertionSuccess() << m_position << " frames equal";
    }

private:
    void log(const std::string& what) { m_events.push_back({m_position, what}); }

    std::string recentEvents(std::size_t frame) const
    {
        std::ostringstream text;
        text << "calls before it (frame: call):\n";
        std::size_t last = 0;
        while (last < m_events.size() && m_events[last].first <= frame)
            last++;
        const std::size_t first = last > 12 ? last - 12 : 0;
        for (std::size_t i = first; i < last; i++)
            text << "  " << m_events[i].first << ": " << m_events[i].second << "\n";
        return text.str();
    }

    const Signal& m_signal;
    Signal m_work;  // what the module reads, and overwrites when it works in place
    Output m_moduleOut;
    Output m_modelOut;
    khost::PluginInstance m_instance;
    ReferenceModel m_model;
    Layout m_layout;
    std::size_t m_position = 0;
    std::vector<std::pair<std::size_t, std::string>> m_events;
};

}  // namespace ksession
