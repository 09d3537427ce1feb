// Calendar arithmetic of the date-time number and the store's millisecond count.
#include "platform/DateTime.h"

#include <cmath>

#include "platform/Exception.h"

namespace ab {
namespace {

bool IsLeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// Day number with day 1 = 0001-01-01.
std::int64_t DayNumber(int y, int m, int d) {
    static constexpr int kBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const std::int64_t py = y - 1;
    std::int64_t days = py * 365 + py / 4 - py / 100 + py / 400 + kBefore[m - 1] + d;
    if (m > 2 && IsLeapYear(y))
        ++days;
    return days;
}

// Day number (day 1 = 0001-01-01) -> y, m, d; false outside years 1 to 9999.
bool SplitDayNumber(std::int64_t day, int& y, int& m, int& d) {
    if (day < 1 || day > DayNumber(9999, 12, 31))
        return false;
    // Days since 0000-03-01 in the proleptic Gregorian calendar (civil-from-days).
    // 0001-01-01 (day 1) lies 306 days after 0000-03-01.
    const std::int64_t z = day + 305;
    const std::int64_t era = z / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
    return true;
}

[[noreturn]] void RaiseInvalid() {
    throw EConvertError(u"Invalid date-time value");
}

}  // namespace

bool TryEncodeDateTime(const TDateTimeParts& p, TDateTime& result) {
    if (p.Year < 1 || p.Year > 9999 || p.Month < 1 || p.Month > 12 || p.Day < 1 ||
        p.Day > DaysInMonth(p.Year, p.Month) || p.Hour < 0 || p.Hour > 23 || p.Minute < 0 ||
        p.Minute > 59 || p.Second < 0 || p.Second > 59 || p.Millisecond < 0 || p.Millisecond > 999)
        return false;
    const double date = static_cast<double>(DayNumber(p.Year, p.Month, p.Day) - DateDelta);
    const double time =
        static_cast<double>(((p.Hour * 60 + p.Minute) * 60 + p.Second) * 1000 + p.Millisecond) /
        static_cast<double>(MSecsPerDay);
    result = date >= 0 ? date + time : date - time;
    return true;
}

TDateTime EncodeDateTime(const TDateTimeParts& parts) {
    TDateTime result = 0;
    if (!TryEncodeDateTime(parts, result))
        throw EConvertError(u"Invalid argument to date encode");
    return result;
}

double DateTimeToMSecs(TDateTime value) {
    // Round half to even, as the runtime's rounding did.
    const double ms = std::nearbyint(value * static_cast<double>(MSecsPerDay));
    if (!std::isfinite(ms) || std::fabs(ms) > 9.0e15)
        RaiseInvalid();
    const auto whole = static_cast<std::int64_t>(ms);
    const std::int64_t magnitude = whole < 0 ? -whole : whole;
    const std::int64_t day =
        whole >= 0 ? DateDelta + magnitude / MSecsPerDay : DateDelta - magnitude / MSecsPerDay;
    return static_cast<double>(day * MSecsPerDay + magnitude % MSecsPerDay);
}

TDateTimeParts MSecsToDateTimeParts(double msecs) {
    if (!std::isfinite(msecs) || msecs < 0 || msecs > 9.0e15 || std::trunc(msecs) != msecs)
        RaiseInvalid();
    const auto whole = static_cast<std::int64_t>(msecs);
    TDateTimeParts p;
    if (!SplitDayNumber(whole / MSecsPerDay, p.Year, p.Month, p.Day))
        RaiseInvalid();
    std::int64_t time = whole % MSecsPerDay;
    p.Millisecond = static_cast<int>(time % 1000);
    time /= 1000;
    p.Second = static_cast<int>(time % 60);
    time /= 60;
    p.Minute = static_cast<int>(time % 60);
    p.Hour = static_cast<int>(time / 60);
    return p;
}

TDateTimeParts DecodeDateTime(TDateTime value) {
    return MSecsToDateTimeParts(DateTimeToMSecs(value));
}

std::u16string FormatStamp14(const TDateTimeParts& p) {
    char16_t out[14];
    auto put = [&out](int at, int width, int v) {
        for (int i = width - 1; i >= 0; --i, v /= 10)
            out[at + i] = static_cast<char16_t>(u'0' + v % 10);
    };
    put(0, 4, p.Year);
    put(4, 2, p.Month);
    put(6, 2, p.Day);
    put(8, 2, p.Hour);
    put(10, 2, p.Minute);
    put(12, 2, p.Second);
    return std::u16string(out, 14);
}

std::u16string FormatStamp14(TDateTime value) {
    return FormatStamp14(DecodeDateTime(value));
}

}  // namespace ab
