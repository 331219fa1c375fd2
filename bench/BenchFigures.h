#pragma once
// Timing and the one JSON line each benchmark program prints for the orchestrator.

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

class Stopwatch {
public:
    Stopwatch()
    {
        QueryPerformanceFrequency(&frequency_);
        restart();
    }
    void restart() { QueryPerformanceCounter(&start_); }
    double seconds() const
    {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return double(now.QuadPart - start_.QuadPart) / double(frequency_.QuadPart);
    }

private:
    LARGE_INTEGER frequency_ {};
    LARGE_INTEGER start_ {};
};

// Nearest-rank percentile of samples already sorted.
inline double percentile(const std::vector<double>& sorted, double fraction)
{
    if (sorted.empty())
        return 0;
    size_t rank = static_cast<size_t>(std::ceil(fraction * double(sorted.size())));
    rank = std::min(std::max<size_t>(rank, 1), sorted.size());
    return sorted[rank - 1];
}

// One line of JSON: fields added in order, numbers and plain strings only.
class JsonLine {
public:
    JsonLine& add(const char* name, double value)
    {
        char text[64];
        std::snprintf(text, sizeof text, "%.6g", value);
        return raw(name, text);
    }
    JsonLine& add(const char* name, const std::string& value) { return raw(name, "\"" + value + "\""); }
    JsonLine& add(const char* name, const std::vector<double>& values)
    {
        std::string list = "[";
        for (size_t i = 0; i < values.size(); ++i) {
            char text[32];
            std::snprintf(text, sizeof text, "%s%.6g", i ? "," : "", values[i]);
            list += text;
        }
        return raw(name, list + "]");
    }
    void print() const
    {
        std::printf("{%s}\n", fields_.c_str());
        std::fflush(stdout);
    }

private:
    JsonLine& raw(const char* name, const std::string& value)
    {
        if (!fields_.empty())
            fields_ += ",";
        fields_ += "\"" + std::string(name) + "\":" + value;
        return *this;
    }
    std::string fields_;
};

// Adds the latency figures of `microseconds` (which it sorts) to `line`, each name after `prefix`.
inline JsonLine& addLatencies(JsonLine& line, std::vector<double>& microseconds, const std::string& prefix = "")
{
    std::sort(microseconds.begin(), microseconds.end());
    double sum = 0;
    for (double value : microseconds)
        sum += value;
    const double count = double(microseconds.size());
    return line.add((prefix + "count").c_str(), count)
        .add((prefix + "p50_us").c_str(), percentile(microseconds, 0.50))
        .add((prefix + "p99_us").c_str(), percentile(microseconds, 0.99))
        .add((prefix + "mean_us").c_str(), count > 0 ? sum / count : 0);
}

namespace bench_detail {
inline DWORD limitMs = 0;
inline DWORD WINAPI endProcessAtLimit(LPVOID)
{
    Sleep(limitMs);
    std::fprintf(stderr, "time limit reached\n");
    std::fflush(stderr);
    ExitProcess(3);
}
} // namespace bench_detail

// Ends the process when a run outlives its limit, whatever it is waiting on.
inline void endProcessAfter(DWORD milliseconds)
{
    bench_detail::limitMs = milliseconds;
    HANDLE thread = CreateThread(nullptr, 0, bench_detail::endProcessAtLimit, nullptr, 0, nullptr);
    if (thread != nullptr)
        CloseHandle(thread);
}
