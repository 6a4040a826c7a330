// The one seed of every randomised test: KESTRUNE_TEST_SEED replays a run, otherwise a fixed
// default keeps runs repeatable. Each generator prints its seed so a failure can be replayed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>

namespace kestrune_test
{

inline std::uint32_t testSeed()
{
    static const std::uint32_t seed = [] {
        const char* text = std::getenv("KESTRUNE_TEST_SEED");
        return text != nullptr ? static_cast<std::uint32_t>(std::strtoul(text, nullptr, 0)) : 20240611u;
    }();
    return seed;
}

inline std::mt19937 seededGenerator()
{
    const std::uint32_t seed = testSeed();
    std::cout << "[   SEED   ] " << seed << " (KESTRUNE_TEST_SEED=" << seed << " replays this run)\n";
    ::testing::Test::RecordProperty("seed", std::to_string(seed));
    return std::mt19937(seed);
}

}  // namespace kestrune_test
