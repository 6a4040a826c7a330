#include "AudioFile.h"

#include "ToolError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>

namespace kestrune
{

namespace
{

struct SampleFormat
{
    const char* name;  // for --format
    int subtype;
    const char* description;
    int integerBits;  // written here through integers, bit-exactly; 0 for the rest
};

const SampleFormat kSampleFormats[] = {
    {"pcm8", SF_FORMAT_PCM_S8, "8-bit PCM", 8},
    {"pcm16", SF_FORMAT_PCM_16, "16-bit PCM", 16},
    {"pcm24", SF_FORMAT_PCM_24, "24-bit PCM", 24},
    {"pcm32", SF_FORMAT_PCM_32, "32-bit PCM", 32},
    {"float", SF_FORMAT_FLOAT, "32-bit float", 0},
    {"double", SF_FORMAT_DOUBLE, "64-bit float", 0},
    {"vorbis", SF_FORMAT_VORBIS, "Vorbis", 0},
    {"opus", SF_FORMAT_OPUS, "Opus", 0},
    {"mp3", SF_FORMAT_MPEG_LAYER_III, "MPEG layer III", 0},
};

int integerBits(int format)
{
    const int subtype = format & SF_FORMAT_SUBMASK;
    const auto known = std::find_if(std::begin(kSampleFormats), std::end(kSampleFormats),
                                    [subtype](const SampleFormat& entry) { return entry.subtype == subtype; });
    if (known != std::end(kSampleFormats))
        return known->integerBits;
    return subtype == SF_FORMAT_PCM_U8 ? 8 : 0;
}

// Extension -> major format, from libsndfile's own list plus common spellings it does not list.
// Raw files are left out: they cannot be read back without being told their layout.
const std::map<std::string, int>& majorFormatsByExtension()
{
    static const std::map<std::string, int> formats = [] {
        std::map<std::string, int> table;
        int count = 0;
        sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
        for (int i = 0; i < count; ++i)
        {
            SF_FORMAT_INFO info{};
            info.format = i;
            sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info);
            if (info.extension != nullptr && (info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_RAW)
                table.emplace(info.extension, info.format & SF_FORMAT_TYPEMASK);
        }
        table.insert({{"wave", SF_FORMAT_WAV}, {"aif", SF_FORMAT_AIFF}, {"aifc", SF_FORMAT_AIFF}});
        table.insert({{"ogg", SF_FORMAT_OGG}, {"oga", SF_FORMAT_OGG}, {"opus", SF_FORMAT_OGG}});
        table.insert({"mp3", SF_FORMAT_MPEG});
        return table;
    }();
    return formats;
}

// libsndfile's format check passes pairings that its encoders then refuse (MPEG in WAV, Opus at
// 44.1 kHz), so a format counts as usable once a file of it opens, written to /dev/null.
bool formatUsable(int format, int channels, int sampleRate)
{
    SF_INFO info{0, sampleRate, channels, format, 0, 0};
    SNDFILE* file = sf_open_fd(::open("/dev/null", O_RDWR), SFM_WRITE, &info, SF_TRUE);
    if (file != nullptr)
        sf_close(file);
    return file != nullptr;
}

// libsndfile gives IEEE float WAV files a 16-byte fmt chunk, which readers such as sox take for a
// header missing its extension; they expect the 18-byte form (cbSize 0) that goes with the fact
// chunk. The two bytes come out of the PAD chunk libsndfile reserves after the fact chunk, so no
// sample moves. A header laid out otherwise is left as it is.
void extendFloatFormatChunk(int descriptor)
{
    unsigned char header[56];  // RIFF WAVE, fmt with 16 bytes, fact with 4, the PAD chunk's head
    if (::pread(descriptor, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header))
        return;
    const auto littleEndian = [](const unsigned char* at) {
        return static_cast<std::uint32_t>(at[0] | at[1] << 8 | at[2] << 16 | static_cast<std::uint32_t>(at[3]) << 24);
    };
    const auto chunk = [&](int at, const char* id) { return std::memcmp(header + at, id, 4) == 0; };
    const std::uint32_t padding = littleEndian(header + 52);
    if (!chunk(0, "RIFF") || !chunk(8, "WAVE") || !chunk(12, "fmt ") || littleEndian(header + 16) != 16 ||
        !chunk(36, "fact") || littleEndian(header + 40) != 4 || !chunk(48, "PAD ") || padding < 2)
        return;
    unsigned char extended[58] = {};
    std::memcpy(extended, header, 36);
    extended[16] = 18;  // cbSize, the two zero bytes at 36, follows
    std::memcpy(extended + 38, header + 36, 20);
    for (int i = 0; i < 4; ++i)
        extended[54 + i] = static_cast<unsigned char>((padding - 2) >> (8 * i));
    if (::pwrite(descriptor, extended, sizeof extended, 0) != static_cast<ssize_t>(sizeof extended))
        throw ToolError(std::string("cannot complete the WAV header: ") + std::strerror(errno));
}

// Reads a file through positional reads, as if it were claimedLength bytes long.
struct ClaimedLengthView
{
    int descriptor;
    sf_count_t claimedLength;
    sf_count_t position = 0;

    static ClaimedLengthView& of(void* user) { return *static_cast<ClaimedLengthView*>(user); }
    static sf_count_t length(void* user) { return of(user).claimedLength; }
    static sf_count_t tell(void* user) { return of(user).position; }
    static sf_count_t write(const void*, sf_count_t, void*) { return 0; }

    static sf_count_t seek(sf_count_t offset, int whence, void* user)
    {
        ClaimedLengthView& view = of(user);
        const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? view.position : view.claimedLength;
        return view.position = base + offset;
    }

    static sf_count_t read(void* bytes, sf_count_t count, void* user)
    {
        ClaimedLengthView& view = of(user);
        const ssize_t got = ::pread(view.descriptor, bytes, static_cast<std::size_t>(count), view.position);
        view.position += std::max<sf_count_t>(got, 0);
        return got;
    }
};

// The frames a file's header declares. libsndfile trusts a header only as far as the file's size
// agrees, so a file cut short reports the frames it holds; read as if the file were longer, it
// reports the header's count. A count that changes with the claimed length was worked out from it
// (a header that does not say, or a format that counts by size): then -1. Compressed formats count
// by reading through, so they are not asked.
std::int64_t declaredFrames(int descriptor, int format)
{
    const int major = format & SF_FORMAT_TYPEMASK;
    if (major == SF_FORMAT_OGG || major == SF_FORMAT_MPEG || major == SF_FORMAT_FLAC)
        return -1;
    std::int64_t counts[2] = {-1, -1};
    for (int i = 0; i < 2; ++i)
    {
        ClaimedLengthView view{descriptor, sf_count_t{1} << (40 + i)};
        SF_VIRTUAL_IO io = {ClaimedLengthView::length, ClaimedLengthView::seek, ClaimedLengthView::read,
                            ClaimedLengthView::write, ClaimedLengthView::tell};
        SF_INFO info{};
        SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &view);
        if (file == nullptr)
            return -1;
        counts[i] = info.frames;
        sf_close(file);
    }
    return counts[0] == counts[1] ? counts[0] : -1;
}

// Writers that stream a file before they know its length put the largest size they dare into its
// header (0xFFFFFFFF, 0x7FFFFFFF, sox's 0x7F000000 for AIFF): a count of 2^31 - 2^24 bytes or more
// means "not said", not a promise. Bytes per sample are a lower bound where the format does not
// say them plainly, so a compressed stream is rather taken as not saying.
bool placeholderLength(std::int64_t frames, const SF_INFO& info)
{
    int bytes = 1;
    switch (info.format & SF_FORMAT_SUBMASK)
    {
    case SF_FORMAT_PCM_16:
        bytes = 2;
        break;
    case SF_FORMAT_PCM_24:
        bytes = 3;
        break;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        bytes = 4;
        break;
    case SF_FORMAT_DOUBLE:
        bytes = 8;
        break;
    default:
        break;
    }
    return frames >= (std::int64_t{0x7F000000} + info.channels * bytes - 1) / (info.channels * bytes);
}

}  // namespace

// --- reading -------------------------------------------------------------------------------------

AudioReader::AudioReader(const std::string& path, const std::string& role)
    : m_path(displayName(path, false)), m_role("the " + role + (path == "-" ? " from " : " "))
{
    m_file.reset(path == "-" ? openStandardInput(m_info) : openFile(path, m_info));
    if (m_file == nullptr)
        throw ToolError("cannot read " + m_path + ": not an audio format libsndfile can read" +
                        (path == "-" ? " from a pipe" : "") + " (" + sf_strerror(nullptr) + ")");
    if (m_info.frames == SF_COUNT_MAX)
        m_info.frames = -1;  // a stream that does not say its length
    findDeclaredLength(path);
    if (m_info.channels > 2)
        throw ToolError("the " + role + " " + m_path + " has " + std::to_string(m_info.channels) +
                        " channels; kestrune takes mono or stereo files");
    if (m_info.channels < 1 || m_info.samplerate < 1)
        throw ToolError("cannot read " + m_path + ": no channels or no sample rate");
}

SNDFILE* AudioReader::openStandardInput(SF_INFO& info)
{
    // A closed standard input was given /dev/null for writing only at start.
    if ((::fcntl(STDIN_FILENO, F_GETFL) & O_ACCMODE) == O_WRONLY)
        throw ToolError("cannot read standard input: " + std::string(std::strerror(EBADF)));
    return sf_open_fd(STDIN_FILENO, SFM_READ, &info, SF_FALSE);
}

SNDFILE* AudioReader::openFile(const std::string& path, SF_INFO& info)
{
    // libsndfile reports a missing file and an unknown format alike; tell the user which it is.
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        throw ToolError("cannot read " + path + ": it is a folder");
    if (::access(path.c_str(), R_OK) != 0)
        throw ToolError("cannot read " + path + ": " + std::strerror(errno));
    return sf_open(path.c_str(), SFM_READ, &info);
}

void AudioReader::findDeclaredLength(const std::string& path)
{
    m_declared = m_info.frames;  // from a pipe, what the header says
    const int descriptor = path == "-" ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat status{};
    const bool regular = descriptor >= 0 && ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
    if (regular)
        m_declared = std::max(m_declared, declaredFrames(descriptor, m_info.format));
    if (descriptor >= 0 && descriptor != STDIN_FILENO)
        ::close(descriptor);
    if (placeholderLength(m_declared, m_info))
    {
        m_declared = -1;
        if (!regular)
            m_info.frames = -1;
    }
}

std::size_t AudioReader::read(float* stereo, std::size_t count)
{
    const sf_count_t got = sf_readf_float(m_file.get(), stereo, static_cast<sf_count_t>(count));
    if (got < 0 || (got == 0 && sf_error(m_file.get()) != SF_ERR_NO_ERROR))
        throw ToolError("cannot read " + m_path + ": " + sf_strerror(m_file.get()));
    if (m_info.channels == 1)  // spread from the end, where no sample is overwritten before it is read
        for (sf_count_t i = got; i-- > 0;)
            stereo[2 * i] = stereo[2 * i + 1] = stereo[i];
    m_delivered += got;
    m_ended = m_ended || static_cast<std::size_t>(got) < count;
    return static_cast<std::size_t>(got);
}

std::string AudioReader::shortfall() const
{
    if (!m_ended || m_declared < 0 || m_delivered >= m_declared)
        return {};
    return m_role + m_path + " ended after " +
           std::to_string(m_delivered) + " of the " + std::to_string(m_declared) + " frames its header declares";
}

// --- writing -------------------------------------------------------------------------------------

AudioWriter::AudioWriter(const std::string& path, int format, int channels, int sampleRate)
    : m_file(path), m_format(format), m_channels(channels), m_integerBits(integerBits(format))
{
    // Every byte goes through here, so no failed write goes unnoticed, whatever an encoder does
    // with the return values (the MPEG encoder writes its last frames when the file is closed).
    struct Io
    {
        static int descriptor(void* user) { return static_cast<AudioWriter*>(user)->m_file.descriptor(); }
        static sf_count_t tell(void* user) { return ::lseek(descriptor(user), 0, SEEK_CUR); }

        static sf_count_t seek(sf_count_t offset, int whence, void* user)
        {
            return ::lseek(descriptor(user), offset, whence);
        }

        static sf_count_t length(void* user)
        {
            struct stat status{};
            return ::fstat(descriptor(user), &status) == 0 ? status.st_size : -1;
        }

        static sf_count_t read(void* bytes, sf_count_t count, void* user)
        {
            return ::read(descriptor(user), bytes, static_cast<std::size_t>(count));
        }

        static sf_count_t write(const void* bytes, sf_count_t count, void* user)
        {
            sf_count_t done = 0;
            ssize_t put = 0;
            while (done < count &&
                   (put = ::write(descriptor(user), static_cast<const char*>(bytes) + done, count - done)) > 0)
                done += put;
            int& error = static_cast<AudioWriter*>(user)->m_writeError;
            if (done < count && error == 0)
                error = put < 0 ? errno : EIO;
            return done;
        }
    };
    SF_VIRTUAL_IO io = {Io::length, Io::seek, Io::read, Io::write, Io::tell};
    SF_INFO info{0, sampleRate, channels, format, 0, 0};
    m_sndfile.reset(sf_open_virtual(&io, SFM_WRITE, &info, this));
    if (m_sndfile == nullptr)
        fail(sf_strerror(nullptr));
    // The PEAK chunk of float files carries the time of writing: the same audio would give
    // different files on every run.
    sf_command(m_sndfile.get(), SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    const int subtype = format & SF_FORMAT_SUBMASK;
    if (m_integerBits == 0 && subtype != SF_FORMAT_FLOAT && subtype != SF_FORMAT_DOUBLE)
        sf_command(m_sndfile.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
}

void AudioWriter::fail(const std::string& reason) const
{
    throw ToolError("cannot write " + displayName(m_file.path()) + ": " + reason);
}

void AudioWriter::writeStereo(const float* left, const float* right, std::size_t frames)
{
    // Integers are rounded to the target's own resolution and clipped, then left-justified in 32
    // bits, which libsndfile shortens without rounding again. Reading divides by 2^(n-1), so such
    // samples survive a read and a write unchanged; libsndfile's own writing of floats would scale
    // by 2^(n-1) - 1.
    const double scale = std::ldexp(1.0, m_integerBits - 1);
    const auto quantise = [&](double x) {
        double q = std::nearbyint(x * scale);
        if (std::isnan(q))
            q = 0.0;
        if (q > scale - 1.0 || q < -scale)
        {
            q = q > 0.0 ? scale - 1.0 : -scale;
            ++m_clipped;
        }
        return static_cast<int>(static_cast<std::int64_t>(q) * (std::int64_t{1} << (32 - m_integerBits)));
    };
    const std::size_t channels = static_cast<std::size_t>(m_channels);
    m_integerFrames.resize(frames * channels);
    m_floatFrames.resize(frames * channels);
    for (std::size_t i = 0; i < frames; ++i)
        for (std::size_t c = 0; c < channels; ++c)
        {
            const double x =
                channels == 1 ? (static_cast<double>(left[i]) + right[i]) * 0.5 : (c == 0 ? left : right)[i];
            if (m_integerBits != 0)
                m_integerFrames[i * channels + c] = quantise(x);
            else
                m_floatFrames[i * channels + c] = static_cast<float>(x);
        }
    const sf_count_t written =
        m_integerBits != 0 ? sf_writef_int(m_sndfile.get(), m_integerFrames.data(), static_cast<sf_count_t>(frames))
                           : sf_writef_float(m_sndfile.get(), m_floatFrames.data(), static_cast<sf_count_t>(frames));
    if (m_writeError != 0)
        fail(std::strerror(m_writeError));
    if (written != static_cast<sf_count_t>(frames))
        fail(sf_strerror(m_sndfile.get()));
}

void AudioWriter::commit()
{
    const int status = sf_close(m_sndfile.release());
    if (m_writeError != 0)
        fail(std::strerror(m_writeError));
    if (status != 0)
        fail(sf_error_number(status));
    const int subtype = m_format & SF_FORMAT_SUBMASK;
    if ((m_format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV && (subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE))
        extendFloatFormatChunk(m_file.descriptor());
    m_file.commit();
}

// --- formats -------------------------------------------------------------------------------------

std::vector<std::string> sampleFormatNames()
{
    std::vector<std::string> names;
    for (const SampleFormat& format : kSampleFormats)
        names.push_back(format.name);
    return names;
}

int sampleFormatFromName(const std::string& name)
{
    const auto found = std::find_if(std::begin(kSampleFormats), std::end(kSampleFormats),
                                    [&name](const SampleFormat& format) { return name == format.name; });
    return found == std::end(kSampleFormats) ? 0 : found->subtype;
}

std::string describeSampleFormat(int subtype)
{
    SF_FORMAT_INFO info{subtype & SF_FORMAT_SUBMASK, nullptr, nullptr};
    const auto known = std::find_if(std::begin(kSampleFormats), std::end(kSampleFormats),
                                    [&info](const SampleFormat& entry) { return entry.subtype == info.format; });
    if (known != std::end(kSampleFormats))
        return known->description;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name != nullptr)
        return info.name;
    return "unknown sample format";
}

std::string writableExtensions()
{
    std::string list;
    for (const auto& entry : majorFormatsByExtension())
        list += (list.empty() ? "" : ", ") + entry.first;
    return list;
}

namespace
{

// What an output file is to hold: its major format, how messages name it and its files ("the .wav
// files"), and the layout that every sample format tried must take.
struct OutputContainer
{
    int major;
    std::string extension;  // in lower case
    std::string name;
    int channels;
    int sampleRate;

    std::string files() const { return "." + extension + " files"; }
    bool holds(int subtype) const { return formatUsable(major | subtype, channels, sampleRate); }
};

// The major format that type (from -t) or else the extension names.
OutputContainer outputContainer(const std::string& path, const std::string& type, int channels, int sampleRate)
{
    if (type.empty() && path == "-")
        throw UsageError("name the format of standard output with -t TYPE (e.g. -t wav)");
    std::string extension = type.empty() ? extensionOf(path) : type;
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto& formats = majorFormatsByExtension();
    const auto found = formats.find(extension);
    if (found == formats.end())
        throw UsageError("cannot write " + displayName(path) + ": libsndfile writes no format " +
                         (type.empty() ? "with the extension '" : "of the type '") + extension + "' (it writes " +
                         writableExtensions() + ")");
    return {found->second, extension, displayName(path), channels, sampleRate};
}

// --format's sample format, or a refusal that names those the container takes.
int requestedFormat(const OutputContainer& container, int subtype)
{
    if (container.holds(subtype))
        return container.major | subtype;
    std::string usable;
    for (const SampleFormat& format : kSampleFormats)
    {
        if (container.holds(format.subtype))
            usable += (usable.empty() ? "" : ", ") + std::string(format.name);
    }
    throw UsageError("cannot write " + container.name + ": " + container.files() + " cannot hold " +
                     describeSampleFormat(subtype) + " samples at " + std::to_string(container.sampleRate) +
                     " Hz (--format takes " + (usable.empty() ? "none of the known formats" : usable) + " for them)");
}

// The first sample format the container takes, the input's if it can.
int fallbackFormat(const OutputContainer& container, int inputFormat, std::string* note)
{
    // A codec's own container asks for that codec first.
    const int inputSubtype = inputFormat & SF_FORMAT_SUBMASK;
    const int ownCodec = container.extension == "opus"        ? SF_FORMAT_OPUS
                         : container.major == SF_FORMAT_MPEG ? SF_FORMAT_MPEG_LAYER_III
                                                             : 0;
    const int candidates[] = {ownCodec, inputSubtype, SF_FORMAT_PCM_24, SF_FORMAT_PCM_16, SF_FORMAT_FLOAT,
                              SF_FORMAT_VORBIS, SF_FORMAT_MPEG_LAYER_III};
    for (const int subtype : candidates)
    {
        if (subtype == 0 || !container.holds(subtype))
            continue;
        if (subtype != inputSubtype && note != nullptr)
            *note = container.files() + " cannot hold the input's " + describeSampleFormat(inputSubtype) +
                    " samples; writing " + describeSampleFormat(subtype);
        return container.major | subtype;
    }
    throw UsageError("cannot write " + container.name + ": libsndfile cannot write " + container.files() + " with " +
                     std::to_string(container.channels) + " channel(s) at " + std::to_string(container.sampleRate) +
                     " Hz");
}

}  // namespace

int chooseOutputFormat(const std::string& path, const std::string& type, int requestedSubtype, int inputFormat,
                       int channels, int sampleRate, std::string* note)
{
    const OutputContainer container = outputContainer(path, type, channels, sampleRate);
    return requestedSubtype != 0 ? requestedFormat(container, requestedSubtype)
                                 : fallbackFormat(container, inputFormat, note);
}

}  // namespace kestrune
