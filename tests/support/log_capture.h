#pragma once

// The log lines a test expects: quillon mirrors its log to standard error
// when QUILLON_LOG_STDERR is set, and a LogCapture takes standard error from
// its construction until text() (or its destruction). One capture at a time.
#include <cstddef>
#include <string>

#include <gtest/gtest.h>

namespace testsupport
{

class LogCapture
{
public:
    LogCapture() { testing::internal::CaptureStderr(); }
    ~LogCapture()
    {
        if (!taken_)
            testing::internal::GetCapturedStderr();
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Ends the capture and returns what was written.
    std::string text()
    {
        taken_ = true;
        return testing::internal::GetCapturedStderr();
    }

private:
    bool taken_ = false;
};

// Occurrences of `needle` in `text`.
inline std::size_t count(const std::string& text, const std::string& needle)
{
    std::size_t n = 0;
    for (auto pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1))
        ++n;
    return n;
}

} // namespace testsupport
