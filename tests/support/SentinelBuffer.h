// A text buffer as a host hands it to an effect, pre-filled with a byte that no effect writes, so a
// test sees what was written, where the zero bytes went and which bytes stayed untouched.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

class SentinelBuffer
{
public:
    static constexpr char kSentinel = static_cast<char>(0xA5);

    explicit SentinelBuffer(std::size_t size = 512) : m_bytes(size, kSentinel) {}

    char* data() { return m_bytes.data(); }
    std::size_t size() const { return m_bytes.size(); }
    char operator[](std::size_t index) const { return m_bytes.at(index); }

    // Places a terminated text at the start, as a host would before an append.
    void put(const std::string& text)
    {
        std::memcpy(m_bytes.data(), text.c_str(), text.size() + 1);
    }

    // The text up to the first zero byte (the whole buffer when there is none).
    std::string text() const
    {
        std::size_t length = 0;
        while (length < m_bytes.size() && m_bytes[length] != 0)
            ++length;
        return std::string(m_bytes.data(), length);
    }

    // The buffer holds `text`, zero bytes from its end through index lastZero, and the sentinel in
    // every byte after lastZero.
    ::testing::AssertionResult holds(const std::string& expected, std::size_t lastZero) const
    {
        if (lastZero < expected.size() || lastZero >= m_bytes.size())
            return ::testing::AssertionFailure() << "bad expectation: zero through " << lastZero << " after \""
                                                 << expected << "\"";
        for (std::size_t i = 0; i < m_bytes.size(); ++i)
        {
            const char want = i < expected.size() ? expected[i] : (i <= lastZero ? '\0' : kSentinel);
            if (m_bytes[i] != want)
                return ::testing::AssertionFailure()
                       << "byte " << i << " is " << show(m_bytes[i]) << ", expected " << show(want)
                       << "; buffer starts " << dump(lastZero + 2) << ", expected \"" << expected
                       << "\" zero through " << lastZero;
        }
        return ::testing::AssertionSuccess();
    }

    // The buffer holds `text` and one terminator, nothing written after it.
    ::testing::AssertionResult holdsTerminated(const std::string& expected) const
    {
        return holds(expected, expected.size());
    }

    ::testing::AssertionResult untouched() const
    {
        for (std::size_t i = 0; i < m_bytes.size(); ++i)
            if (m_bytes[i] != kSentinel)
                return ::testing::AssertionFailure() << "byte " << i << " was written: buffer starts " << dump(16);
        return ::testing::AssertionSuccess();
    }

    // Printable form of the first `count` bytes, sentinel bytes shown as '~' and zeros as '0'.
    std::string dump(std::size_t count) const
    {
        std::string out = "[";
        for (std::size_t i = 0; i < count && i < m_bytes.size(); ++i)
            out += show(m_bytes[i]);
        return out + "]";
    }

private:
    static std::string show(char byte)
    {
        if (byte == kSentinel)
            return "~";
        if (byte == 0)
            return "\\0";
        if (byte >= 32 && byte < 127)
            return std::string(1, byte);
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(byte));
        return escaped;
    }

    std::vector<char> m_bytes;
};
