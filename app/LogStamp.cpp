#include "app/LogStamp.h"

#include <cctype>
#include <clocale>
#include <cstdio>
#include <locale.h>

namespace orvalis::app {

namespace {

// The text between the first and the second run of digits of `formatted`,
// when it is a single punctuation character.
char SeparatorIn(const char* formatted, char fallback) {
    const char* p = formatted;
    while (*p && !std::isdigit(static_cast<unsigned char>(*p))) {
        ++p;
    }
    while (*p && std::isdigit(static_cast<unsigned char>(*p))) {
        ++p;
    }
    const char* start = p;
    while (*p && !std::isdigit(static_cast<unsigned char>(*p))) {
        ++p;
    }
    if (*p && p - start == 1 && std::ispunct(static_cast<unsigned char>(*start))) {
        return *start;
    }
    return fallback;
}

} // namespace

TDateTimeSeparators SeparatorsOfLocale(const char* localeName) {
    TDateTimeSeparators result;
    locale_t loc = newlocale(LC_TIME_MASK, localeName, static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr)) {
        return result;
    }
    std::tm known{};
    known.tm_year = 2009 - 1900;
    known.tm_mon = 1;
    known.tm_mday = 15;
    known.tm_hour = 13;
    known.tm_min = 5;
    known.tm_sec = 9;
    char text[128];
    if (strftime_l(text, sizeof text, "%x", &known, loc) > 0) {
        result.Date = SeparatorIn(text, result.Date);
    }
    if (strftime_l(text, sizeof text, "%X", &known, loc) > 0) {
        result.Time = SeparatorIn(text, result.Time);
    }
    freelocale(loc);
    return result;
}

const TDateTimeSeparators& LocaleSeparators() {
    static const TDateTimeSeparators separators = SeparatorsOfLocale("");
    return separators;
}

std::string FormatStamp(const std::tm& local, const TDateTimeSeparators& separators) {
    char text[64];
    std::snprintf(text, sizeof text, "[%04d%c%02d%c%02d %02d%c%02d%c%02d] ", local.tm_year + 1900,
                  separators.Date, local.tm_mon + 1, separators.Date, local.tm_mday, local.tm_hour,
                  separators.Time, local.tm_min, separators.Time, local.tm_sec);
    return text;
}

std::string CurrentStamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return FormatStamp(local, LocaleSeparators());
}

} // namespace orvalis::app
