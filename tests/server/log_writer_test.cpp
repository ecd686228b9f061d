// The log's queue and its writer thread: lines kept in order, none lost at
// the end, and a stream that blocks costs dropped lines, never a blocked caller.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "server/logging/log_writer.h"

namespace {

using namespace std::chrono_literals;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

LogLine Numbered(int number) {
    return LogLine(LogLevel::Info, "n").Add("number", number).Add("pad", std::string(80, 'x'));
}

// A file the writer writes to and the test reads back once it is gone.
class LogFile {
  public:
    LogFile() : m_file(std::tmpfile()) {}
    ~LogFile() { std::fclose(m_file); }
    std::FILE* Stream() const { return m_file; }
    std::string Text() const {
        std::string text(static_cast<std::size_t>(lseek(fileno(m_file), 0, SEEK_END)), '\0');
        const ssize_t read = pread(fileno(m_file), text.data(), text.size(), 0);
        text.resize(read > 0 ? static_cast<std::size_t>(read) : 0);
        return text;
    }

  private:
    std::FILE* m_file;
};

TEST(LogWriterTest, EveryLineQueuedIsWrittenInOrderByTheEnd) {
    const LogFile file;
    {
        LogWriter log(file.Stream(), LogLevel::Info, LogStyle::Journal);
        for (int i = 0; i < 3000; ++i) {
            log.Write(Numbered(i));
        }
        log.Write(LogLine(LogLevel::Debug, "hidden"));
    }  // the end writes what is queued
    const std::vector<std::string> lines = Lines(file.Text());
    ASSERT_EQ(lines.size(), 3000U);
    for (int i = 0; i < 3000; ++i) {
        EXPECT_EQ(lines[i].rfind("<6>level=info event=n number=" + std::to_string(i) + " ", 0), 0U)
            << lines[i];
    }
}

// The writer gathers lines before it writes; a lone line, or the last of a
// burst, must still reach the stream without a flush or a line after it.
TEST(LogWriterTest, ALineNeitherFlushedNorFollowedStillReachesTheStream) {
    const LogFile file;
    LogWriter log(file.Stream(), LogLevel::Info, LogStyle::Journal);
    const auto lastLineHas = [&](const std::string& words) {
        for (int wait = 0; wait < 200; ++wait) {
            const std::vector<std::string> lines = Lines(file.Text());
            if (!lines.empty() && lines.back().find(words) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    };
    for (const int burst : {1, 2000, 1}) {
        for (int i = 0; i < burst; ++i) {
            log.Write(Numbered(i));
        }
        EXPECT_TRUE(lastLineHas("number=" + std::to_string(burst - 1) + " ")) << burst;
    }
}

TEST(LogWriterTest, EachStyleStartsTheLineItsOwnWay) {
    struct Case {
        LogStyle style;
        LogLine line;
        const char* pattern;
    };
    const Case cases[] = {
        {LogStyle::Journal, LogLine(LogLevel::Error, "e"), "<3>level=error event=e"},
        {LogStyle::Journal, LogLine(LogLevel::Warn, "w"), "<4>level=warn event=w"},
        {LogStyle::Journal, LogLine(LogLevel::Info, "i"), "<6>level=info event=i"},
        {LogStyle::Journal, LogLine(LogLevel::Debug, "d"), "<7>level=debug event=d"},
        {LogStyle::Journal, LogLine::Raw("event=stats clients=1"), "<6>event=stats clients=1"},
        {LogStyle::Stamped, LogLine(LogLevel::Error, "e"),
         R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z level=error event=e)"},
    };
    for (const Case& c : cases) {
        const LogFile file;
        {
            LogWriter log(file.Stream(), LogLevel::Debug, c.style);
            log.Write(c.line);
            log.Flush();
        }
        EXPECT_TRUE(std::regex_match(file.Text(), std::regex(std::string(c.pattern) + "\n")))
            << file.Text();
    }
}

// A pipe nobody reads, as a stderr whose reader stalled.
TEST(LogWriterTest, FullQueueDropsAndCountsLinesInsteadOfBlocking) {
    constexpr int kLines = 20000;  // 2 MB: far past the pipe and the queue
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::FILE* stream = fdopen(ends[1], "w");
    auto log = std::make_unique<LogWriter>(stream, LogLevel::Info, LogStyle::Journal, 64);

    auto writes = std::async(std::launch::async, [&] {
        for (int i = 0; i < kLines; ++i) {
            log->Write(Numbered(i));
        }
    });
    EXPECT_EQ(writes.wait_for(10s), std::future_status::ready) << "a caller waits on the pipe";
    EXPECT_FALSE(log->FlushWithin(100ms)) << "the pipe took it all";
    EXPECT_GT(log->DroppedLines(), 0);

    std::string text;
    std::thread reader([&] {
        char chunk[65536];
        for (ssize_t got; (got = read(ends[0], chunk, sizeof chunk)) > 0;) {
            text.append(chunk, static_cast<std::size_t>(got));
        }
    });
    writes.wait();
    const std::int64_t dropped = log->DroppedLines();
    log.reset();
    std::fclose(stream);
    reader.join();
    close(ends[0]);

    // The lines in order, and each gap told by a log_dropped line just
    // after the lines before it.
    const std::regex droppedLine(R"(<4>level=warn event=log_dropped lines=(\d+))");
    const std::string numbered = "<6>level=info event=n number=";
    int expected = 0;
    std::int64_t reported = 0;
    for (const std::string& line : Lines(text)) {
        std::smatch match;
        if (std::regex_match(line, match, droppedLine)) {
            reported += std::stoll(match[1].str());
            expected += std::stoi(match[1].str());
            continue;
        }
        ASSERT_EQ(line.rfind(numbered, 0), 0U) << line;
        ASSERT_EQ(std::stoi(line.substr(numbered.size())), expected) << line;
        ++expected;
    }
    EXPECT_EQ(expected, kLines);
    EXPECT_GT(reported, 0);
    EXPECT_EQ(reported, dropped);
}

}  // namespace
