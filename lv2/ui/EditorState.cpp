#include "EditorState.h"

#include "KestruneLv2Ports.h"

#include <algorithm>
#include <cmath>

namespace VAZiro
{

namespace
{

constexpr float kLevelMaximumDB = 24.0f;  // the level ports' maximum

float clamp(float value, float minimum, float maximum)
{
    return std::min(std::max(value, minimum), maximum);
}

}  // namespace

bool PeakHold::offer(float value, double now)
{
    if (value < held)
        return false;
    const bool moved = value != held;
    held = value;
    heldSince = now;
    return moved;
}

bool PeakHold::expire(float value, double now)
{
    if (now - heldSince < kPeakHoldSeconds || held == value)
        return false;
    held = value;
    heldSince = now;
    return true;
}

void History::record(float keyLevel, float reduction)
{
    HistoryColumn& newest = m_columns[static_cast<std::size_t>(m_newest)];
    const HistoryColumn before = newest;
    newest.keyLevel = std::max(newest.keyLevel, keyLevel);
    newest.reduction = std::max(newest.reduction, reduction);
    if (!(newest == before))
        m_alikeColumns = 1;
}

bool History::advance(double now, float keyLevel, float reduction)
{
    const std::int64_t index = static_cast<std::int64_t>(std::floor(now / kHistoryColumnSeconds));
    if (index <= m_newestIndex)
        return false;  // the same column, or a clock that went back: keep drawing into the newest
    // A fresh history starts silent rather than pretending the first values lasted five seconds.
    if (m_newestIndex < 0)
    {
        m_newestIndex = index;
        m_columns[static_cast<std::size_t>(m_newest)] = {keyLevel, reduction};
        m_alikeColumns = HistoryColumn{keyLevel, reduction} == HistoryColumn{} ? kHistoryColumns : 1;
        return m_alikeColumns < kHistoryColumns;
    }
    // After a long pause every column is new; more than a ring's worth changes nothing more.
    const std::int64_t steps = std::min<std::int64_t>(index - m_newestIndex, kHistoryColumns);
    m_newestIndex = index;
    const HistoryColumn fresh{keyLevel, reduction};
    bool moved = false;
    for (std::int64_t step = 0; step < steps; step++)
    {
        const HistoryColumn& previous = m_columns[static_cast<std::size_t>(m_newest)];
        m_alikeColumns = fresh == previous ? std::min(m_alikeColumns + 1, kHistoryColumns) : 1;
        m_newest = (m_newest + 1) % kHistoryColumns;
        m_columns[static_cast<std::size_t>(m_newest)] = fresh;
        // Scrolling a ring of equal columns shows the same picture.
        moved = moved || m_alikeColumns < kHistoryColumns;
    }
    return moved;
}

EditorState freshEditorState()
{
    EditorState state;
    for (int index = 0; index < kNumParameters; index++)
        state.controls[index] = engineeringFromNormalised(index, parameterDefault(index));
    return state;
}

bool setPortValue(EditorState& state, std::uint32_t port, float value, double now)
{
    if (std::isnan(value))
        return false;
    float* target = nullptr;
    if (const int parameter = parameterOfPort(port); parameter >= 0)
    {
        const KestruneParameterInfo& info = kParameterInfo[parameter];
        value = clamp(value, info.minimum, info.maximum);
        target = &state.controls[parameter];
    }
    else if (port == kPortGainReduction)
    {
        value = clamp(value, 0.0f, kGainReductionMaximum);
        target = &state.gainReduction;
    }
    else if (port == kPortKeyLevel || port == kPortInLevel || port == kPortOutLevel)
    {
        value = clamp(value, kSilenceDB, kLevelMaximumDB);
        target = port == kPortKeyLevel ? &state.keyLevel : port == kPortInLevel ? &state.inLevel : &state.outLevel;
    }
    if (target == nullptr)
        return false;

    bool changed = *target != value;
    *target = value;
    if (port == kPortGainReduction)
        changed = state.reductionHold.offer(value, now) || changed;
    else if (port == kPortInLevel)
        changed = state.inHold.offer(value, now) || changed;
    else if (port == kPortOutLevel)
        changed = state.outHold.offer(value, now) || changed;
    if (port == kPortGainReduction || port == kPortKeyLevel)
    {
        state.history.advance(now, state.keyLevel, state.gainReduction);
        state.history.record(state.keyLevel, state.gainReduction);
    }
    return changed;
}

bool advanceTime(EditorState& state, double now)
{
    bool changed = state.history.advance(now, state.keyLevel, state.gainReduction);
    changed = state.reductionHold.expire(state.gainReduction, now) || changed;
    changed = state.inHold.expire(state.inLevel, now) || changed;
    changed = state.outHold.expire(state.outLevel, now) || changed;
    return changed;
}

}  // namespace VAZiro
