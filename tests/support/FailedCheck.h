// What a failed precondition check of the dynamics library writes to standard error before it
// aborts: "src/BLEnvelopes.cpp:LINE: failed assertion `EXPRESSION'" and a line end.
#pragma once

#include <gtest/gtest.h>

#include <ostream>

#include <regex>
#include <string>
#include <utility>

namespace kestrune_test
{

class FailedCheckMatcher : public testing::MatcherInterface<const std::string&>
{
public:
    FailedCheckMatcher(std::regex pattern, std::string expression)
        : m_pattern(std::move(pattern)), m_expression(std::move(expression))
    {
    }
    bool MatchAndExplain(const std::string& text, testing::MatchResultListener*) const override
    {
        return std::regex_match(text, m_pattern);
    }
    void DescribeTo(std::ostream* os) const override
    {
        *os << "is \"src/BLEnvelopes.cpp:<line>: failed assertion `" << m_expression << "'\\n\"";
    }

private:
    std::regex m_pattern;
    std::string m_expression;
};

// The message of a failed check of expression, at whatever line the check sits. std::regex, not
// GoogleTest's own, so the pattern means the same on every platform (GoogleMock is not needed).
inline testing::Matcher<const std::string&> failedCheck(const std::string& expression)
{
    std::string escaped;
    for (const char c : expression)
    {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos)
            escaped += '\\';
        escaped += c;
    }
    const std::regex pattern("src/BLEnvelopes\\.cpp:[0-9]+: failed assertion `" + escaped + "'\n");
    return testing::MakeMatcher(new FailedCheckMatcher(pattern, expression));
}

}  // namespace kestrune_test
