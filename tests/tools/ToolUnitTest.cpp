// Pieces of kestrune tested directly: the sidechain feed (padding, cutting, resampling, and its
// independence of how it is read), the choice of output format, atomic files, the progress line,
// levels, the subprocess helper, the demo's synthesis and printf-style formatting.
#include "AtomicFile.h"
#include "AudioFile.h"
#include "Demo.h"
#include "Effect.h"
#include "Plot.h"
#include "Process.h"
#include "Render.h"
#include "ToolError.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <limits>
#include <system_error>

namespace
{

using namespace kestrune;

// Reads `total` frames from a fresh feed in the given pattern of block sizes, repeated.
std::vector<float> readFeed(FrameSource& source, int targetRate, std::size_t total, const std::vector<std::size_t>& blocks)
{
    SidechainFeed feed(source, targetRate);
    std::vector<float> left(total), right(total);
    std::size_t done = 0;
    for (std::size_t b = 0; done < total; ++b)
    {
        const std::size_t count = std::min(blocks[b % blocks.size()], total - done);
        feed.read(left.data() + done, right.data() + done, count);
        done += count;
    }
    std::vector<float> interleaved;
    for (std::size_t i = 0; i < total; ++i)
    {
        interleaved.push_back(left[i]);
        interleaved.push_back(right[i]);
    }
    return interleaved;
}

TEST(SidechainFeed, PadsWithSilenceAndCutsAtTheRequestedLength)
{
    std::vector<float> left(10000), right(10000);
    for (std::size_t i = 0; i < left.size(); ++i)
    {
        left[i] = static_cast<float>(i) + 1.0f;
        right[i] = -static_cast<float>(i) - 1.0f;
    }
    MemorySource shortSource(left, right, 48000);
    const std::vector<float> padded = readFeed(shortSource, 48000, 15000, {512});
    for (std::size_t i = 0; i < 15000; ++i)
    {
        ASSERT_EQ(padded[2 * i], i < 10000 ? left[i] : 0.0f) << i;
        ASSERT_EQ(padded[2 * i + 1], i < 10000 ? right[i] : 0.0f) << i;
    }

    MemorySource longSource(left, right, 48000);
    const std::vector<float> cut = readFeed(longSource, 48000, 3000, {100});
    for (std::size_t i = 0; i < 3000; ++i)
        ASSERT_EQ(cut[2 * i], left[i]) << i;
}

TEST(SidechainFeed, GivesTheSameSamplesHoweverItIsRead)
{
    // The render's block size decides how the feed is read; the resampled key must not depend on it.
    std::vector<float> key(30000);
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<float>(std::sin(0.013 * i) * std::exp(-1e-4 * i));
    for (const int sourceRate : {48000, 44100, 22050})
    {
        SCOPED_TRACE(sourceRate);
        MemorySource reference(key, key, sourceRate);
        const std::vector<float> expected = readFeed(reference, 48000, 70000, {4096});
        for (const std::vector<std::size_t>& pattern :
             {std::vector<std::size_t>{1}, std::vector<std::size_t>{64}, std::vector<std::size_t>{7, 1000, 3},
              std::vector<std::size_t>{70000}})
        {
            MemorySource source(key, key, sourceRate);
            EXPECT_EQ(readFeed(source, 48000, 70000, pattern), expected);
        }
    }
}

TEST(SidechainFeed, ResamplesEachSideOnItsOwn)
{
    // Sides of different tones and levels at 24 kHz: each resampled side is what that side alone
    // gives, and keeps its own level (0.5 and 0.25, within 0.01 dB).
    const int sourceRate = 24000;
    std::vector<float> left(sourceRate), right(sourceRate);
    for (std::size_t i = 0; i < left.size(); ++i)
    {
        const double t = static_cast<double>(i) / sourceRate;
        left[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 1000.0 * t));
        right[i] = static_cast<float>(0.25 * std::sin(2.0 * M_PI * 300.0 * t + 1.0));
    }
    MemorySource stereo(left, right, sourceRate), leftAlone(left, left, sourceRate),
        rightAlone(right, right, sourceRate);
    const std::vector<float> both = readFeed(stereo, 48000, 48000, {512});
    const std::vector<float> leftOnly = readFeed(leftAlone, 48000, 48000, {512});
    const std::vector<float> rightOnly = readFeed(rightAlone, 48000, 48000, {512});
    double peaks[2] = {0.0, 0.0};
    for (std::size_t i = 0; i < 48000; ++i)
    {
        ASSERT_EQ(both[2 * i], leftOnly[2 * i]) << i;
        ASSERT_EQ(both[2 * i + 1], rightOnly[2 * i + 1]) << i;
        for (int side = 0; side < 2 && i >= 12000 && i < 36000; ++side)
            peaks[side] = std::max(peaks[side], static_cast<double>(std::fabs(both[2 * i + side])));
    }
    EXPECT_NEAR(20.0 * std::log10(peaks[0] / 0.5), 0.0, 0.01);
    EXPECT_NEAR(20.0 * std::log10(peaks[1] / 0.25), 0.0, 0.01);
}

TEST(SidechainFeed, ResamplingKeepsLevelAndTiming)
{
    // A 1 kHz sine at 24 kHz, resampled to 48 kHz: same amplitude (within 0.01 dB) and twice the frames.
    const int sourceRate = 24000;
    std::vector<float> tone(sourceRate);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 1000.0 * static_cast<double>(i) / sourceRate));
    MemorySource source(tone, tone, sourceRate);
    const std::vector<float> resampled = readFeed(source, 48000, 2 * 48000, {512});

    double peak = 0.0;
    for (std::size_t i = 12000; i < 36000; ++i)
        peak = std::max(peak, static_cast<double>(std::fabs(resampled[2 * i])));
    EXPECT_NEAR(20.0 * std::log10(peak / 0.5), 0.0, 0.01);
    // Silence once the second of source material has gone through (the filter's tail aside).
    for (std::size_t i = 48000 + 500; i < 2 * 48000; ++i)
        ASSERT_EQ(resampled[2 * i], 0.0f) << i;
    // Zero crossings fall where a 1 kHz sine at 48 kHz has them: every 24 frames.
    for (std::size_t i = 24000; i < 24480; i += 24)
        EXPECT_NEAR(resampled[2 * i], 0.0f, 0.01f) << i;
}

TEST(OutputFormat, ExtensionChoosesTheContainerAndTheInputTheSamples)
{
    std::string note;
    const int floatWav = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    EXPECT_EQ(chooseOutputFormat("a/out.wav", "", 0, floatWav, 2, 48000, &note), floatWav);
    EXPECT_EQ(note, "");
    EXPECT_EQ(chooseOutputFormat("OUT.WAV", "", 0, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 44100, &note),
              SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(chooseOutputFormat("out.flac", "", 0, floatWav, 2, 48000, &note), SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    EXPECT_NE(note.find("writing 24-bit PCM"), std::string::npos) << note;
    EXPECT_EQ(chooseOutputFormat("out.aif", "", SF_FORMAT_PCM_16, floatWav, 2, 48000, nullptr),
              SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    EXPECT_EQ(chooseOutputFormat("out.ogg", "", 0, floatWav, 2, 48000, nullptr), SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    EXPECT_EQ(chooseOutputFormat("out.opus", "", 0, floatWav, 2, 48000, nullptr), SF_FORMAT_OGG | SF_FORMAT_OPUS);
    // A codec stays in its own container; elsewhere the samples become PCM.
    EXPECT_EQ(chooseOutputFormat("out.wav", "", 0, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 2, 48000, nullptr),
              SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    EXPECT_EQ(chooseOutputFormat("out.mp3", "", 0, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 2, 48000, nullptr),
              SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III);
    EXPECT_THROW(chooseOutputFormat("out.mp4", "", 0, floatWav, 2, 48000, nullptr), UsageError);
    EXPECT_THROW(chooseOutputFormat("out.flac", "", SF_FORMAT_DOUBLE, floatWav, 2, 48000, nullptr), UsageError);

    // Pairings that libsndfile's format check passes but its encoders refuse are never chosen:
    // MPEG in WAV, and Opus at 44.1 kHz, which becomes Vorbis.
    EXPECT_THROW(chooseOutputFormat("out.wav", "", SF_FORMAT_MPEG_LAYER_III, floatWav, 2, 48000, nullptr),
                 UsageError);
    EXPECT_EQ(chooseOutputFormat("out.opus", "", 0, floatWav, 2, 44100, &note), SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    EXPECT_NE(note.find("writing Vorbis"), std::string::npos) << note;

    // The type names the format where the name does not: standard output, or no extension.
    EXPECT_EQ(chooseOutputFormat("-", "FLAC", 0, floatWav, 2, 48000, nullptr), SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    EXPECT_EQ(chooseOutputFormat("take-3", "aiff", 0, floatWav, 1, 48000, nullptr), SF_FORMAT_AIFF | SF_FORMAT_FLOAT);
    EXPECT_THROW(chooseOutputFormat("-", "", 0, floatWav, 2, 48000, nullptr), UsageError);
}

TEST(AtomicFile, AppearsOnlyWhenCommittedWithTheUsualPermissions)
{
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "kestrune-atomic-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path folder = pattern;
    const std::string target = (folder / "Result.TXT").string();
    std::string temporary;
    {
        AtomicFile abandoned(target);
        temporary = abandoned.temporaryPath();
        EXPECT_EQ(fs::path(temporary).parent_path(), folder);
        EXPECT_EQ(extensionOf(temporary), "txt");
        std::ofstream(temporary) << "half";
    }
    EXPECT_FALSE(fs::exists(temporary)) << "an abandoned file was left behind";
    EXPECT_FALSE(fs::exists(target));

    {
        AtomicFile file(target);
        std::ofstream(file.temporaryPath()) << "whole";
        file.commit();
        temporary = file.temporaryPath();
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(static_cast<mode_t>(fs::status(target).permissions()), 0666 & ~mask);
    EXPECT_FALSE(fs::exists(temporary));
    std::ifstream in(target);
    std::string text;
    in >> text;
    EXPECT_EQ(text, "whole");

    EXPECT_THROW(AtomicFile((folder / "gone/x.wav").string()), ToolError);
    EXPECT_THROW(AtomicFile(target + "/x.wav"), ToolError) << "a file is no folder";
    fs::remove_all(folder);
}

// Whether text is whole UTF-8 characters: each lead byte followed by as many continuation bytes
// as it announces (overlong forms are not this test's concern).
bool isWholeUtf8(const std::string& text)
{
    for (std::size_t i = 0; i < text.size();)
    {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3
                                                 : (lead & 0xF8) == 0xF0 ? 4 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k)
        {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += length;
    }
    return true;
}

TEST(AtomicFile, TemporaryNamesOfLongNamesFitAndCutWholeCharacters)
{
    // Names at the folder's limit in characters of 1, 2, 3 and 4 bytes, with a lead byte at every
    // offset, so that wherever the cut falls some name is cut inside a character.
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "kestrune-names-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path folder = pattern;
    const auto longest = static_cast<std::size_t>(::pathconf(folder.c_str(), _PC_NAME_MAX));
    const std::string marker = ".kestrune-partial-" + std::to_string(::getpid()) + "-";
    for (const std::string character : {"a", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9D\x84\x9E"})
    {
        for (std::size_t shift = 0; shift < character.size(); ++shift)
        {
            std::string name(shift, 'x');
            while (name.size() + character.size() + 4 <= longest)
                name += character;
            name += ".wav";
            SCOPED_TRACE(std::to_string(character.size()) + "-byte characters after " + std::to_string(shift));
            AtomicFile file((folder / name).string());
            const std::string temporary = fs::path(file.temporaryPath()).filename().string();
            EXPECT_LE(temporary.size(), longest);
            EXPECT_EQ(extensionOf(temporary), "wav");
            const std::size_t at = temporary.rfind(marker);
            ASSERT_NE(at, std::string::npos) << temporary;
            const std::string kept = temporary.substr(1, at - 1);
            EXPECT_EQ(name.rfind(kept, 0), 0u) << "not the start of the name: " << kept;
            EXPECT_TRUE(isWholeUtf8(kept)) << kept;
            // Cut no more than needed: within one character of the limit.
            EXPECT_GT(temporary.size() + character.size(), longest) << temporary;
        }
    }
    // A short name is kept whole.
    AtomicFile shortName((folder / "take.flac").string());
    EXPECT_EQ(fs::path(shortName.temporaryPath()).filename().string().rfind(".take.flac" + marker, 0), 0u);
    fs::remove_all(folder);
}

TEST(Subprocess, CapturesBothStreamsAndTellsHowTheProgramEnded)
{
    // 200 kB on each stream: more than a pipe holds.
    const Subprocess::Result chatty =
        Subprocess::run({"sh", "-c", "head -c 200000 /dev/zero; head -c 200000 /dev/zero >&2; printf x; exit 7"});
    EXPECT_EQ(chatty.exitCode, 7);
    EXPECT_EQ(chatty.signal, 0);
    EXPECT_EQ(chatty.out, std::string(200000, '\0') + "x");
    EXPECT_EQ(chatty.err, std::string(200000, '\0'));

    Subprocess quiet({"sh", "-c", "echo lost; echo lost >&2; read line && exit 3; exit 4"}, -1, -1);
    EXPECT_EQ(quiet.wait(), 4) << "stdin is not empty";

    const Subprocess::Result killed = Subprocess::run({"sh", "-c", "kill -TERM $$"});
    EXPECT_EQ(killed.exitCode, -1);
    EXPECT_EQ(killed.signal, SIGTERM);

    try
    {
        Subprocess missing({"/nonexistent/program"}, -1, -1);
        ADD_FAILURE() << "a missing program started";
    }
    catch (const std::system_error& error)
    {
        EXPECT_EQ(error.code().value(), ENOENT);
        EXPECT_NE(std::string(error.what()).find("/nonexistent/program"), std::string::npos) << error.what();
    }
}

TEST(Levels, RmsPeakAndLargestReduction)
{
    // 0.5 and -0.25 alternating: mean square (0.25 + 0.0625) / 2, peak 0.5.
    const float input[4] = {0.5f, -0.25f, 0.5f, -0.25f};
    const float output[4] = {0.25f, -0.125f, 0.25f, -0.125f};
    const float gain[4] = {1.0f, 0.25f, std::numeric_limits<float>::quiet_NaN(), 0.5f};
    LevelMeter meter;
    meter.observe({input, input, input, input, output, output, gain, 4});
    EXPECT_NEAR(meter.input().rmsDb(), 10.0 * std::log10(0.15625), 1e-12);
    EXPECT_NEAR(meter.input().peakDb(), 20.0 * std::log10(0.5), 1e-12);
    EXPECT_NEAR(meter.output().rmsDb(), 10.0 * std::log10(0.15625 / 4.0), 1e-12);
    EXPECT_NEAR(meter.maxGainReductionDb(), 20.0 * std::log10(4.0), 1e-12);

    LevelMeter unmeasured;
    unmeasured.observe({input, input, input, input, output, output, nullptr, 4});
    EXPECT_EQ(unmeasured.maxGainReductionDb(), 0.0);
    EXPECT_EQ(Level().peakDb(), -std::numeric_limits<double>::infinity());
}

TEST(ProgressLine, FitsTheTerminalAndShowsTheShareDone)
{
    for (const int width : {40, 80, 200})
    {
        const std::string line = formatProgressLine("render", 4.0, 16.0, width);
        EXPECT_LE(line.size(), static_cast<std::size_t>(width - 1)) << line;
        EXPECT_NE(line.find(" 25%  4.0 of 16.0 s"), std::string::npos) << line;
        const std::size_t open = line.find('[');
        const std::size_t close = line.find(']');
        if (width == 40)
        {
            EXPECT_EQ(open, std::string::npos) << "no room for a bar: " << line;
            continue;
        }
        ASSERT_NE(close, std::string::npos) << line;
        const std::string bar = line.substr(open + 1, close - open - 1);
        EXPECT_GE(bar.size(), 10u);
        const auto filled = std::count(bar.begin(), bar.end(), '#');
        EXPECT_EQ(filled, static_cast<long>(bar.size() / 4)) << line;
    }
    EXPECT_NE(formatProgressLine("x", 20.0, 16.0, 80).find("100%"), std::string::npos);
    EXPECT_LE(formatProgressLine("a long label", 1.0, 2.0, 10).size(), 9u);
}

TEST(TransferCurve, MeasuredThroughTheModuleFollowsTheHardKnee)
{
    // Square waves give the peak detector a steady key, so every measured point lies on
    // T + (L - T)/R + makeup, computed here independently of the tool.
    Effect effect(loadModule(KESTRUNE_MODULE_PATH));
    const float threshold = -30.0f;
    const float ratio = 4.0f;
    const float makeup = 2.0f;
    const std::vector<ParameterSetting> settings = {
        {VAZiro::kAttack, VAZiro::attackToNormalised(0.5f)},
        {VAZiro::kRelease, VAZiro::releaseToNormalised(20.0f)},
        {VAZiro::kRatio, VAZiro::ratioToNormalised(ratio)},
        {VAZiro::kThreshold, VAZiro::thresholdToNormalised(threshold)},
        {VAZiro::kMakeup, VAZiro::makeupToNormalised(makeup)},
    };
    const CurvePicture curve = measureTransferCurve(effect, settings, true);
    ASSERT_EQ(curve.points.size(), 81u);
    EXPECT_TRUE(curve.hasThreshold);
    EXPECT_EQ(curve.thresholdDb, threshold);
    for (const CurvePoint& point : curve.points)
    {
        const double over = std::max(0.0, point.inputDb - threshold);
        const double expected = point.inputDb - over + over / ratio + makeup;
        EXPECT_NEAR(point.steadyDb, expected, 0.01) << "input " << point.inputDb;
        EXPECT_NEAR(point.idealDb, expected, 1e-9) << "input " << point.inputDb;
        // The sine's key dips at zero crossings: never more reduction than the steady level.
        EXPECT_GE(point.sineDb, point.steadyDb - 0.01) << "input " << point.inputDb;
    }
    EXPECT_NEAR(curve.points.front().inputDb, -80.0, 1e-5);
    EXPECT_NEAR(curve.points.back().inputDb, 0.0, 1e-5);
}

TEST(DemoSynthesis, IsTheSameEveryTimeAtTheStatedLevels)
{
    const DemoSignals first = synthesiseDemo();
    const DemoSignals second = synthesiseDemo();
    EXPECT_EQ(first.mainLeft, second.mainLeft);
    EXPECT_EQ(first.mainRight, second.mainRight);
    EXPECT_EQ(first.kick, second.kick);
    ASSERT_EQ(first.mainLeft.size(), static_cast<std::size_t>(kDemoSeconds * kDemoSampleRate));

    auto peakDb = [](std::initializer_list<const std::vector<float>*> channels) {
        double peak = 0.0;
        for (const std::vector<float>* channel : channels)
            for (const float sample : *channel)
                peak = std::max(peak, static_cast<double>(std::fabs(sample)));
        return 20.0 * std::log10(peak);
    };
    EXPECT_NEAR(peakDb({&first.mainLeft, &first.mainRight}), -6.0, 1e-5);
    EXPECT_NEAR(peakDb({&first.kick}), -3.0, 1e-5);
    // Sustained: the main signal never drops out for a whole beat.
    const std::size_t beat = kDemoSampleRate / 2;
    for (std::size_t start = 0; start + beat <= first.mainLeft.size(); start += beat)
    {
        double peak = 0.0;
        for (std::size_t i = start; i < start + beat; ++i)
            peak = std::max(peak, static_cast<double>(std::fabs(first.mainLeft[i])));
        EXPECT_GT(peak, 0.05) << "beat starting at frame " << start;
    }
}

TEST(Titles, BytesThatAreNotUtf8AreEscapedAsPythonShowsThem)
{
    // Expected texts are what Python's bytes.decode("utf-8", "backslashreplace") gives.
    const std::pair<std::string, std::string> cases[] = {
        {"plain.wav", "plain.wav"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5"},  // 2, 3, 4 bytes
        {"caf\xe9.wav", "caf\\xe9.wav"},                        // Latin-1
        {"\xc0\xaf \xe0\x80\xaf", "\\xc0\\xaf \\xe0\\x80\\xaf"},  // overlong forms of '/'
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},                    // a surrogate
        {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},            // above U+10FFFF
        {"\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},                // U+10FFFF itself
        {"\xe2\x82", "\\xe2\\x82"},                            // cut short at the end
        {"\xe2\x82" "a", "\\xe2\\x82a"},                          // cut short before a letter
        {"\x80\xbf\xfe\xff", "\\x80\\xbf\\xfe\\xff"},            // never valid
    };
    for (const auto& [bytes, expected] : cases)
        EXPECT_EQ(escapeUndecodable(bytes), expected);
}

TEST(Printed, TextsOfAnyLengthComeOutWhole)
{
    // The references are put together by concatenation, without printf; compared by length first,
    // so that a failure does not print kilobytes.
    for (const std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{254}, std::size_t{255},
                                     std::size_t{256}, std::size_t{5000}})
    {
        const std::string word(length, 'x');
        const std::string expected = "[" + word + "] 42%";
        const std::string text = printed("[%s] %d%%", word.c_str(), 42);
        EXPECT_EQ(text.size(), expected.size()) << length << " characters";
        EXPECT_TRUE(text == expected) << length << " characters";
    }
}

}  // namespace
