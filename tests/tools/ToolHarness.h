// Runs the built kestrune program and makes and reads the audio files the end-to-end tests need.
#pragma once

#include <sndfile.h>

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tooltest
{

struct RunResult
{
    int exitCode;  // -1 when a signal ended the program
    std::string out;
    std::string err;
    int signal = 0;  // the signal that ended it, 0 when it exited
};

// Runs kestrune with the arguments, stdin from /dev/null, stdout and stderr captured.
RunResult runTool(const std::vector<std::string>& arguments);
// The same for another program, searched on PATH; exit code 127 when it cannot be started.
RunResult runProgram(const std::vector<std::string>& words);
// Runs kestrune with stdout and stderr on a pseudo-terminal (stdin from /dev/null) and returns what
// it wrote there in err. onText, when given, sees everything written so far after each read, with
// the program's process id and the terminal's controlling side, on which it may act.
RunResult runToolOnTerminal(const std::vector<std::string>& arguments,
                            const std::function<void(const std::string& text, pid_t pid, int terminal)>& onText = {});

// Names of everything in a folder, hidden files included, sorted.
std::vector<std::string> listFolder(const std::filesystem::path& path);

// A fresh folder under the system's temporary folder, removed with its contents at the end.
class TemporaryFolder
{
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    std::vector<std::string> entries() const { return listFolder(m_path); }

private:
    std::string m_path;
};

// Interleaved float samples of a file and its description.
struct Audio
{
    SF_INFO info{};
    std::vector<float> samples;

    std::int64_t frames() const { return info.frames; }
    float at(std::int64_t frame, int channel) const
    {
        return samples[static_cast<std::size_t>(frame * info.channels + channel)];
    }
};

// Writes frames x channels samples given by signal(frame, channel) (full scale = 1.0). Integer
// formats receive the samples rounded to their resolution through sf_write_int, so the file holds
// exactly the values the caller meant.
void writeAudio(const std::string& path, int format, int channels, int sampleRate, std::int64_t frames,
                const std::function<double(std::int64_t frame, int channel)>& signal);
Audio readAudio(const std::string& path);
// The samples as libsndfile's integers (left-justified in 32 bits), for exact comparisons of PCM.
std::vector<int> readIntegers(const std::string& path);
std::string readBytes(const std::string& path);

// Width and height from the IHDR chunk of a PNG; throws std::runtime_error for a file that does not
// start with the PNG signature and an IHDR chunk or does not end with an IEND chunk.
struct PngSize
{
    std::uint32_t width;
    std::uint32_t height;
};
PngSize readPngSize(const std::string& path);

}  // namespace tooltest
