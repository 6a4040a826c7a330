// What the editor shows, apart from X11 and cairo: the controls as the host last reported them,
// the meters with their peak holds, and the history of the last seconds. Everything here runs on
// the host's UI thread; time is in seconds from any steady origin the caller picks.
#pragma once

#include "KestruneParameters.h"

#include <array>
#include <cstdint>

namespace VAZiro
{

// The level ports send this for silence; the editor shows nothing below it.
constexpr float kSilenceDB = -120.0f;
// How long a meter's peak mark stays before it falls back to the meter.
constexpr double kPeakHoldSeconds = 1.5;
// The history: kHistoryColumns columns of kHistoryColumnSeconds each, newest last.
constexpr double kHistoryColumnSeconds = 0.02;
constexpr int kHistoryColumns = 250;  // 5 s

// The highest value of the last kPeakHoldSeconds. For the gain-reduction meter "highest" is the
// deepest reduction, as the port sends reduction as a positive number.
struct PeakHold
{
    float held = 0.0f;
    double heldSince = 0.0;  // s

    // Whether the mark moved.
    bool offer(float value, double now);
    // Drops the mark to value once it has been held long enough; whether it moved.
    bool expire(float value, double now);
};

struct HistoryColumn
{
    float keyLevel = kSilenceDB;   // dBFS, the highest of the column
    float reduction = 0.0f;        // dB, positive, the deepest of the column

    bool operator==(const HistoryColumn& other) const
    {
        return keyLevel == other.keyLevel && reduction == other.reduction;
    }
};

// A ring of columns. A new column starts from the meters' current values, so a host that sends
// values less often than once a column still draws a continuous line.
class History
{
public:
    // Oldest first: column(0) is kHistoryColumns - 1 columns ago, column(kHistoryColumns - 1) now.
    const HistoryColumn& column(int age) const
    {
        return m_columns[static_cast<std::size_t>((m_newest + 1 + age) % kHistoryColumns)];
    }
    // Index of the newest column since the clock's origin; the picture scrolls when it grows.
    std::int64_t newestIndex() const { return m_newestIndex; }

    void record(float keyLevel, float reduction);
    // Moves on to the column of time now, each new column starting at (keyLevel, reduction).
    // Whether anything a user sees moved: a history whose columns are all alike looks the same
    // after scrolling.
    bool advance(double now, float keyLevel, float reduction);

private:
    std::array<HistoryColumn, kHistoryColumns> m_columns{};
    int m_newest = kHistoryColumns - 1;
    std::int64_t m_newestIndex = -1;  // none yet
    int m_alikeColumns = kHistoryColumns;  // how many newest columns equal each other
};

struct EditorState
{
    float controls[kNumParameters];   // engineering values, as the ports take them
    float gainReduction = 0.0f;       // dB, positive
    float keyLevel = kSilenceDB;      // dBFS
    float inLevel = kSilenceDB;       // dBFS
    float outLevel = kSilenceDB;      // dBFS
    PeakHold reductionHold;
    PeakHold inHold{kSilenceDB};
    PeakHold outHold{kSilenceDB};
    History history;
};

// Controls at their defaults, meters silent.
EditorState freshEditorState();

// A value the host sent for a port: controls are clamped to their ranges, meters to what the
// ports can send, NaN is ignored. Whether what the editor shows changed.
bool setPortValue(EditorState& state, std::uint32_t port, float value, double now);

// Lets time pass: the history scrolls, peak marks fall back. Whether what the editor shows changed.
bool advanceTime(EditorState& state, double now);

}  // namespace VAZiro
