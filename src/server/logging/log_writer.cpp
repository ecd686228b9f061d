#include "server/logging/log_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <utility>

#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

bool IsPlainWord(std::string_view value) {
    if (value.empty()) {
        return false;
    }
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= ' ' || u == 0x7F || c == '"' || c == '\\' || c == '=') {
            return false;
        }
    }
    return true;
}

// sd-daemon's priority prefixes, as the journal reads them.
const char* JournalPriority(LogLevel level) {
    switch (level) {
        case LogLevel::Error:
            return "<3>";
        case LogLevel::Warn:
            return "<4>";
        case LogLevel::Info:
            return "<6>";
        case LogLevel::Debug:
            return "<7>";
    }
    return "<6>";
}

// The writer thread takes no signals: they belong to the thread that waits
// for them, and a stop signal landing here would end the process.
template <typename Body>
std::thread StartWithoutSignals(Body body) {
#ifdef _WIN32
    return std::thread(std::move(body));
#else
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    std::thread thread(std::move(body));
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return thread;
#endif
}

}  // namespace

LogLine::LogLine(LogLevel level, std::string_view event) : m_level(level) {
    Add("level", LogLevelName(level));
    Add("event", event);
}

LogLine::LogLine(std::string_view event) {
    Add("event", event);
}

LogLine LogLine::Raw(std::string text) {
    LogLine line("");
    line.m_text = std::move(text);
    return line;
}

LogLine& LogLine::Add(std::string_view key, std::string_view value) {
    if (!m_text.empty()) {
        m_text += ' ';
    }
    m_text.append(key);
    m_text += '=';
    m_text += LogValue(value);
    return *this;
}

LogLine& LogLine::Add(std::string_view key, std::int64_t value) {
    return Add(key, std::to_string(value));
}

LogLine& LogLine::Add(std::string_view key, std::uint64_t value) {
    return Add(key, std::to_string(value));
}

std::string LogValue(std::string_view value) {
    if (IsPlainWord(value)) {
        return std::string(value);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string quoted = "\"";
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (c == '\n') {
            quoted += "\\n";
        } else if (c == '\r') {
            quoted += "\\r";
        } else if (c == '\t') {
            quoted += "\\t";
        } else if (u < ' ' || u == 0x7F) {
            quoted += "\\x";
            quoted += kHex[u >> 4];
            quoted += kHex[u & 0xF];
        } else {
            quoted += c;
        }
    }
    quoted += '"';
    return quoted;
}

std::string UtcTimestamp(std::chrono::system_clock::time_point when) {
    const auto sinceEpoch = when.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds).count();
    const std::time_t time = static_cast<std::time_t>(seconds.count());
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &time);
#else
    gmtime_r(&time, &utc);
#endif
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    return text;
}

const char* LogLevelName(LogLevel level) {
    return NameOf(level, kLogLevelNames);
}

LogWriter::LogWriter(std::FILE* stream, LogLevel level, LogStyle style, std::size_t queueLines)
    : m_stream(stream),
      m_level(level),
      m_style(style),
      m_capacity(queueLines > 0 ? queueLines : 1),
      m_writer(StartWithoutSignals([this] { WriteQueued(); })) {}

LogWriter::~LogWriter() {
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_closing = true;
    }
    m_queuedOrClosing.notify_one();
    m_writer.join();
}

// systemd sets JOURNAL_STREAM to "device:inode" of the stream it connected;
// a child whose stderr was redirected elsewhere still inherits the variable,
// so the stream itself is compared.
bool LogWriter::StderrIsJournal() {
#ifdef _WIN32
    return false;
#else
    const char* journal = std::getenv("JOURNAL_STREAM");
    if (journal == nullptr) {
        return false;
    }
    unsigned long long device = 0;
    unsigned long long inode = 0;
    if (std::sscanf(journal, "%llu:%llu", &device, &inode) != 2) {
        return false;
    }
    struct stat status {};
    return fstat(2, &status) == 0 && static_cast<unsigned long long>(status.st_dev) == device &&
           static_cast<unsigned long long>(status.st_ino) == inode;
#endif
}

void LogWriter::Write(const LogLine& line) {
    if (Enabled(line.Level())) {
        WriteAlways(line);
    }
}

void LogWriter::WriteAlways(const LogLine& line) {
    std::string text = Formatted(line);
    bool wake = false;
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        if (m_queue.size() >= m_capacity) {
            ++m_droppedUnreported;
            m_droppedTotal.fetch_add(1);
            return;
        }
        m_queue.push_back(std::move(text));
        ++m_queuedCount;
        // The writer sleeps only on an empty queue; while it gathers, it is
        // hurried only by a queue half full, before lines would be dropped.
        wake = m_queue.size() == 1 || m_queue.size() == m_capacity / 2;
    }
    if (wake) {
        m_queuedOrClosing.notify_one();
    }
}

void LogWriter::Flush() {
    std::unique_lock<std::mutex> lock(m_lock);
    const std::uint64_t target = AskForFlush();
    m_progress.wait(lock, [&] { return m_writtenCount >= target; });
}

bool LogWriter::FlushWithin(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(m_lock);
    const std::uint64_t target = AskForFlush();
    return m_progress.wait_for(lock, limit, [&] { return m_writtenCount >= target; });
}

std::uint64_t LogWriter::AskForFlush() {
    m_flushTarget = std::max(m_flushTarget, m_queuedCount);
    m_queuedOrClosing.notify_one();  // a writer gathering writes at once
    return m_queuedCount;
}

std::string LogWriter::Formatted(const LogLine& line) const {
    std::string text;
    if (m_style == LogStyle::Journal) {
        text = JournalPriority(line.Level());
    } else {
        text = UtcTimestamp(std::chrono::system_clock::now());
        text += ' ';
    }
    text += line.Text();
    text += '\n';
    return text;
}

// Takes the whole queue at a time and writes it in one go; the lines
// dropped meanwhile all came after those taken, so their count follows them.
void LogWriter::WriteQueued() {
    std::vector<std::string> batch;
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_queuedOrClosing.wait(lock, [&] { return !m_queue.empty() || m_closing; });
        if (m_queue.empty()) {
            return;  // closing, and everything is written
        }
        m_queuedOrClosing.wait_for(lock, kGatherTime, [&] {
            return m_closing || m_flushTarget > m_writtenCount || m_queue.size() >= m_capacity / 2;
        });
        batch.swap(m_queue);
        const std::int64_t dropped = std::exchange(m_droppedUnreported, 0);
        const std::uint64_t taken = m_queuedCount;
        lock.unlock();

        std::string text;
        for (const std::string& line : batch) {
            text += line;
        }
        batch.clear();
        if (dropped > 0) {
            text += Formatted(LogLine(LogLevel::Warn, "log_dropped").Add("lines", dropped));
        }
        Emit(text);

        lock.lock();
        m_writtenCount = taken;
        m_progress.notify_all();
    }
}

// Straight to the descriptor on POSIX: the C stream's lock would be held
// while the write blocks, and the immediate exit flushes the C streams.
void LogWriter::Emit(const std::string& text) {
#ifdef _WIN32
    std::fwrite(text.data(), 1, text.size(), m_stream);
    std::fflush(m_stream);
#else
    const int fd = fileno(m_stream);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;  // the reader is gone: the lines are lost, the relay goes on
        }
        done += static_cast<std::size_t>(written);
    }
#endif
}
