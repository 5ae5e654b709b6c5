#pragma once

#include <ctime>
#include <string>

namespace orvalis::app {

// The separators of the user's locale (LC_TIME): "-" and ":" when the locale
// has none that is a single punctuation character.
struct TDateTimeSeparators {
    char Date = '-';
    char Time = ':';
};

// Separators of the environment's LC_TIME locale, found once.
const TDateTimeSeparators& LocaleSeparators();
// Separators of the named locale; the fall-backs when it does not exist.
TDateTimeSeparators SeparatorsOfLocale(const char* localeName);

// "[yyyy/mm/dd hh:nn:ss] " with "/" and ":" replaced by the separators.
std::string FormatStamp(const std::tm& local, const TDateTimeSeparators& separators);
// The stamp of the current local time in the user's locale.
std::string CurrentStamp();

} // namespace orvalis::app
