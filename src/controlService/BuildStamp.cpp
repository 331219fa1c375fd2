#include "BuildStamp.h"

#include <cstdlib>
#include <cstring>

namespace {

const char* const Months = "JanFebMarAprMayJunJulAugSepOctNovDec";
const char* const Weekdays[] = { "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat" };

// Weekday of a Gregorian date, 0 for Sunday.
int weekday(int year, int month, int day)
{
    static const int offsets[] = { 0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4 };
    if (month < 3)
        year -= 1;
    return (year + year / 4 - year / 100 + year / 400 + offsets[month - 1] + day) % 7;
}

} // namespace

std::string buildStampText(const char* date, const char* time)
{
    const std::string text(date);
    if (text.size() != 11)
        return text + " " + time;
    const char* found = std::strstr(Months, text.substr(0, 3).c_str());
    const int month = found != nullptr ? static_cast<int>(found - Months) / 3 + 1 : 1;
    const int day = std::atoi(text.substr(4, 2).c_str());
    const int year = std::atoi(text.substr(7, 4).c_str());
    return std::string(Weekdays[weekday(year, month, day)]) + " " + text.substr(0, 6) + " " + time + " " +
           text.substr(7, 4);
}

std::string buildStamp()
{
    return buildStampText(__DATE__, __TIME__);
}
