// What a host that scans and rescans does to a module, many times over: load the file, create
// instances (one, or sixteen at once every eighth cycle), start them, process, suspend, close them
// and unload the file again. The module must really leave the process each time, every instance
// must pass its audio through untouched at the default settings, and after a warm-up the
// process's resident memory must not grow (the figure is printed). The ctest entry
// Soak.UnderValgrind runs the same cycles under valgrind, which must find no byte lost.
// KESTRUNE_SOAK_CYCLES sets the number of cycles; KESTRUNE_SOAK_CHECK_RSS=0 leaves out the
// resident-memory check (valgrind's own memory would drown it).
#include "AEffectX.h"
#include "TestSeed.h"
#include "VstHost.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KESTRUNE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KESTRUNE_SANITIZED 1
#endif
#endif

namespace
{

constexpr int kWarmUpCycles = 50;
constexpr int kInstancesPerRound = 16;

// Resident memory may move by a few pages as the allocator settles; a module that kept even a
// 4 KiB page per load would pass this after about 100 cycles, the old 71 KiB per load at once.
constexpr double kRssToleranceKiB = 256.0;

int cycleCount()
{
    const char* text = std::getenv("KESTRUNE_SOAK_CYCLES");
    return text != nullptr ? std::atoi(text) : 1000;
}

bool checkResidentMemory()
{
#ifdef KESTRUNE_SANITIZED
    return false;  // the sanitizers hold freed memory back on purpose
#else
    const char* text = std::getenv("KESTRUNE_SOAK_CHECK_RSS");
    return text == nullptr || std::strcmp(text, "0") != 0;
#endif
}

// Resident set size of this process in KiB, from the second field of /proc/self/statm.
double residentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long total = 0;
    long resident = 0;
    statm >> total >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1024.0;
}

// Whether a file of that path is mapped into this process.
bool isMapped(const std::string& path)
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.size() >= path.size() && line.compare(line.size() - path.size(), path.size(), path) == 0)
            return true;
    return false;
}

// The module's path as the loader reports it in /proc/self/maps (symbolic links resolved).
std::string resolvedModulePath()
{
    char resolved[4096];
    if (realpath(KESTRUNE_MODULE_PATH, resolved) == nullptr)
        return KESTRUNE_MODULE_PATH;
    return resolved;
}

// One instance's life: start, process a few blocks, suspend, close. At the default settings
// (1:1, 0 dB makeup) the output equals the input bit for bit; returns whether it did.
bool useOnce(khost::PluginInstance& instance, const std::vector<std::vector<float>>& signal, float rate, int block)
{
    instance.start(rate, block);
    std::vector<float> left(static_cast<std::size_t>(block)), right(static_cast<std::size_t>(block));
    bool passedThrough = true;
    const int blocks = static_cast<int>(signal[0].size()) / block;
    for (int b = 0; b < blocks; b++)
    {
        float* in[4];
        for (int c = 0; c < 4; c++)
            in[c] = const_cast<float*>(signal[static_cast<std::size_t>(c)].data() + b * block);
        float* out[2] = {left.data(), right.data()};
        instance.process(in, out, block);
        passedThrough = passedThrough && std::memcmp(left.data(), in[0], left.size() * sizeof(float)) == 0 &&
                        std::memcmp(right.data(), in[1], right.size() * sizeof(float)) == 0;
    }
    instance.suspend();
    instance.close();
    return passedThrough;
}

TEST(Soak, LoadUseUnloadCyclesLeaveMemoryFlat)
{
    const int cycles = cycleCount();
    ASSERT_GT(cycles, 0);
    std::mt19937 rng = kestrune_test::seededGenerator();
    std::vector<std::vector<float>> signal(4, std::vector<float>(2048));
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (auto& channel : signal)
        for (float& sample : channel)
            sample = unit(rng);
    const std::string modulePath = resolvedModulePath();
    const float rates[] = {44100.0f, 48000.0f, 96000.0f};
    const int blocks[] = {64, 256, 512};

    double rssAfterWarmUp = 0.0;
    int instances = 0;
    int failedPassThrough = 0;
    int stayedMapped = 0;
    int notMappedWhileLoaded = 0;  // would mean the check below cannot see the module at all
    const auto start = std::chrono::steady_clock::now();
    for (int cycle = 0; cycle < cycles; cycle++)
    {
        if (cycle == kWarmUpCycles)
            rssAfterWarmUp = residentKiB();
        {
            auto module = khost::PluginModule::load(KESTRUNE_MODULE_PATH);
            if (!isMapped(modulePath))
                notMappedWhileLoaded++;
            const int count = cycle % 8 == 7 ? kInstancesPerRound : 1;
            std::vector<std::unique_ptr<khost::PluginInstance>> round;
            for (int i = 0; i < count; i++)
                round.push_back(std::make_unique<khost::PluginInstance>(module));
            for (auto& instance : round)
            {
                if (!useOnce(*instance, signal, rates[rng() % 3], blocks[rng() % 3]))
                    failedPassThrough++;
                instances++;
            }
        }  // the instances are closed: dropping the last reference unloads the module
        if (isMapped(modulePath))
            stayedMapped++;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double rssAtEnd = residentKiB();

    std::printf("%d cycles, %d instances in %.2f s (%.2f ms per cycle)\n", cycles, instances, seconds,
                1000.0 * seconds / cycles);
    EXPECT_EQ(failedPassThrough, 0) << "instances whose output differed from their input at 1:1 and 0 dB";
    EXPECT_EQ(notMappedWhileLoaded, 0) << "cycles in which " << modulePath << " was not found among the mappings";
    EXPECT_EQ(stayedMapped, 0) << "cycles after which " << modulePath << " was still mapped";

    if (!checkResidentMemory())
    {
        std::printf("resident memory not checked in this run (%.0f KiB at the end)\n", rssAtEnd);
        return;
    }
    ASSERT_GT(cycles, 2 * kWarmUpCycles) << "too few cycles to measure growth after the warm-up";
    const double growth = rssAtEnd - rssAfterWarmUp;
    std::printf("resident memory %.0f KiB after %d warm-up cycles, %.0f KiB after %d: %+.3f KiB per cycle\n",
                rssAfterWarmUp, kWarmUpCycles, rssAtEnd, cycles, growth / (cycles - kWarmUpCycles));
    EXPECT_LE(growth, kRssToleranceKiB) << "resident memory grew with the loads";
}

}  // namespace
