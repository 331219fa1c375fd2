#include "Logger.h"

#include "FileHelpers.h"
#include "StringHelpers.h"

#include <ctime>

namespace {

constexpr std::int64_t LogSizeLimit = 0x100000;

const char* stateWord(bool enabled)
{
    return enabled ? "enabled" : "disabled";
}

std::string alreadyInState(bool enabled)
{
    return std::string("Attempting to make logging ") + stateWord(enabled) + " when it is already " + stateWord(enabled);
}

} // namespace

Logger& Logger::instance()
{
    static Logger logger;
    return logger;
}

Logger::Logger()
    : fileName(L"logfile.txt")
    , configuredEnabled(false)
{
}

std::wstring Logger::getFileName() const
{
    return fileName;
}

std::string Logger::currentTimestamp()
{
    char buffer[25] = {};
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_s(&local, &now);
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(buffer) + ":\t";
}

void Logger::writeLine(const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!stream.is_open())
        return;
    stream << currentTimestamp() << text << std::endl;
}

bool Logger::isLoggingEnabled()
{
    std::lock_guard<std::mutex> lock(mutex);
    return stream.is_open();
}

void Logger::openLog(bool complainWhenOpen)
{
    // Test and open under one hold of the mutex: two threads that both found logging off would
    // both open the stream, and the second open fails it, after which every line is dropped while
    // logging reads as on.
    bool wasOpen = false;
    bool opened = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        wasOpen = stream.is_open();
        if (!wasOpen) {
            stream.open(fileName.c_str(), std::ios::out | std::ios::app);
            opened = stream.is_open();
        }
    }
    if (opened)
        write("Enabled logging...");
    else if (wasOpen && complainWhenOpen)
        write(alreadyInState(true));
}

void Logger::closeAfterFailure() noexcept
{
    try {
        std::lock_guard<std::mutex> lock(mutex);
        stream.close();
    } catch (...) {
    }
}

void Logger::ensureLoggingEnabled()
{
    try {
        openLog(false);
    } catch (...) {
        closeAfterFailure();
    }
}

void Logger::setLoggingEnabled(bool enable)
{
    try {
        if (enable) {
            openLog(true);
            return;
        }
#ifndef NIMBAL_LOGGER_ENABLE_ONLY
        if (!isLoggingEnabled()) {
            write(alreadyInState(false));
            return;
        }
        write("Disabling logging...");
        std::lock_guard<std::mutex> lock(mutex);
        stream.close();
#endif
    } catch (...) {
        closeAfterFailure();
    }
}

#ifndef NIMBAL_LOGGER_ENABLE_ONLY

namespace {

// Every run of CR and LF characters shrinks to the run's first character.
std::string collapseLineEnds(const std::string& text)
{
    std::string result;
    result.reserve(text.size());
    bool inRun = false;
    for (char c : text) {
        const bool lineEnd = (c == '\r' || c == '\n');
        if (!(lineEnd && inRun))
            result += c;
        inRun = lineEnd;
    }
    return result;
}

} // namespace

void Logger::truncateLogIfNeeded()
{
    if (getFileSize(fileName) <= LogSizeLimit)
        return;

    std::lock_guard<std::mutex> lock(mutex);
    const bool wasOpen = stream.is_open();
    if (wasOpen) {
        stream.flush();
        stream.close();
    }

    // Raw bytes, so that CR LF pairs are seen as they stand on disk.
    std::string kept = readFileTailBytes(LogSizeLimit, fileName);
    const size_t firstLf = kept.find('\n');
    // Without any line end in the last megabyte there is no whole line to start from:
    // keep the stretch as it is, on a line of its own.
    kept = (firstLf == std::string::npos) ? "\n" + kept : kept.substr(firstLf);
    kept = collapseLineEnds(kept);

    {
        std::ofstream rewritten(fileName.c_str(), std::ios::out | std::ios::trunc);
        rewritten << "...truncated..." << kept;
    }
    if (wasOpen)
        stream.open(fileName.c_str(), std::ios::out | std::ios::app);
}

#endif

LogLine::LogLine(LogLevel level)
    : logger(Logger::instance())
{
    if (level == LogLevel::Error) {
        logger.ensureLoggingEnabled();
        *this << "[ERROR]:\t";
    } else {
        *this << "[INFO]: \t";
    }
}

LogLine::~LogLine()
{
    try {
        logger.write(text.str());
    } catch (...) {
    }
}

LogLine& LogLine::operator<<(const char* value)
{
    text << (value ? value : "") << ' ';
    return *this;
}

LogLine& LogLine::operator<<(const std::string& value)
{
    text << value << ' ';
    return *this;
}

LogLine& LogLine::operator<<(const std::wstring& value)
{
    text << toNarrowString(value) << ' ';
    return *this;
}

LogLine& LogLine::operator<<(const wchar_t* value)
{
    text << toNarrowString(value) << ' ';
    return *this;
}

LogLine& LogLine::operator<<(const std::exception& error)
{
    text << error.what() << ' ';
    return *this;
}
