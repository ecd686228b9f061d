// Log lines of vorlane-relay: one event per line, `key=value` words that grep
// and log shippers read, after a UTC time stamp unless the system journal
// (which stamps lines itself) takes the stream.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "server/logging/log_level.h"

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

// How each line starts, for whoever reads the stream.
enum class LogStyle {
    Stamped,  // with the UTC time
    Journal,  // with its syslog priority, <3> to <7>: the journal stamps lines itself
};

// Lines are queued and written by a thread of its own, so a stream that
// blocks (a pipe nobody reads, a stalled journal) holds up that thread
// alone, never the relay's. When the queue is full, lines are dropped and
// counted, and once there is room a `event=log_dropped lines=N` line says
// how many.
//
// The thread is woken by the first line of a quiet spell only, and then
// gathers what follows for a moment before it writes: a relay opening
// thousands of connections a second pays no wake-up per line, and its
// lines reach the stream in a few writes a second.
class LogWriter {
  public:
    // Lines waiting at most; a few hundred kilobytes.
    static constexpr std::size_t kQueueLines = 4096;
    // How long the first line of a quiet spell waits for others.
    static constexpr std::chrono::milliseconds kGatherTime{10};

    LogWriter(std::FILE* stream, LogLevel level, LogStyle style,
              std::size_t queueLines = kQueueLines);
    // Writes every line queued, then ends the thread.
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // True when stderr goes to the systemd journal (JOURNAL_STREAM).
    static bool StderrIsJournal();

    void SetLevel(LogLevel level) { m_level.store(level); }
    bool Enabled(LogLevel level) const { return level <= m_level.load(); }
    // Queues the line when its level is enabled; whole lines, never interleaved.
    void Write(const LogLine& line);
    // Whatever the level (statistics lines the user asked for).
    void WriteAlways(const LogLine& line);

    // Waits until every line queued before the call is written.
    void Flush();
    // The same for at most `limit`; false when the stream still blocks then.
    bool FlushWithin(std::chrono::milliseconds limit);
    // Lines dropped since the start because the queue was full.
    std::int64_t DroppedLines() const { return m_droppedTotal.load(); }

  private:
    std::string Formatted(const LogLine& line) const;
    void WriteQueued();
    // Under m_lock: the writer is to write the lines queued so far at once.
    // Returns the count a flush waits for.
    std::uint64_t AskForFlush();
    void Emit(const std::string& text);

    std::FILE* m_stream;
    std::atomic<LogLevel> m_level;
    LogStyle m_style;
    std::size_t m_capacity;
    std::atomic<std::int64_t> m_droppedTotal{0};

    std::mutex m_lock;
    std::condition_variable m_queuedOrClosing;  // wakes the writer
    std::condition_variable m_progress;         // wakes Flush
    std::vector<std::string> m_queue;           // formatted lines, newline included
    std::uint64_t m_queuedCount = 0;            // lines ever queued
    std::uint64_t m_writtenCount = 0;           // of those, lines written (or failed)
    std::uint64_t m_flushTarget = 0;            // a Flush waits for the lines up to here
    std::int64_t m_droppedUnreported = 0;
    bool m_closing = false;
    std::thread m_writer;  // last: starts once the rest is ready
};
