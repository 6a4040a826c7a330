// Kestrune's LV2 edition behind the measurements' Processor interface, loaded from its bundle.
#pragma once

#include "BenchProcessors.h"

#include <memory>
#include <string>

namespace kbench
{

// The module of the bundle built beside the measurements, or the file that the environment
// variable KESTRUNE_BENCH_LV2_MODULE names (to measure another build side by side).
std::string kestruneLv2ModulePath();
// Kestrune's LV2 module, every port connected, meters included; throws when it cannot be run.
std::unique_ptr<Processor> makeKestruneLv2(const std::string& modulePath, bool useSidechain);

}  // namespace kbench
