// End-to-end renders through the built kestrune program and the built module: exactness, block-size
// independence, the gain reduction a sidechain causes, and the handling of formats and lengths.
#include "TestSeed.h"
#include "ToolHarness.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

namespace
{

using tooltest::Audio;
using tooltest::readAudio;
using tooltest::runTool;
using tooltest::TemporaryFolder;
using tooltest::writeAudio;

constexpr int kRate = 48000;
const int kFloatWav = SF_FORMAT_WAV | SF_FORMAT_FLOAT;

// Noise in bursts of changing level: exercises attack and release.
std::vector<double> burstyNoise(std::int64_t frames, std::mt19937& generator)
{
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    std::uniform_real_distribution<double> level(0.01, 0.9);
    std::vector<double> samples(static_cast<std::size_t>(frames));
    double gain = level(generator);
    for (std::int64_t i = 0; i < frames; ++i)
    {
        if (i % 3000 == 0)
            gain = level(generator);
        samples[static_cast<std::size_t>(i)] = gain * noise(generator);
    }
    return samples;
}

void expectSuccess(const tooltest::RunResult& result)
{
    EXPECT_EQ(result.exitCode, 0) << result.err;
}

TEST(Render, DefaultsGiveTheInputBackBitForBit)
{
    // With ratio 1:1 and 0 dB makeup the effect passes its input unchanged; a float WAV keeps it.
    TemporaryFolder folder;
    std::mt19937 generator = kestrune_test::seededGenerator();
    const std::vector<double> left = burstyNoise(kRate, generator);
    const std::vector<double> right = burstyNoise(kRate, generator);
    writeAudio(folder.file("in.wav"), kFloatWav, 2, kRate, kRate,
               [&](std::int64_t i, int c) { return (c == 0 ? left : right)[static_cast<std::size_t>(i)]; });
    expectSuccess(runTool({"render", folder.file("in.wav"), "-o", folder.file("out.wav")}));

    const Audio in = readAudio(folder.file("in.wav"));
    const Audio out = readAudio(folder.file("out.wav"));
    EXPECT_EQ(out.info.format, kFloatWav);
    EXPECT_EQ(out.info.channels, 2);
    EXPECT_EQ(out.frames(), kRate);
    EXPECT_EQ(out.info.samplerate, kRate);
    ASSERT_EQ(out.samples.size(), in.samples.size());
    EXPECT_EQ(std::memcmp(out.samples.data(), in.samples.data(), in.samples.size() * sizeof(float)), 0);
}

TEST(Render, IntegerPcmAndMonoComeBackUnchangedWithDefaults)
{
    // Integer samples survive the float path both ways; a mono file stays mono.
    struct Case
    {
        const char* name;
        int format;
        int channels;
    };
    const Case cases[] = {
        {"pcm16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2},
        {"pcm24.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 2},
        {"pcm8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1},
        {"mono16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1},
        {"monofloat.wav", kFloatWav, 1},
    };
    TemporaryFolder folder;
    std::mt19937 generator = kestrune_test::seededGenerator();
    const std::vector<double> noise = burstyNoise(kRate / 2, generator);
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const std::string in = folder.file(std::string("in-") + c.name);
        const std::string out = folder.file(std::string("out-") + c.name);
        // Full scale both ways, so the extreme codes are covered too.
        writeAudio(in, c.format, c.channels, 44100, kRate / 2, [&](std::int64_t i, int channel) {
            if (i == 0)
                return channel == 0 ? -1.0 : 1.0;
            return noise[static_cast<std::size_t>(i)] * (channel == 0 ? 1.0 : -0.5);
        });
        expectSuccess(runTool({"render", in, "-o", out}));
        const Audio written = readAudio(out);
        EXPECT_EQ(written.info.format, c.format);
        EXPECT_EQ(written.info.channels, c.channels);
        EXPECT_EQ(written.info.samplerate, 44100);
        EXPECT_EQ(tooltest::readIntegers(out), tooltest::readIntegers(in));
    }
}

TEST(Render, BlockSizeDoesNotChangeTheFile)
{
    // Self-keyed to 16-bit PCM and keyed by a mono sidechain at another rate (resampled in chunks of
    // its own): blocks of 1, 64, 512 and 4096 frames must give byte-identical files.
    TemporaryFolder folder;
    const std::int64_t frames = kRate + 777;  // not a multiple of any block size
    std::mt19937 generator = kestrune_test::seededGenerator();
    const std::vector<double> main = burstyNoise(frames, generator);
    const std::vector<double> key = burstyNoise(frames, generator);
    writeAudio(folder.file("in.wav"), kFloatWav, 2, kRate, frames,
               [&](std::int64_t i, int c) { return main[static_cast<std::size_t>(i)] * (c == 0 ? 0.8 : 0.6); });
    writeAudio(folder.file("key.wav"), kFloatWav, 1, 44100, 44100,
               [&](std::int64_t i, int) { return key[static_cast<std::size_t>(i)]; });

    const std::vector<std::string> compress = {"--attack", "0.5", "--release", "40", "--ratio", "6",
                                               "--threshold", "-24", "--makeup", "5"};
    for (const bool sidechain : {false, true})
    {
        SCOPED_TRACE(sidechain ? "sidechain" : "self-keyed");
        std::string reference;
        for (const char* block : {"1", "64", "512", "4096"})
        {
            const std::string out = folder.file(std::string("out-") + block + (sidechain ? ".wav" : ".flac"));
            std::vector<std::string> arguments = {"render", folder.file("in.wav"), "-o", out, "--block", block, "-q"};
            arguments.insert(arguments.end(), compress.begin(), compress.end());
            if (sidechain)
                arguments.insert(arguments.end(), {"--sidechain", folder.file("key.wav")});
            else
                arguments.insert(arguments.end(), {"--format", "pcm16"});
            expectSuccess(runTool(arguments));
            const std::string bytes = tooltest::readBytes(out);
            if (reference.empty())
                reference = bytes;
            else
                EXPECT_TRUE(bytes == reference) << "block " << block << " differs from block 1";
        }
        // The settings did something: the output is not the input.
        const Audio in = readAudio(folder.file("in.wav"));
        const Audio out = readAudio(folder.file(sidechain ? "out-1.wav" : "out-1.flac"));
        ASSERT_EQ(out.frames(), in.frames());
        EXPECT_NE(out.samples, in.samples);
    }
}

// The static curve of a hard-knee compressor: output level T + (L - T) / R above the threshold.
double staticGainDb(double keyDb, double thresholdDb, double ratio, double makeupDb)
{
    const double outputDb = keyDb > thresholdDb ? thresholdDb + (keyDb - thresholdDb) / ratio : keyDb;
    return outputDb - keyDb + makeupDb;
}

// Gain in dB of each frame of out against in over [from, to) seconds where the input is not small.
std::vector<double> gainsDb(const Audio& in, const Audio& out, double from, double to)
{
    std::vector<double> gains;
    for (std::int64_t i = static_cast<std::int64_t>(from * kRate); i < static_cast<std::int64_t>(to * kRate); ++i)
    {
        for (int c = 0; c < in.info.channels; ++c)
        {
            if (std::fabs(in.at(i, c)) > 0.02)
                gains.push_back(20.0 * std::log10(static_cast<double>(out.at(i, c)) / in.at(i, c)));
        }
    }
    return gains;
}

TEST(Render, SidechainBurstReducesASteadyToneByTheStaticCurve)
{
    // A steady 1 kHz tone at -20 dBFS, keyed by a sidechain that is silent, then a louder 100 Hz
    // square-wave burst (constant magnitude, so the peak key is steady), then ends early: the file is
    // shorter than the input and must be padded with silence.
    TemporaryFolder folder;
    const double seconds = 3.0;
    const float toneAmplitude = 0.1f;
    const float burstAmplitude = 0.5f;
    writeAudio(folder.file("tone.wav"), kFloatWav, 2, kRate, static_cast<std::int64_t>(seconds * kRate),
               [&](std::int64_t i, int c) {
                   return toneAmplitude * std::sin(2.0 * M_PI * 1000.0 * i / kRate + (c == 0 ? 0.0 : 0.5));
               });
    writeAudio(folder.file("burst.wav"), kFloatWav, 2, kRate, static_cast<std::int64_t>(1.8 * kRate),
               [&](std::int64_t i, int c) {
                   const bool on = i >= kRate / 2 && i < 3 * kRate / 2;
                   const float sign = (i / 240) % 2 == 0 ? 1.0f : -1.0f;
                   return on ? static_cast<double>(sign * burstAmplitude * (c == 0 ? 1.0f : 0.5f)) : 0.0;
               });

    const double thresholdDb = -30.0;
    const double ratio = 4.0;
    const double makeupDb = 2.0;
    const tooltest::RunResult result =
        runTool({"render", folder.file("tone.wav"), "--sidechain", folder.file("burst.wav"), "-o",
                 folder.file("out.wav"), "--threshold", "-30", "--ratio", "4", "--attack", "1", "--release", "50",
                 "--makeup", "2"});
    expectSuccess(result);
    // Same rate, so no resampling; but the key file ends 1.2 s early, and that is said.
    EXPECT_EQ(result.err, "kestrune: note: the sidechain lasts 1.8 s and the input 3.0 s: the rest is keyed by "
                          "silence\n");

    const Audio in = readAudio(folder.file("tone.wav"));
    const Audio out = readAudio(folder.file("out.wav"));
    ASSERT_EQ(out.frames(), in.frames());

    // The key is the louder sidechain channel. 0.01 dB is the acceptance of the issue; the float
    // arithmetic of the path is good to about 1e-6 dB.
    const double keyDb = 20.0 * std::log10(static_cast<double>(burstAmplitude));
    const double expected = staticGainDb(keyDb, thresholdDb, ratio, makeupDb);  // 18 dB less 2 dB makeup
    const std::vector<double> during = gainsDb(in, out, 1.3, 1.5);
    ASSERT_GT(during.size(), 1000u);
    for (const double gain : during)
        ASSERT_NEAR(gain, expected, 0.01);

    // Before the burst and long after the sidechain file ended, only the makeup gain remains.
    for (const auto& [from, to] : {std::pair{0.05, 0.5}, std::pair{2.5, 3.0}})
    {
        for (const double gain : gainsDb(in, out, from, to))
            ASSERT_NEAR(gain, makeupDb, 1e-4) << "between " << from << " and " << to << " s";
    }
}

TEST(Render, SidechainAtAnotherRateIsResampledAndSaysSo)
{
    // A 24 kHz mono key, a constant level burst: after resampling to 48 kHz its settled level is the
    // same, so the static curve still holds (within the resampler's passband ripple at DC).
    TemporaryFolder folder;
    writeAudio(folder.file("tone.wav"), kFloatWav, 1, kRate, 2 * kRate,
               [](std::int64_t i, int) { return 0.25 * std::sin(2.0 * M_PI * 440.0 * i / kRate); });
    // Longer than the input: cut at the input's end.
    writeAudio(folder.file("key.wav"), kFloatWav, 1, 24000, 3 * 24000,
               [](std::int64_t i, int) { return i >= 12000 ? 0.5 : 0.0; });
    const tooltest::RunResult result = runTool({"render", folder.file("tone.wav"), "--sidechain", folder.file("key.wav"),
                                                "-o", folder.file("out.wav"), "--threshold", "-20", "--ratio", "10",
                                                "--attack", "1"});
    expectSuccess(result);
    EXPECT_NE(result.err.find("resampling the sidechain from 24000 Hz to the input's 48000 Hz"), std::string::npos)
        << result.err;

    const Audio in = readAudio(folder.file("tone.wav"));
    const Audio out = readAudio(folder.file("out.wav"));
    EXPECT_EQ(out.info.channels, 1);
    ASSERT_EQ(out.frames(), in.frames());
    const double expected = staticGainDb(20.0 * std::log10(0.5), -20.0, 10.0, 0.0);
    for (const double gain : gainsDb(in, out, 1.2, 2.0))
        ASSERT_NEAR(gain, expected, 0.01);

    // The key is longer: cut without a word. Quiet keeps stderr empty.
    EXPECT_EQ(result.err.find("keyed by silence"), std::string::npos) << result.err;
    const tooltest::RunResult quiet = runTool({"render", folder.file("tone.wav"), "--sidechain", folder.file("key.wav"),
                                               "-o", folder.file("quiet.wav"), "-q"});
    expectSuccess(quiet);
    EXPECT_EQ(quiet.err, "");
}

TEST(Render, OutputFormatFollowsTheExtensionAndFormatOption)
{
    TemporaryFolder folder;
    std::mt19937 generator = kestrune_test::seededGenerator();
    const std::vector<double> noise = burstyNoise(kRate / 4, generator);
    writeAudio(folder.file("in.wav"), kFloatWav, 2, kRate, kRate / 4,
               [&](std::int64_t i, int) { return noise[static_cast<std::size_t>(i)]; });

    // FLAC cannot hold floats: 24-bit PCM, with a note.
    tooltest::RunResult result = runTool({"render", folder.file("in.wav"), "-o", folder.file("out.flac")});
    expectSuccess(result);
    EXPECT_NE(result.err.find("writing 24-bit PCM"), std::string::npos) << result.err;
    EXPECT_EQ(readAudio(folder.file("out.flac")).info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);

    // --format picks the sample format; the extension picks the container.
    expectSuccess(runTool({"render", folder.file("in.wav"), "-o", folder.file("out.aiff"), "--format", "pcm16"}));
    EXPECT_EQ(readAudio(folder.file("out.aiff")).info.format, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);

    // Ogg Vorbis reads back with the same length and roughly the same level.
    expectSuccess(runTool({"render", folder.file("in.wav"), "-o", folder.file("out.ogg")}));
    const Audio vorbis = readAudio(folder.file("out.ogg"));
    EXPECT_EQ(vorbis.info.format, SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    EXPECT_EQ(vorbis.frames(), kRate / 4);

    // Integer outputs clip what goes beyond full scale, and say how much.
    result = runTool({"render", folder.file("in.wav"), "-o", folder.file("loud.wav"), "--format", "pcm16",
                      "--makeup", "18"});
    expectSuccess(result);
    EXPECT_NE(result.err.find("samples beyond full scale were clipped in " + folder.file("loud.wav") +
                              " (16-bit PCM)"),
              std::string::npos)
        << result.err;
    const std::vector<int> loud = tooltest::readIntegers(folder.file("loud.wav"));
    EXPECT_EQ(*std::max_element(loud.begin(), loud.end()), 32767 * 65536);
    EXPECT_EQ(*std::min_element(loud.begin(), loud.end()), -32768 * 65536);

    // A compressed input is read as well.
    expectSuccess(runTool({"render", folder.file("out.ogg"), "-o", folder.file("from-ogg.wav")}));
    EXPECT_EQ(readAudio(folder.file("from-ogg.wav")).frames(), kRate / 4);
}

TEST(Render, AnotherPluginWithParametersByName)
{
    // The fixture effect doubles its input whatever its parameters; --param reaches it by name.
    TemporaryFolder folder;
    writeAudio(folder.file("in.wav"), kFloatWav, 2, kRate, 4800,
               [](std::int64_t i, int c) { return 0.25 * std::sin(0.01 * i + c); });
    expectSuccess(runTool({"render", folder.file("in.wav"), "-o", folder.file("out.wav"), "--plugin",
                           KESTRUNE_VERSION_ECHO_MODULE_PATH, "--param", "Alpha=0.25", "--param", "Beta=1"}));
    const Audio in = readAudio(folder.file("in.wav"));
    const Audio out = readAudio(folder.file("out.wav"));
    ASSERT_EQ(out.samples.size(), in.samples.size());
    for (std::size_t i = 0; i < in.samples.size(); ++i)
        ASSERT_EQ(out.samples[i], 2.0f * in.samples[i]) << i;
}

TEST(Render, ParameterNameSetsKestruneNormalisedValues)
{
    // --param Ratio=1 is 10:1 and "use SC" can be switched by name; compare with the engineering form.
    TemporaryFolder folder;
    std::mt19937 generator = kestrune_test::seededGenerator();
    const std::vector<double> noise = burstyNoise(kRate / 2, generator);
    writeAudio(folder.file("in.wav"), kFloatWav, 2, kRate, kRate / 2,
               [&](std::int64_t i, int) { return noise[static_cast<std::size_t>(i)]; });
    expectSuccess(runTool({"render", folder.file("in.wav"), "-o", folder.file("a.wav"), "--param", "Ratio=1",
                           "--param", "Thresh=0.5"}));
    // 0.5 maps to 60 log10(0.5) dB; the inverse of that value must find 0.5 again.
    char threshold[32];
    std::snprintf(threshold, sizeof threshold, "%.9g", static_cast<double>(static_cast<float>(60.0 * std::log10(0.5))));
    expectSuccess(runTool({"render", folder.file("in.wav"), "-o", folder.file("b.wav"), "--ratio", "10",
                           "--threshold", threshold}));
    EXPECT_EQ(tooltest::readBytes(folder.file("a.wav")), tooltest::readBytes(folder.file("b.wav")));
    EXPECT_NE(readAudio(folder.file("a.wav")).samples, readAudio(folder.file("in.wav")).samples);

    // "use SC" on without a sidechain file: the key is the silence on inputs 3 and 4, so even a
    // hard setting leaves the input untouched.
    expectSuccess(runTool({"render", folder.file("in.wav"), "-o", folder.file("c.wav"), "--param", "use SC=1",
                           "--ratio", "10", "--threshold", "-60"}));
    EXPECT_EQ(readAudio(folder.file("c.wav")).samples, readAudio(folder.file("in.wav")).samples);
}

TEST(Render, FloatWavHasTheHeaderReadersExpect)
{
    // IEEE float WAV goes with an 18-byte fmt chunk (cbSize 0) and a fact chunk; sox warns about a
    // shorter one. The frames and the samples stay as they were.
    if (tooltest::runProgram({"sox", "--version"}).exitCode != 0)
        GTEST_SKIP() << "sox is not installed (Debian: apt-get install sox)";
    TemporaryFolder folder;
    writeAudio(folder.file("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, kRate, kRate / 10,
               [](std::int64_t i, int) { return 0.5 * std::sin(0.02 * static_cast<double>(i)); });
    for (const char* format : {"float", "double"})
    {
        SCOPED_TRACE(format);
        const std::string out = folder.file(std::string(format) + ".wav");
        expectSuccess(runTool({"render", folder.file("in.wav"), "-o", out, "--format", format}));
        const std::string bytes = tooltest::readBytes(out);
        ASSERT_GT(bytes.size(), 58u);
        EXPECT_EQ(bytes.substr(12, 8), std::string("fmt \x12\0\0\0", 8));
        EXPECT_EQ(bytes.substr(20, 2), std::string("\x03\0", 2)) << "IEEE float";
        EXPECT_EQ(bytes.substr(36, 2), std::string("\0\0", 2)) << "cbSize";
        EXPECT_EQ(bytes.substr(38, 4), "fact");

        const tooltest::RunResult soxi = tooltest::runProgram({"soxi", "-s", out});
        EXPECT_EQ(soxi.exitCode, 0) << soxi.err;
        EXPECT_EQ(soxi.out, "4800\n");
        EXPECT_EQ(soxi.err, "") << "a warning";
        EXPECT_EQ(readAudio(out).samples, readAudio(folder.file("in.wav")).samples);
    }
}

TEST(Render, StandardInputAndOutputThroughPipes)
{
    // cat a.wav | kestrune render - -o - -t wav | sox - ...: the same samples as a render between
    // files, and nothing but audio on standard output.
    if (tooltest::runProgram({"sox", "--version"}).exitCode != 0)
        GTEST_SKIP() << "sox is not installed (Debian: apt-get install sox)";
    TemporaryFolder folder;
    std::mt19937 generator = kestrune_test::seededGenerator();
    const std::vector<double> noise = burstyNoise(kRate, generator);
    writeAudio(folder.file("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, kRate, kRate,
               [&](std::int64_t i, int c) { return noise[static_cast<std::size_t>(i)] * (c == 0 ? 1.0 : 0.5); });
    const std::string settings = " --ratio 4 --threshold -20 --attack 1 ";
    expectSuccess(runTool({"render", folder.file("in.wav"), "-o", folder.file("files.wav"), "--ratio", "4",
                           "--threshold", "-20", "--attack", "1"}));

    const tooltest::RunResult piped = tooltest::runProgram(
        {"sh", "-c", "cd " + folder.path() + " && cat in.wav | " KESTRUNE_TOOL_PATH " render - -o - -t wav" + settings +
                         "| sox - -t wav piped.wav && " KESTRUNE_TOOL_PATH " render - -o - -t flac < in.wav > out.flac"});
    EXPECT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(piped.err.find("error"), std::string::npos) << piped.err;
    EXPECT_EQ(tooltest::readIntegers(folder.file("piped.wav")), tooltest::readIntegers(folder.file("files.wav")));
    const Audio flac = readAudio(folder.file("out.flac"));
    EXPECT_EQ(flac.info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    EXPECT_EQ(tooltest::readIntegers(folder.file("out.flac")), tooltest::readIntegers(folder.file("in.wav")));
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"files.wav", "in.wav", "out.flac", "piped.wav"}));

    // Standard input in a format that cannot be read from a pipe is an error that says so.
    const tooltest::RunResult flacPipe = tooltest::runProgram(
        {"sh", "-c", "cat " + folder.file("out.flac") + " | " KESTRUNE_TOOL_PATH " render - -o " + folder.file("again.wav")});
    EXPECT_EQ(flacPipe.exitCode, 1);
    EXPECT_NE(flacPipe.err.find("cannot read standard input: not an audio format libsndfile can read from a pipe"),
              std::string::npos)
        << flacPipe.err;
}

TEST(Render, StandardOutputAppendingToAFileOrFull)
{
    // "kestrune ... -o - >> file" opens standard output for appending, which the kernel's copy
    // between files refuses: the audio must still follow what the file held, byte for byte as a
    // render to a file. A full device is an error that names the reason.
    TemporaryFolder folder;
    writeAudio(folder.file("in.wav"), kFloatWav, 2, kRate, 4800,
               [](std::int64_t i, int c) { return 0.5 * std::sin(0.02 * static_cast<double>(i) + c); });
    expectSuccess(runTool({"render", folder.file("in.wav"), "-o", folder.file("file.wav"), "--ratio", "4"}));
    std::ofstream(folder.file("log.wav")) << "earlier bytes";
    const std::string render = KESTRUNE_TOOL_PATH " render " + folder.file("in.wav") + " -o - -t wav --ratio 4";
    expectSuccess(tooltest::runProgram({"sh", "-c", render + " >> " + folder.file("log.wav")}));
    EXPECT_EQ(tooltest::readBytes(folder.file("log.wav")),
              "earlier bytes" + tooltest::readBytes(folder.file("file.wav")));

    if (!std::filesystem::is_character_file("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    const tooltest::RunResult full = tooltest::runProgram({"sh", "-c", render + " > /dev/full"});
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_NE(full.err.find("cannot write standard output: No space left on device"), std::string::npos) << full.err;
}

TEST(Render, NamedPipesAndLinksAreWrittenThroughNotReplaced)
{
    // An output that names a pipe or a device receives the audio; renaming a finished file over it
    // would replace the node itself (as root, /dev/null). A link keeps pointing at its file, which
    // receives the audio.
    TemporaryFolder folder;
    writeAudio(folder.file("in.wav"), kFloatWav, 2, kRate, 4800,
               [](std::int64_t i, int c) { return 0.5 * std::sin(0.03 * static_cast<double>(i) + c); });
    expectSuccess(runTool({"render", folder.file("in.wav"), "-o", folder.file("file.wav"), "--ratio", "4"}));
    const std::string expected = tooltest::readBytes(folder.file("file.wav"));

    std::ofstream(folder.file("target.wav")) << "older take";
    std::filesystem::create_symlink("target.wav", folder.file("link.wav"));
    expectSuccess(runTool({"render", folder.file("in.wav"), "-o", folder.file("link.wav"), "--ratio", "4"}));
    EXPECT_TRUE(std::filesystem::is_symlink(folder.file("link.wav")));
    EXPECT_TRUE(tooltest::readBytes(folder.file("target.wav")) == expected) << "the link's file differs";

    const std::string pipe = folder.file("pipe.wav");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0) << std::strerror(errno);
    std::string received;
    std::thread reader([&] {
        std::ifstream in(pipe, std::ios::binary);
        received.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    });
    const tooltest::RunResult run = runTool({"render", folder.file("in.wav"), "-o", pipe, "--ratio", "4"});
    // Releases the reader should the program never have opened the pipe.
    if (const int writer = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK); writer >= 0)
        ::close(writer);
    reader.join();
    expectSuccess(run);
    EXPECT_TRUE(std::filesystem::is_fifo(pipe));
    EXPECT_TRUE(received == expected) << "the pipe gave " << received.size() << " bytes of " << expected.size();
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"file.wav", "in.wav", "link.wav", "pipe.wav", "target.wav"}));
}

TEST(Render, EffectsWithTwoAndThreeInputs)
{
    // The fixture gain stages multiply by 2 * Gain and, with a third input, by the mono key there:
    // the key file's two channels, 0.8 and 0.4, arrive as their mean, 0.6.
    TemporaryFolder folder;
    writeAudio(folder.file("in.wav"), kFloatWav, 2, kRate, 4800,
               [](std::int64_t i, int c) { return 0.25 * std::sin(0.01 * i + c); });
    writeAudio(folder.file("key.wav"), kFloatWav, 2, kRate, 4800, [](std::int64_t, int c) { return c == 0 ? 0.8 : 0.4; });
    const Audio in = readAudio(folder.file("in.wav"));

    const tooltest::RunResult keyed =
        runTool({"render", folder.file("in.wav"), "-o", folder.file("keyed.wav"), "--plugin",
                 KESTRUNE_THREE_INPUT_MODULE_PATH, "--sidechain", folder.file("key.wav"), "--param", "gain=0.25"});
    expectSuccess(keyed);
    const Audio out = readAudio(folder.file("keyed.wav"));
    ASSERT_EQ(out.samples.size(), in.samples.size());
    for (std::size_t i = 0; i < in.samples.size(); ++i)
        ASSERT_NEAR(out.samples[i], in.samples[i] * 0.5f * 0.6f, 1e-7f) << i;

    // Without a key file the third input hears silence.
    expectSuccess(runTool({"render", folder.file("in.wav"), "-o", folder.file("unkeyed.wav"), "--plugin",
                           KESTRUNE_THREE_INPUT_MODULE_PATH}));
    for (const float sample : readAudio(folder.file("unkeyed.wav")).samples)
        ASSERT_EQ(sample, 0.0f);

    // Two inputs: the gain alone; `info` names the layouts.
    expectSuccess(runTool({"render", folder.file("in.wav"), "-o", folder.file("plain.wav"), "--plugin",
                           KESTRUNE_TWO_INPUT_MODULE_PATH, "--param", "GAIN=1"}));
    const Audio plain = readAudio(folder.file("plain.wav"));
    for (std::size_t i = 0; i < in.samples.size(); ++i)
        ASSERT_EQ(plain.samples[i], 2.0f * in.samples[i]) << i;
    EXPECT_NE(runTool({"info", "--plugin", KESTRUNE_THREE_INPUT_MODULE_PATH}).out.find("Inputs          3 (main L/R, "
                                                                                       "mono sidechain)\n"),
              std::string::npos);
}

TEST(Render, ZamCompX2FromDebianAsAPeer)
{
    // A compressor with a mono sidechain input that exports only the older entry name `main`.
    const char* const module = "/usr/lib/vst/ZamCompX2-vst.so";
    if (!std::filesystem::exists(module))
        GTEST_SKIP() << module << " is not installed (Debian: apt-get install zam-plugins)";
    const tooltest::RunResult info = runTool({"info", "--plugin", module});
    EXPECT_NE(info.out.find("Inputs          3 (main L/R, mono sidechain)"), std::string::npos) << info.out << info.err;
    TemporaryFolder folder;
    writeAudio(folder.file("tone.wav"), kFloatWav, 2, kRate, kRate,
               [](std::int64_t i, int) { return 0.5 * std::sin(2.0 * M_PI * 440.0 * i / kRate); });
    writeAudio(folder.file("silence.wav"), kFloatWav, 1, kRate, kRate, [](std::int64_t, int) { return 0.0; });
    writeAudio(folder.file("loud.wav"), kFloatWav, 1, kRate, kRate,
               [](std::int64_t i, int) { return (i / 24) % 2 == 0 ? 0.9 : -0.9; });

    // Threshold at the bottom of its range, ratio at the top, the sidechain switched on: keyed by
    // silence the tone passes at its level, keyed by the loud square wave it is turned well down.
    const auto levelDb = [&](const std::string& key) {
        const std::string out = folder.file("out-" + key);
        const tooltest::RunResult result =
            runTool({"render", folder.file("tone.wav"), "-o", out, "--plugin", module, "--sidechain", folder.file(key),
                     "--param", "threshold=0", "--param", "ratio=1", "--param", "sidechain=1", "-q"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        const Audio audio = readAudio(out);
        double peak = 0.0;
        for (std::int64_t i = kRate / 2; i < audio.frames(); ++i)
            peak = std::max(peak, static_cast<double>(std::fabs(audio.at(i, 0))));
        return 20.0 * std::log10(peak / 0.5);
    };
    EXPECT_NEAR(levelDb("silence.wav"), 0.0, 0.1);
    EXPECT_LT(levelDb("loud.wav"), -10.0);
}

}  // namespace
