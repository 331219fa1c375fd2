#pragma once
// When this program was built, in the form "Mon Oct 26 17:30:17 2015".

#include <string>

// The compiler's date ("Oct 26 2015", a single-digit day padded with a blank) and time
// ("17:30:17") in that form, with the weekday worked out from the date.
std::string buildStampText(const char* date, const char* time);

// The build date and time of this program.
std::string buildStamp();
