// Errors that end a kestrune run with a one-line message and a non-zero exit code.
#pragma once

#include <stdexcept>
#include <string>

namespace kestrune
{

constexpr int kExitFailure = 1;  // files, formats, channel counts, the plug-in: the world is not as expected
constexpr int kExitUsage = 2;    // the command line itself is wrong

struct ToolError : std::runtime_error
{
    explicit ToolError(const std::string& message, int code = kExitFailure) : runtime_error(message), exitCode(code) {}
    const int exitCode;
};

struct UsageError : ToolError
{
    explicit UsageError(const std::string& message) : ToolError(message, kExitUsage) {}
};

}  // namespace kestrune
