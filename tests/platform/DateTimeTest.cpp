// Date-time number, the store's millisecond count and the 14-digit stamp.
#include <gtest/gtest.h>

#include "platform/DateTime.h"
#include "platform/Exception.h"

namespace ab {
namespace {

TDateTimeParts Parts(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return {y, mo, d, h, mi, s, ms};
}

TEST(DateTime, EncodeDecodeRoundTrip) {
    struct Case {
        TDateTimeParts parts;
        double value;
    } cases[] = {
        {Parts(1899, 12, 30), 0.0},
        {Parts(2015, 12, 11, 10, 30), 42349.4375},
        {Parts(1900, 1, 1, 12), 2.5},
        {Parts(1899, 12, 29, 6), -1.25},  // before the epoch the time is subtracted
        {Parts(1, 1, 1), -693593.0},
        {Parts(9999, 12, 31), 2958465.0},
        {Parts(2000, 2, 29, 23, 59, 59, 999), 36585.0 + 86399999.0 / 86400000.0},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(EncodeDateTime(c.parts), c.value) << c.value;
        EXPECT_EQ(DecodeDateTime(c.value), c.parts) << c.value;
    }
}

TEST(DateTime, EncodeRefusesFieldsOutOfRange) {
    const TDateTimeParts bad[] = {
        Parts(2015, 2, 29),       Parts(1900, 2, 29),          Parts(0, 1, 1),
        Parts(10000, 1, 1),       Parts(2015, 13, 1),          Parts(2015, 1, 1, 24),
        Parts(2015, 1, 1, 0, 60), Parts(2015, 1, 1, 0, 0, 60), Parts(2015, 1, 1, 0, 0, 0, 1000)};
    for (const auto& p : bad) {
        TDateTime out = 0;
        EXPECT_FALSE(TryEncodeDateTime(p, out)) << p.Year << "-" << p.Month << "-" << p.Day;
    }
    EXPECT_THROW(EncodeDateTime(Parts(2015, 2, 30)), EConvertError);
}

TEST(DateTime, MillisecondCountOfTheStore) {
    struct Case {
        double value;
        double msecs;
    } cases[] = {
        {0.0, 59'926'521'600'000.0},
        {42349.4375, 63'585'513'000'000.0},
        {EncodeDateTime(Parts(2015, 12, 11, 10, 30, 0, 250)), 63'585'513'000'250.0},
        {-1.25, 59'926'521'600'000.0 - 86'400'000.0 + 21'600'000.0},
        {0.5 / 86'400'000.0, 59'926'521'600'000.0},  // half a millisecond rounds to even
        {1.5 / 86'400'000.0, 59'926'521'600'002.0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DateTimeToMSecs(c.value), c.msecs) << c.value;
    EXPECT_EQ(MSecsToDateTimeParts(63'585'513'000'250.0), Parts(2015, 12, 11, 10, 30, 0, 250));
    EXPECT_EQ(MSecsToDateTimeParts(59'926'521'600'000.0), Parts(1899, 12, 30));
    EXPECT_THROW(MSecsToDateTimeParts(0.5), EConvertError);
    EXPECT_THROW(MSecsToDateTimeParts(-86'400'000.0), EConvertError);
    EXPECT_THROW(DateTimeToMSecs(std::numeric_limits<double>::quiet_NaN()), EConvertError);
}

TEST(DateTime, Stamp14) {
    EXPECT_EQ(FormatStamp14(EncodeDateTime(Parts(2015, 12, 11, 10, 30, 5, 999))),
              u"20151211103005");
    EXPECT_EQ(FormatStamp14(0.0), u"18991230000000");
    EXPECT_EQ(FormatStamp14(Parts(987, 1, 2, 3, 4, 5)), u"09870102030405");
    // 23:59:59.9996 rounds to the next day's midnight.
    EXPECT_EQ(FormatStamp14(1.0 - 0.4 / 86'400'000.0), u"18991231000000");
}

}  // namespace
}  // namespace ab
