// Whole-number parsing.
#include "platform/Convert.h"

#include <limits>

#include "platform/Exception.h"
#include "platform/Text.h"

namespace ab {
namespace {

// Parses into a magnitude with sign; rejects empty digits, trailing characters and overflow of
// the 64-bit range. Hexadecimal text denotes the bit pattern, as the runtime's Val did.
std::optional<std::int64_t> Parse(std::u16string_view s, std::uint64_t limitPositive,
                                  std::uint64_t limitNegative) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == u' ')
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        negative = s[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < s.size() && s[i] == u'$') {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size())
        return std::nullopt;
    std::uint64_t value = 0;
    for (; i < s.size(); ++i) {
        const int d =
            base == 16 ? HexDigitValue(s[i]) : (s[i] >= u'0' && s[i] <= u'9' ? s[i] - u'0' : -1);
        if (d < 0)
            return std::nullopt;
        if (value > (std::numeric_limits<std::uint64_t>::max() - d) / base)
            return std::nullopt;
        value = value * base + d;
    }
    if (base == 16) {
        // Hexadecimal fills the type's bits; the sign then negates that pattern.
        if (value > limitPositive + limitNegative)
            return std::nullopt;
        std::int64_t v = value > limitPositive ? static_cast<std::int64_t>(value - limitNegative) -
                                                     static_cast<std::int64_t>(limitNegative)
                                               : static_cast<std::int64_t>(value);
        return negative ? -v : v;
    }
    if (negative) {
        if (value > limitNegative)
            return std::nullopt;
        return value == limitNegative ? -static_cast<std::int64_t>(limitNegative - 1) - 1
                                      : -static_cast<std::int64_t>(value);
    }
    if (value > limitPositive)
        return std::nullopt;
    return static_cast<std::int64_t>(value);
}

[[noreturn]] void RaiseNotInteger(std::u16string_view text) {
    throw EConvertError(Format(u"'%s' is not a valid integer value", {text}));
}

}  // namespace

std::optional<std::int64_t> TryStrToInt64(std::u16string_view text) {
    return Parse(text, static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()),
                 static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1);
}

std::optional<std::int32_t> TryStrToInt(std::u16string_view text) {
    auto v = Parse(text, static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()),
                   static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) + 1);
    if (!v)
        return std::nullopt;
    return static_cast<std::int32_t>(*v);
}

std::int32_t StrToInt(std::u16string_view text) {
    auto v = TryStrToInt(text);
    if (!v)
        RaiseNotInteger(text);
    return *v;
}

std::int64_t StrToInt64(std::u16string_view text) {
    auto v = TryStrToInt64(text);
    if (!v)
        RaiseNotInteger(text);
    return *v;
}

}  // namespace ab
