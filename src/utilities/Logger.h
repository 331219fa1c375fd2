#pragma once
// The process-wide log file: timestamped lines, switched on and off at run time.

#include <cstdint>
#include <exception>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <type_traits>

class Logger {
public:
    static Logger& instance();

    std::wstring getFileName() const;
    static std::string currentTimestamp();

    // One line: the timestamp, then the parts separated by single blanks.
    template <typename... Parts>
    void write(const Parts&... parts)
    {
        std::string text;
        (appendPart(text, parts), ...);
        writeLine(text);
    }

    void setLoggingEnabled(bool enable);
    // Switches logging on unless it is on already, without the complaint of setLoggingEnabled.
    void ensureLoggingEnabled();
    bool isLoggingEnabled();
    void truncateLogIfNeeded();

    std::wstring fileName;
    std::ofstream stream;
    std::mutex mutex;
    bool configuredEnabled;

private:
    Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    void writeLine(const std::string& text);
    void openLog(bool complainWhenOpen);
    void closeAfterFailure() noexcept;

    static void separate(std::string& text)
    {
        if (!text.empty())
            text += ' ';
    }
    static void appendPart(std::string& text, const char* part)
    {
        separate(text);
        text += part ? part : "";
    }
    static void appendPart(std::string& text, const std::string& part)
    {
        separate(text);
        text += part;
    }
    template <typename Integer, typename = std::enable_if_t<std::is_integral_v<Integer>>>
    static void appendPart(std::string& text, Integer part)
    {
        separate(text);
        text += std::to_string(part);
    }
};

enum class LogLevel { Info, Error };

// Collects one line with << and writes it when it goes out of scope.
class LogLine {
public:
    explicit LogLine(LogLevel level = LogLevel::Info);
    ~LogLine();

    LogLine& operator<<(const char* value);
    LogLine& operator<<(const std::string& value);
    LogLine& operator<<(const std::wstring& value);
    LogLine& operator<<(const wchar_t* value);
    LogLine& operator<<(const std::exception& error);
    template <typename Integer, typename = std::enable_if_t<std::is_integral_v<Integer>>>
    LogLine& operator<<(Integer value)
    {
        text << value << ' ';
        return *this;
    }

    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;

private:
    Logger& logger;
    std::ostringstream text;
};

// The two kinds of line, as used throughout the code.
#define LOG_INFO LogLine(LogLevel::Info)
#define LOG_ERROR LogLine(LogLevel::Error)
