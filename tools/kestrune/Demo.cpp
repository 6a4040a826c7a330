#include "Demo.h"

#include "AtomicFile.h"
#include "AudioFile.h"
#include "Plot.h"
#include "Render.h"
#include "ToolError.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <filesystem>
#include <initializer_list>
#include <iostream>
#include <optional>
#include <random>

#include <unistd.h>

namespace kestrune
{

namespace
{

constexpr double kTwoPi = 6.283185307179586476925286766559;
constexpr double kTempoBpm = 120.0;

// One chord per bar.
constexpr double kChordSeconds = 4.0 * 60.0 / kTempoBpm;
constexpr int kChords = static_cast<int>(kDemoSeconds / kChordSeconds);

double noteHz(int midiNote)
{
    return 440.0 * std::pow(2.0, (midiNote - 69) / 12.0);
}

// A sawtooth with its jump smoothed by a polynomial band-limited step (PolyBLEP), so the pad has
// little aliasing without additive synthesis. phase in [0, 1), increment = frequency / rate.
double smoothSaw(double phase, double increment)
{
    double value = 2.0 * phase - 1.0;
    if (phase < increment)
    {
        const double t = phase / increment;
        value -= t + t - t * t - 1.0;
    }
    else if (phase > 1.0 - increment)
    {
        const double t = (phase - 1.0) / increment;
        value -= t * t + t + t + 1.0;
    }
    return value;
}

struct Chord
{
    int bass;
    int pad[4];
};

// Am, F, C, G in A minor, voiced closely around middle C; the bass plays the roots.
const Chord kProgression[] = {
    {45, {57, 60, 64, 69}},
    {41, {53, 57, 60, 65}},
    {48, {55, 60, 64, 67}},
    {43, {55, 59, 62, 67}},
};

// Gain of a sustained note that starts at `start` and is released at `end` (seconds): a raised
// cosine rise over `rise`, then after the release an exponential decay with time constant `decay`.
double noteEnvelope(double t, double start, double end, double rise, double decay)
{
    if (t < start)
        return 0.0;
    const double attack = t - start < rise ? 0.5 - 0.5 * std::cos(M_PI * (t - start) / rise) : 1.0;
    return t < end ? attack : attack * std::exp(-(t - end) / decay);
}

// Scales the channels together so that their largest magnitude is peakDb.
void normalisePeak(std::initializer_list<std::vector<double>*> channels, double peakDb)
{
    double peak = 0.0;
    for (const std::vector<double>* channel : channels)
    {
        for (const double sample : *channel)
            peak = std::max(peak, std::fabs(sample));
    }
    const double gain = std::pow(10.0, peakDb / 20.0) / peak;
    for (std::vector<double>* channel : channels)
    {
        for (double& sample : *channel)
            sample *= gain;
    }
}

void synthesisePad(std::vector<double>& left, std::vector<double>& right, int rate)
{
    const double detune = std::pow(2.0, 7.0 / 1200.0);  // 7 cents
    const std::size_t frames = left.size();
    for (int c = 0; c < kChords; ++c)
    {
        const Chord& chord = kProgression[c % 4];
        const double start = c * kChordSeconds;
        const double end = start + kChordSeconds;
        // A note sounds until its release tail has fallen by about 70 dB.
        const std::size_t first = static_cast<std::size_t>(start * rate);
        const std::size_t last = std::min(frames, static_cast<std::size_t>((end + 1.2) * rate));
        for (int n = 0; n < 4; ++n)
        {
            const double hz = noteHz(chord.pad[n]);
            // Two saws per side, detuned against each other, for width; fixed starting phases.
            const double increments[4] = {hz / detune / rate, hz * std::sqrt(detune) / rate, hz * detune / rate,
                                          hz / std::sqrt(detune) / rate};
            double phases[4] = {0.13 * n, 0.57 + 0.11 * n, 0.31 + 0.07 * n, 0.79 + 0.05 * n};  // all below 1
            for (std::size_t i = first; i < last; ++i)
            {
                const double t = static_cast<double>(i) / rate;
                const double gain = 0.09 * noteEnvelope(t, start, end, 0.25, 0.15);
                double sides[2] = {0.0, 0.0};
                for (int v = 0; v < 4; ++v)
                {
                    sides[v / 2] += smoothSaw(phases[v], increments[v]);
                    phases[v] += increments[v];
                    phases[v] -= std::floor(phases[v]);
                }
                left[i] += gain * sides[0];
                right[i] += gain * sides[1];
            }
        }
    }

    // Two one-pole low-passes at 1.4 kHz take the edge off the saws.
    const double coefficient = std::exp(-kTwoPi * 1400.0 / rate);
    for (std::vector<double>* channel : {&left, &right})
    {
        double first = 0.0;
        double second = 0.0;
        for (double& sample : *channel)
        {
            first = sample + coefficient * (first - sample);
            second = first + coefficient * (second - first);
            sample = second;
        }
    }
}

void synthesiseBass(std::vector<double>& left, std::vector<double>& right, int rate)
{
    const std::size_t frames = left.size();
    for (int c = 0; c < kChords; ++c)
    {
        const double hz = noteHz(kProgression[c % 4].bass);
        const double start = c * kChordSeconds;
        const double end = start + kChordSeconds - 0.03;
        const std::size_t first = static_cast<std::size_t>(start * rate);
        const std::size_t last = std::min(frames, static_cast<std::size_t>((end + 0.6) * rate));
        double phase = 0.0;
        for (std::size_t i = first; i < last; ++i)
        {
            const double t = static_cast<double>(i) / rate;
            // A sine with its octave, gently saturated: round and present on small speakers.
            const double tone = std::sin(kTwoPi * phase) + 0.35 * std::sin(2.0 * kTwoPi * phase);
            const double envelope = noteEnvelope(t, start, end, 0.02, 0.06);
            const double sample = 0.5 * std::tanh(1.5 * tone) / std::tanh(1.5) * envelope;
            left[i] += sample;
            right[i] += sample;
            phase += hz / rate;
            phase -= std::floor(phase);
        }
    }
}

std::vector<double> synthesiseKick(std::size_t frames, int rate)
{
    std::vector<double> kick(frames, 0.0);
    const double beatSeconds = 60.0 / kTempoBpm;
    const int beats = static_cast<int>(kDemoSeconds / beatSeconds);
    // A fixed seed: the click is the same on every run.
    std::linear_congruential_engine<std::uint32_t, 1664525u, 1013904223u, 0u> noise(0x2545F491u);
    for (int beat = 0; beat < beats; ++beat)
    {
        const std::size_t first = static_cast<std::size_t>(std::llround(beat * beatSeconds * rate));
        const std::size_t last = std::min(frames, first + static_cast<std::size_t>(0.45 * rate));
        double phase = 0.0;
        for (std::size_t i = first; i < last; ++i)
        {
            const double t = static_cast<double>(i - first) / rate;
            // Pitch falls from about 150 Hz to 48 Hz; the body decays over a fifth of a second.
            const double hz = 48.0 + 100.0 * std::exp(-t / 0.035);
            const double body = std::sin(kTwoPi * phase) * std::min(1.0, t / 0.002) * std::exp(-t / 0.18);
            const double white = static_cast<double>(noise()) / 2147483648.0 - 1.0;
            const double click = 0.25 * white * std::exp(-t / 0.0015);
            kick[i] += body + click;
            phase += hz / rate;
            phase -= std::floor(phase);
        }
    }
    return kick;
}

// Engineering values in table order: attack ms, release ms, ratio, (use SC), threshold dB, makeup dB.
struct DemoRender
{
    const char* name;     // file stem
    const char* keyedBy;  // words for the summary
    bool sidechainKeyed;
    ParameterOptions parameters;
};

const DemoRender kRenders[] = {
    {"self-keyed", "keyed by itself", false, {{10.0f, 150.0f, 3.0f, std::nullopt, -18.0f, 3.0f}, {}}},
    {"sidechain-keyed", "keyed by kick.wav", true, {{1.0f, 180.0f, 6.0f, std::nullopt, -30.0f, 0.0f}, {}}},
};

std::string row(const std::string& file, const std::string& what, const Level& level, const std::string& reduction)
{
    return printed("%-21s %-28s %8.1f %9.1f  %s\n", file.c_str(), what.c_str(), level.rmsDb(), level.peakDb(),
                   reduction.c_str());
}

// The demo's files in their folder (created when missing): each is written to a temporary name
// first and put in place only when all succeeded.
class DemoFiles
{
public:
    explicit DemoFiles(const std::string& folder) : m_folder(folder.empty() ? "." : folder)
    {
        std::error_code error;
        std::filesystem::create_directories(m_folder, error);
        if (error || !std::filesystem::is_directory(m_folder))
            throw ToolError("cannot write into " + m_folder.string() + ": " +
                            (error ? error.message() : std::string("not a folder")));
    }

    const std::filesystem::path& folder() const { return m_folder; }
    std::string path(const std::string& name) const { return (m_folder / name).string(); }
    Pictures& pictures() { return m_pictures; }

    AudioWriter& newWav(const std::string& name, int channels)
    {
        return m_writers.emplace_back(path(name), SF_FORMAT_WAV | SF_FORMAT_FLOAT, channels, kDemoSampleRate);
    }

    void writeSummary(const std::string& text)
    {
        AtomicFile& file = m_summary.emplace(path("summary.txt"));
        if (::write(file.descriptor(), text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            throw ToolError("cannot write " + file.path());
    }

    void commit()
    {
        for (AudioWriter& writer : m_writers)
            writer.commit();
        if (m_summary)
            m_summary->commit();
        m_pictures.commit();  // last: a picture that failed costs nothing else
    }

private:
    std::filesystem::path m_folder;
    std::deque<AudioWriter> m_writers;  // a deque keeps the writers in place as it grows
    std::optional<AtomicFile> m_summary;
    Pictures m_pictures;
};

// Levels of both channels, frame by frame, as a render measures its input.
Level stereoLevel(const std::vector<float>& left, const std::vector<float>& right)
{
    Level level;
    for (std::size_t i = 0; i < left.size(); ++i)
    {
        level.add(left[i]);
        level.add(right[i]);
    }
    return level;
}

// Renders the music with one of the demo's settings into NAME.wav and its picture; returns its
// lines of the summary.
std::string renderDemo(const DemoRender& demo, const DemoSignals& signals,
                       const std::shared_ptr<khost::PluginModule>& module, bool quiet, DemoFiles& files)
{
    const std::string name = demo.name;
    Effect effect(module);
    if (!effect.hasKestruneParameters())
        throw UsageError("the demo sets Kestrune's parameters, which " + effect.module()->path() + " does not have");
    const RenderSettings settings{resolveParameters(demo.parameters, effect, demo.sidechainKeyed), 512, quiet, name};
    MemorySource main(signals.mainLeft, signals.mainRight, kDemoSampleRate);
    MemorySource kick(signals.kick, signals.kick, kDemoSampleRate);
    EnvelopeRecorder envelopes(0, main.frames(), kDemoSampleRate);
    RenderReport report = render(effect, main, demo.sidechainKeyed ? &kick : nullptr, &files.newWav(name + ".wav", 2),
                                 settings, &envelopes);
    report.picture.title = std::string("Kestrune demo: music.wav ") + demo.keyedBy;
    files.pictures().add(files.path(name + ".png"), "", renderData(envelopes, report));
    const std::string reduction = printed("%.1f dB", report.levels.maxGainReductionDb());
    return row(name + ".wav", demo.keyedBy, report.levels.output(), reduction) + "    " + report.picture.settings +
           "\n";
}

// The transfer curve at the self-keyed settings; returns the effect's name.
std::string drawDemoCurve(const std::shared_ptr<khost::PluginModule>& module, bool quiet, DemoFiles& files)
{
    Effect effect(module);
    CurvePicture curve = measureTransferCurve(effect, resolveParameters(kRenders[0].parameters, effect, false), quiet);
    curve.title = "Static transfer curve of " + effect.name() + " with the self-keyed demo settings";
    files.pictures().add(files.path("curve.png"), "", curveData(curve));
    return effect.name();
}

std::string summaryText(const std::string& effectName, const std::string& modulePath, const DemoSignals& signals,
                        const std::string& renderRows)
{
    Level kickLevel;
    for (const float sample : signals.kick)
        kickLevel.add(sample);
    std::string summary = printed("Kestrune demo: %.0f s at %d Hz, synthesised by kestrune %s\n", kDemoSeconds,
                                  kDemoSampleRate, KESTRUNE_VERSION);
    summary += "Main signal: sustained bass and pad, Am F C G, one bar each, twice. Sidechain: a kick on every beat at "
               "120 BPM.\nEffect: " + effectName + " (" + modulePath + ")\n"
               "Gain reduction is measured through a probe instance of the effect (see 'kestrune plot --help').\n\n";
    return summary + printed("%-21s %-28s %8s %9s  %s\n", "file", "", "RMS dBFS", "peak dBFS", "max gain reduction") +
           row("music.wav", "main signal (stereo)", stereoLevel(signals.mainLeft, signals.mainRight), "") +
           row("kick.wav", "sidechain (mono)", kickLevel, "") + renderRows +
           "\nPictures: self-keyed.png, sidechain-keyed.png, curve.png\n";
}

}  // namespace

DemoSignals synthesiseDemo()
{
    const std::size_t frames = static_cast<std::size_t>(kDemoSeconds * kDemoSampleRate);
    std::vector<double> left(frames, 0.0), right(frames, 0.0);
    synthesisePad(left, right, kDemoSampleRate);
    synthesiseBass(left, right, kDemoSampleRate);
    normalisePeak({&left, &right}, -6.0);

    std::vector<double> kick = synthesiseKick(frames, kDemoSampleRate);
    normalisePeak({&kick}, -3.0);

    return DemoSignals{{left.begin(), left.end()}, {right.begin(), right.end()}, {kick.begin(), kick.end()}};
}

void runDemo(const Options& options)
{
    DemoFiles files(options.folder);
    const DemoSignals signals = synthesiseDemo();
    files.newWav("music.wav", 2).writeStereo(signals.mainLeft.data(), signals.mainRight.data(), signals.mainLeft.size());
    files.newWav("kick.wav", 1).writeStereo(signals.kick.data(), signals.kick.data(), signals.kick.size());

    const std::shared_ptr<khost::PluginModule> module = loadModule(options.plugin);
    std::string renderRows;
    for (const DemoRender& demo : kRenders)
        renderRows += renderDemo(demo, signals, module, options.quiet, files);
    const std::string effectName = drawDemoCurve(module, options.quiet, files);
    files.pictures().draw();

    const std::string summary = summaryText(effectName, module->path(), signals, renderRows);
    files.writeSummary(summary);
    files.commit();
    std::cout << summary << "Written to " << files.folder().string() << "/\n";
}

}  // namespace kestrune
