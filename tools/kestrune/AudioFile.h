// Audio files through libsndfile: streaming, deinterleaved stereo reading and writing, and the
// choice of the output format from the file name.
#pragma once

#include "AtomicFile.h"

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrune
{

// Interleaved stereo frames for the render loop; mono material repeats its channel on both sides.
class FrameSource
{
public:
    virtual ~FrameSource() = default;
    virtual int sampleRate() const = 0;
    virtual std::int64_t frames() const = 0;  // total length as known beforehand, -1 when unknown
    // Reads up to `count` frames into stereo (2 * count samples); fewer only at the end.
    virtual std::size_t read(float* stereo, std::size_t count) = 0;
};

// A mono or stereo file, or standard input for "-".
class AudioReader : public FrameSource
{
public:
    // Throws ToolError naming the file, as the `role` ("input", "sidechain"), for a file that is
    // missing, unreadable, a folder, in a format libsndfile cannot read, or of more than 2 channels.
    AudioReader(const std::string& path, const std::string& role);

    int channels() const { return m_info.channels; }
    int sampleRate() const override { return m_info.samplerate; }
    std::int64_t frames() const override { return m_info.frames; }
    int format() const { return m_info.format; }  // SF_FORMAT_* major | subtype
    std::size_t read(float* stereo, std::size_t count) override;

    // Once reading has reached the end: "" when every frame the header declares arrived, else a
    // sentence naming the file and both counts (a cut download, a pipe that ended early).
    std::string shortfall() const;

private:
    static SNDFILE* openStandardInput(SF_INFO& info);
    static SNDFILE* openFile(const std::string& path, SF_INFO& info);
    // What the header declares, where a stream's placeholder for "not said" counts as unknown.
    void findDeclaredLength(const std::string& path);

    std::string m_path;
    std::string m_role;  // "the input ", "the sidechain from " (standard input) ...
    SF_INFO m_info{};
    std::int64_t m_declared = -1;  // frames the header declares, -1 when it does not say
    std::int64_t m_delivered = 0;
    bool m_ended = false;
    std::unique_ptr<SNDFILE, decltype(&sf_close)> m_file{nullptr, sf_close};
};

// Writes through an AtomicFile ("-" is standard output) with the complete SF_FORMAT_* format.
// Throws ToolError when libsndfile refuses the format or the file, and when a write fails (a full
// disk), then or later. Integer PCM comes out bit-exact (see writeStereo); float keeps every bit.
class AudioWriter
{
public:
    AudioWriter(const std::string& path, int format, int channels, int sampleRate);

    // A mono file receives the mean of left and right, which is either channel when they agree.
    void writeStereo(const float* left, const float* right, std::size_t frames);
    // Completes the file and renames it over the destination.
    void commit();

    // Samples beyond full scale that an integer format had to clip.
    std::int64_t clippedSamples() const { return m_clipped; }

private:
    [[noreturn]] void fail(const std::string& reason) const;

    AtomicFile m_file;
    int m_writeError = 0;  // errno of the first failed write
    int m_format;
    int m_channels;
    std::unique_ptr<SNDFILE, decltype(&sf_close)> m_sndfile{nullptr, sf_close};
    int m_integerBits = 0;  // 8, 16, 24 or 32 when written through integers, 0 for float writing
    std::int64_t m_clipped = 0;
    std::vector<float> m_floatFrames;
    std::vector<int> m_integerFrames;
};

// The sample formats --format accepts, e.g. "pcm16", "float"; and their SF_FORMAT_* subtypes.
std::vector<std::string> sampleFormatNames();
int sampleFormatFromName(const std::string& name);  // 0 for an unknown name
std::string describeSampleFormat(int subtype);      // "16-bit PCM", "32-bit float", ...

// The output format for a file name: the major format that type (from -t, e.g. "wav") or else the
// extension names, and a sample format. requestedSubtype (from --format, 0 when not given) must be
// one libsndfile can write in that major format; otherwise the first that works of: the codec an
// .opus or .mp3 name asks for, the input's, 24-bit PCM, 16-bit PCM, float, Vorbis, MPEG layer III.
// Throws UsageError for a type libsndfile cannot write, for standard output without a type and
// for a requested sample format that does not work, naming those that do. note receives a
// sentence when the input's sample format had to be replaced.
int chooseOutputFormat(const std::string& path, const std::string& type, int requestedSubtype, int inputFormat,
                       int channels, int sampleRate, std::string* note);

// The extensions chooseOutputFormat knows, for messages and help.
std::string writableExtensions();

}  // namespace kestrune
