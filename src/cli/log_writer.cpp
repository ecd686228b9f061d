#include "cli/log_writer.h"

#include <cstdlib>
#include <ctime>

#ifndef _WIN32
#include <sys/stat.h>
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
    switch (level) {
        case LogLevel::Error:
            return "error";
        case LogLevel::Warn:
            return "warn";
        case LogLevel::Info:
            return "info";
        case LogLevel::Debug:
            return "debug";
    }
    return "info";
}

LogWriter::LogWriter(std::FILE* stream, LogLevel level, bool stamp)
    : m_stream(stream), m_level(level), m_stamp(stamp) {}

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
    std::string text;
    if (m_stamp) {
        text = UtcTimestamp(std::chrono::system_clock::now());
        text += ' ';
    }
    text += line.Text();
    text += '\n';
    const std::lock_guard<std::mutex> lock(m_lock);
    std::fwrite(text.data(), 1, text.size(), m_stream);
    std::fflush(m_stream);
}
