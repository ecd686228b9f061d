// Log lines of vorlane-relay: one event per line, `key=value` words that grep
// and log shippers read, after a UTC time stamp unless the system journal
// (which stamps lines itself) takes the stream.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "cli/log_level.h"

// One line being put together: `level=info event=open id=7 ...`.
class LogLine {
  public:
    LogLine(LogLevel level, std::string_view event);
    // The event alone, for lines that are not log events (statistics).
    explicit LogLine(std::string_view event);
    // A line put together elsewhere, `key=value` words already.
    static LogLine Raw(std::string text);

    LogLine& Add(std::string_view key, std::string_view value);
    LogLine& Add(std::string_view key, const char* value) {
        return Add(key, std::string_view(value));
    }
    LogLine& Add(std::string_view key, const std::string& value) {
        return Add(key, std::string_view(value));
    }
    LogLine& Add(std::string_view key, std::int64_t value);
    LogLine& Add(std::string_view key, int value) {
        return Add(key, static_cast<std::int64_t>(value));
    }
    LogLine& Add(std::string_view key, std::uint64_t value);

    LogLevel Level() const { return m_level; }
    const std::string& Text() const { return m_text; }

  private:
    LogLevel m_level = LogLevel::Info;
    std::string m_text;
};

// A value as it stands when it is a plain word, else in double quotes with
// quotes, backslashes and control characters escaped, so that no value can
// end its line or pose as another key.
std::string LogValue(std::string_view value);

// 2026-12-10T19:40:00.123Z
std::string UtcTimestamp(std::chrono::system_clock::time_point when);

const char* LogLevelName(LogLevel level);

class LogWriter {
  public:
    // stamp: start each line with the time.
    LogWriter(std::FILE* stream, LogLevel level, bool stamp);

    // True when stderr goes to the systemd journal (JOURNAL_STREAM).
    static bool StderrIsJournal();

    void SetLevel(LogLevel level) { m_level.store(level); }
    bool Enabled(LogLevel level) const { return level <= m_level.load(); }
    // Writes the line when its level is enabled; whole lines, never interleaved.
    void Write(const LogLine& line);
    // Whatever the level (statistics lines the user asked for).
    void WriteAlways(const LogLine& line);

  private:
    std::FILE* m_stream;
    std::atomic<LogLevel> m_level;
    bool m_stamp;
    std::mutex m_lock;
};
