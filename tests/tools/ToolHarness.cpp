#include "ToolHarness.h"

#include <dirent.h>
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tooltest
{

namespace
{

std::vector<char*> argumentVector(std::vector<std::string>& words)
{
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    return argv;
}

int exitCodeOf(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string slurp(int fd)
{
    std::string text;
    char buffer[4096];
    for (;;)
    {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0)
            text.append(buffer, static_cast<std::size_t>(got));
        else if (got < 0 && errno == EINTR)
            continue;
        else
            break;  // end of file, or EIO once the terminal's other side is closed
    }
    return text;
}

void removeTree(const std::string& path)
{
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0)
        return;
    if (S_ISDIR(status.st_mode))
    {
        ::chmod(path.c_str(), 0700);
        if (DIR* dir = ::opendir(path.c_str()))
        {
            while (dirent* entry = ::readdir(dir))
            {
                const std::string name = entry->d_name;
                if (name != "." && name != "..")
                    removeTree(path + "/" + name);
            }
            ::closedir(dir);
        }
        ::rmdir(path.c_str());
    }
    else
        ::unlink(path.c_str());
}

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

}  // namespace

RunResult runTool(const std::vector<std::string>& arguments)
{
    TemporaryFolder captures;
    const std::string outPath = captures.file("stdout");
    const std::string errPath = captures.file("stderr");
    std::vector<std::string> words = {KESTRUNE_TOOL_PATH};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv = argumentVector(words);

    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0)
    {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(in, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR)
    {
    }
    return {exitCodeOf(status), readBytes(outPath), readBytes(errPath)};
}

int runToolInterrupted(const std::vector<std::string>& arguments, int delayMs, int signal)
{
    std::vector<std::string> words = {KESTRUNE_TOOL_PATH};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv = argumentVector(words);
    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0)
    {
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::usleep(static_cast<useconds_t>(delayMs) * 1000);
    ::kill(child, signal);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR)
    {
    }
    return exitCodeOf(status);
}

RunResult runToolOnTerminal(const std::vector<std::string>& arguments)
{
    std::vector<std::string> words = {KESTRUNE_TOOL_PATH};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv = argumentVector(words);

    int master = -1;
    struct winsize size{};
    size.ws_col = 100;
    size.ws_row = 30;
    const pid_t child = ::forkpty(&master, nullptr, nullptr, &size);
    if (child < 0)
        throw std::runtime_error("forkpty failed");
    if (child == 0)
    {
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    const std::string written = slurp(master);
    ::close(master);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR)
    {
    }
    return {exitCodeOf(status), std::string(), written};
}

TemporaryFolder::TemporaryFolder()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != 0 ? base : "/tmp") + "/kestrune-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = buffer.data();
}

TemporaryFolder::~TemporaryFolder()
{
    removeTree(m_path);
}

std::vector<std::string> listFolder(const std::string& path)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(path.c_str()))
    {
        while (dirent* entry = ::readdir(dir))
        {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
    }
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

bool fileExists(const std::string& path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0;
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
