// A progress bar on standard error for long renders. It is drawn only when standard error is a
// terminal, the run is not --quiet and the audio is longer than kProgressMinimumSeconds, so
// scripts, pipes and logs never see it. The line is cleared when the render ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace kestrune
{

constexpr double kProgressMinimumSeconds = 10.0;

class ProgressBar
{
public:
    ProgressBar(std::string label, std::int64_t totalFrames, double sampleRate, bool quiet);
    ~ProgressBar();

    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Counts frames rendered; redraws at most ten times a second.
    void advance(std::int64_t frames);
    // Clears the line; later calls do nothing.
    void finish();

private:
    void draw();

    std::string m_label;
    std::int64_t m_total;
    std::int64_t m_done = 0;
    double m_sampleRate;
    bool m_enabled;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_lastDraw;
};

// One line of the bar for a terminal `width` columns wide, e.g.
// "render  [#######-------------]  35%  5.6 of 16.0 s". Never wider than width - 1.
std::string formatProgressLine(const std::string& label, double seconds, double totalSeconds, int width);

}  // namespace kestrune
