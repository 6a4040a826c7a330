#include "ToolHarness.h"

#include "Process.h"

#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace tooltest
{

namespace
{

int integerBits(int format)
{
    switch (format & SF_FORMAT_SUBMASK)
    {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return 8;
    case SF_FORMAT_PCM_16:
        return 16;
    case SF_FORMAT_PCM_24:
        return 24;
    default:
        return 0;
    }
}

std::vector<std::string> toolCommand(const std::vector<std::string>& arguments)
{
    std::vector<std::string> words = {KESTRUNE_TOOL_PATH};
    words.insert(words.end(), arguments.begin(), arguments.end());
    return words;
}

}  // namespace

RunResult runTool(const std::vector<std::string>& arguments)
{
    return runProgram(toolCommand(arguments));
}

RunResult runProgram(const std::vector<std::string>& words)
{
    try
    {
        const kestrune::Subprocess::Result result = kestrune::Subprocess::run(words);
        return {result.exitCode, result.out, result.err, result.signal};
    }
    catch (const std::system_error& error)
    {
        return {127, std::string(), error.what()};
    }
}

RunResult runToolOnTerminal(const std::vector<std::string>& arguments,
                            const std::function<void(const std::string&, pid_t, int)>& onText)
{
    int terminal = -1;
    int side = -1;
    struct winsize size{};
    size.ws_col = 100;
    size.ws_row = 30;
    if (::openpty(&terminal, &side, nullptr, nullptr, &size) != 0)
        throw std::runtime_error("openpty failed");
    kestrune::Subprocess tool(toolCommand(arguments), side, side);
    ::close(side);
    std::string written;
    char buffer[4096];
    for (;;)
    {
        const ssize_t got = ::read(terminal, buffer, sizeof buffer);
        if (got > 0)
        {
            written.append(buffer, static_cast<std::size_t>(got));
            if (onText)
                onText(written, tool.pid(), terminal);
        }
        else if (got == 0 || errno != EINTR)
            break;  // end of file, or EIO once the program has closed its side
    }
    ::close(terminal);
    const int exitCode = tool.wait();
    return {exitCode, std::string(), written, tool.terminatingSignal()};
}

TemporaryFolder::TemporaryFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrune-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a folder like " + pattern);
    m_path = pattern;
}

TemporaryFolder::~TemporaryFolder()
{
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
}

std::vector<std::string> listFolder(const std::filesystem::path& path)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void writeAudio(const std::string& path, int format, int channels, int sampleRate, std::int64_t frames,
                const std::function<double(std::int64_t, int)>& signal)
{
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = sampleRate;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        throw std::runtime_error("cannot write " + path + ": " + sf_strerror(nullptr));
    const int bits = integerBits(format);
    std::vector<int> integers;
    std::vector<float> floats;
    for (std::int64_t frame = 0; frame < frames; ++frame)
    {
        for (int channel = 0; channel < channels; ++channel)
        {
            const double value = signal(frame, channel);
            if (bits != 0)
            {
                const double scale = std::ldexp(1.0, bits - 1);
                const double q = std::clamp(std::nearbyint(value * scale), -scale, scale - 1.0);
                integers.push_back(static_cast<int>(static_cast<std::int64_t>(q) * (std::int64_t{1} << (32 - bits))));
            }
            else
                floats.push_back(static_cast<float>(value));
        }
    }
    if (bits != 0)
        sf_write_int(file, integers.data(), static_cast<sf_count_t>(integers.size()));
    else
        sf_write_float(file, floats.data(), static_cast<sf_count_t>(floats.size()));
    sf_close(file);
}

Audio readAudio(const std::string& path)
{
    Audio audio;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &audio.info);
    if (file == nullptr)
        throw std::runtime_error("cannot read " + path + ": " + sf_strerror(nullptr));
    audio.samples.resize(static_cast<std::size_t>(audio.info.frames * audio.info.channels));
    sf_readf_float(file, audio.samples.data(), audio.info.frames);
    sf_close(file);
    return audio;
}

std::vector<int> readIntegers(const std::string& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        throw std::runtime_error("cannot read " + path + ": " + sf_strerror(nullptr));
    std::vector<int> samples(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_int(file, samples.data(), info.frames);
    sf_close(file);
    return samples;
}

std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

PngSize readPngSize(const std::string& path)
{
    const std::string bytes = readBytes(path);
    static const char signature[] = "\x89PNG\r\n\x1a\n";
    if (bytes.size() < 33 || bytes.compare(0, 8, std::string(signature, 8)) != 0)
        throw std::runtime_error(path + " is not a PNG file");
    if (bytes.compare(12, 4, "IHDR") != 0)
        throw std::runtime_error(path + " does not start with an IHDR chunk");
    auto bigEndian = [&bytes](std::size_t at) {
        return (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 24) |
               (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16) |
               (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8) |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
    };
    if (bigEndian(8) != 13)
        throw std::runtime_error(path + " has an IHDR chunk of the wrong length");
    // A complete file ends with an empty IEND chunk.
    static const char end[] = "\0\0\0\0IEND\xae\x42\x60\x82";
    if (bytes.compare(bytes.size() - 12, 12, std::string(end, 12)) != 0)
        throw std::runtime_error(path + " does not end with an IEND chunk");
    return {bigEndian(16), bigEndian(20)};
}

}  // namespace tooltest
