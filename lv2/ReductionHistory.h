// The gain reduction of recent moments, handed from the audio thread to the thread that draws it:
// one writer (run) and one reader (render), through atomics only, so the writer never waits.
#pragma once

#include <atomic>
#include <cstdint>

namespace VAZiro
{

class ReductionHistory
{
public:
    // Moments kept: more than the widest picture has columns, so the reader has time to copy.
    static constexpr std::uint32_t kLength = 512;

    // Audio thread.
    void push(float reductionDB) noexcept
    {
        const std::uint32_t count = m_count.load(std::memory_order_relaxed);
        m_values[count % kLength].store(reductionDB, std::memory_order_relaxed);
        m_count.store(count + 1, std::memory_order_release);
    }

    // Any other thread: the latest values, oldest first, at most wanted (and kLength) of them;
    // returns how many it copied.
    std::uint32_t copyLatest(float* out, std::uint32_t wanted) const noexcept
    {
        const std::uint32_t count = m_count.load(std::memory_order_acquire);
        std::uint32_t copied = wanted < kLength ? wanted : kLength;
        copied = copied < count ? copied : count;
        for (std::uint32_t i = 0; i < copied; i++)
            out[i] = m_values[(count - copied + i) % kLength].load(std::memory_order_relaxed);
        return copied;
    }

private:
    std::atomic<float> m_values[kLength] = {};
    std::atomic<std::uint32_t> m_count{0};
};

static_assert(std::atomic<float>::is_always_lock_free && std::atomic<std::uint32_t>::is_always_lock_free,
              "the audio thread hands values over without a lock");

}  // namespace VAZiro
