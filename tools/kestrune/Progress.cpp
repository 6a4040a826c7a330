#include "Progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <cstdio>

namespace kestrune
{

namespace
{

int terminalWidth()
{
    struct winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

}  // namespace

std::string formatProgressLine(const std::string& label, double seconds, double totalSeconds, int width)
{
    const double fraction = totalSeconds > 0.0 ? std::clamp(seconds / totalSeconds, 0.0, 1.0) : 1.0;
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "%3d%%  %.1f of %.1f s", static_cast<int>(fraction * 100.0), seconds,
                  totalSeconds);

    // label, two blanks, [bar], two blanks, numbers; the bar takes what is left and is left out
    // when fewer than 10 columns remain for it.
    const int fixed = static_cast<int>(label.size() + std::char_traits<char>::length(numbers)) + 6;
    const int barWidth = width - 1 - fixed;
    std::string line;
    if (barWidth >= 10)
    {
        const int filled = static_cast<int>(fraction * barWidth);
        line = label + "  [" + std::string(static_cast<std::size_t>(filled), '#') +
               std::string(static_cast<std::size_t>(barWidth - filled), '-') + "]  " + numbers;
    }
    else
        line = label + "  " + numbers;
    if (width > 1 && static_cast<int>(line.size()) > width - 1)
        line.resize(static_cast<std::size_t>(width - 1));
    return line;
}

ProgressBar::ProgressBar(std::string label, std::int64_t totalFrames, double sampleRate, bool quiet)
    : m_label(std::move(label)), m_total(totalFrames), m_sampleRate(sampleRate),
      m_enabled(!quiet && ::isatty(STDERR_FILENO) != 0 && sampleRate > 0.0 &&
                static_cast<double>(totalFrames) / sampleRate > kProgressMinimumSeconds)
{
}

ProgressBar::~ProgressBar()
{
    finish();
}

void ProgressBar::advance(std::int64_t frames)
{
    if (!m_enabled)
        return;
    m_done += frames;
    const auto now = std::chrono::steady_clock::now();
    if (!m_drawn || now - m_lastDraw >= std::chrono::milliseconds(100) || m_done >= m_total)
    {
        m_lastDraw = now;
        draw();
    }
}

void ProgressBar::draw()
{
    const std::string line = formatProgressLine(m_label, static_cast<double>(m_done) / m_sampleRate,
                                                static_cast<double>(m_total) / m_sampleRate, terminalWidth());
    std::fprintf(stderr, "\r%s", line.c_str());
    std::fflush(stderr);
    m_drawn = true;
}

void ProgressBar::finish()
{
    if (m_drawn)
    {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    m_enabled = false;
    m_drawn = false;
}

}  // namespace kestrune
