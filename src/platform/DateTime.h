// The tool's date-time number (days since 1899-12-30 00:00 as a double, the fraction being the
// time of day) and the record store's millisecond count; calendar encoding, decoding and the
// 14-digit stamp yyyymmddhhnnss.
#pragma once

#include <cstdint>
#include <string>

namespace ab {

using TDateTime = double;

// Calendar fields of a moment; Month and Day count from 1, Millisecond is 0 to 999.
struct TDateTimeParts {
    int Year = 1899;
    int Month = 12;
    int Day = 30;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;

    friend bool operator==(const TDateTimeParts&, const TDateTimeParts&) = default;
};

constexpr std::int64_t MSecsPerDay = 86'400'000;
// Day number of 1899-12-30 when day 1 is 0001-01-01 (proleptic Gregorian).
constexpr std::int64_t DateDelta = 693'594;

// Calendar fields -> date-time. Years 1 to 9999; before 1899-12-30 the time of day is subtracted
// from the (negative) day number, as the runtime did. false for fields out of range.
bool TryEncodeDateTime(const TDateTimeParts& parts, TDateTime& result);
// Same, raising EConvertError "Invalid argument to date encode" on fields out of range.
TDateTime EncodeDateTime(const TDateTimeParts& parts);

// Date-time -> calendar fields, rounded to the nearest millisecond (ties to even). Values whose day
// lies outside years 1 to 9999 raise EConvertError.
TDateTimeParts DecodeDateTime(TDateTime value);

// The record store's millisecond count: day * 86,400,000 + milliseconds of the day, day 1 being
// 0001-01-01; an exact integer held as a double. 0 gives 59,926,521,600,000.
double DateTimeToMSecs(TDateTime value);
// Millisecond count -> calendar fields. Raises EConvertError for counts that are not a whole
// number of milliseconds or whose day lies outside years 1 to 9999.
TDateTimeParts MSecsToDateTimeParts(double msecs);

// 14 digits yyyymmddhhnnss of the calendar fields (years below 1000 are zero-padded).
std::u16string FormatStamp14(const TDateTimeParts& parts);
std::u16string FormatStamp14(TDateTime value);

}  // namespace ab
