// A progress bar on standard error for long renders. It is drawn only when standard error is a
// terminal, the run is not --quiet and the audio is longer than kProgressMinimumSeconds, so
// scripts, pipes and logs never see it. The line is cleared when the bar is destroyed.
#pragma once

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

namespace kestrune
{

constexpr double kProgressMinimumSeconds = 10.0;

// One line of the bar for a terminal `width` columns wide, e.g.
// "render  [#######-------------]  35%  5.6 of 16.0 s". Never wider than width - 1.
inline std::string formatProgressLine(const std::string& label, double seconds, double totalSeconds, int width)
{
    const double fraction = totalSeconds > 0.0 ? std::clamp(seconds / totalSeconds, 0.0, 1.0) : 1.0;
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "%3d%%  %.1f of %.1f s", static_cast<int>(fraction * 100.0), seconds,
                  totalSeconds);

    // label, two blanks, [bar], two blanks, numbers; the bar takes what is left and is left out
    // when fewer than 10 columns remain for it (the line is then cut to the width).
    const int barWidth = width - 1 - static_cast<int>(label.size() + std::strlen(numbers)) - 6;
    if (barWidth < 10)
    {
        const std::string line = label + "  " + numbers;
        return width > 1 ? line.substr(0, static_cast<std::size_t>(width - 1)) : line;
    }
    const int filled = static_cast<int>(fraction * barWidth);
    return label + "  [" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(barWidth - filled), '-') + "]  " + numbers;
}

class ProgressBar
{
public:
    ProgressBar(std::string label, std::int64_t totalFrames, double sampleRate, bool quiet)
        : m_label(std::move(label)), m_total(totalFrames), m_sampleRate(sampleRate),
          m_enabled(!quiet && ::isatty(STDERR_FILENO) != 0 && sampleRate > 0.0 &&
                    static_cast<double>(totalFrames) / sampleRate > kProgressMinimumSeconds)
    {
    }

    ~ProgressBar()
    {
        if (m_drawn)
        {
            std::fputs("\r\033[K", stderr);
            std::fflush(stderr);
        }
    }

    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Counts frames rendered; redraws at most ten times a second.
    void advance(std::int64_t frames)
    {
        if (!m_enabled)
            return;
        m_done += frames;
        const auto now = std::chrono::steady_clock::now();
        if (m_drawn && now - m_lastDraw < std::chrono::milliseconds(100) && m_done < m_total)
            return;
        m_lastDraw = now;
        struct winsize terminal{};
        const bool sized = ::ioctl(STDERR_FILENO, TIOCGWINSZ, &terminal) == 0 && terminal.ws_col > 0;
        const std::string line = formatProgressLine(m_label, static_cast<double>(m_done) / m_sampleRate,
                                                    static_cast<double>(m_total) / m_sampleRate,
                                                    sized ? terminal.ws_col : 80);
        std::fprintf(stderr, "\r%s", line.c_str());
        std::fflush(stderr);
        m_drawn = true;
    }

private:
    std::string m_label;
    std::int64_t m_total;
    std::int64_t m_done = 0;
    double m_sampleRate;
    bool m_enabled;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_lastDraw;
};

}  // namespace kestrune
