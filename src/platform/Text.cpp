// Text conversions: UTF-8, UTF-16, Windows-1252, Latin-1, and small text helpers.
#include "platform/Text.h"

#include <array>
#include <cstdio>

namespace ab {
namespace {

// Windows-1252 bytes 0x80..0x9F; 0 marks the five bytes that map to the same code point.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The character a Windows-1252 byte stands for.
char16_t FromCp1252Byte(unsigned char b) {
    return b >= 0x80 && b <= 0x9F && kCp1252High[b - 0x80] ? kCp1252High[b - 0x80] : b;
}

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// UTF-8 decoding; `invalid` is given the bytes of each sequence that does not decode and says
// what stands for them.
template <class Invalid>
std::u16string DecodeUtf8(std::string_view utf8, Invalid invalid) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    const std::size_t n = utf8.size();
    while (i < n) {
        const auto b0 = static_cast<unsigned char>(utf8[i]);
        int extra = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if (b0 < 0x80) {
            out.push_back(b0);
            ++i;
            continue;
        } else if ((b0 & 0xE0) == 0xC0) {
            extra = 1, cp = b0 & 0x1F, min = 0x80;
        } else if ((b0 & 0xF0) == 0xE0) {
            extra = 2, cp = b0 & 0x0F, min = 0x800;
        } else if ((b0 & 0xF8) == 0xF0) {
            extra = 3, cp = b0 & 0x07, min = 0x10000;
        } else {
            i += invalid(out, utf8.substr(i, 1));
            continue;
        }
        std::size_t j = i + 1;
        bool ok = true;
        for (int k = 0; k < extra; ++k, ++j) {
            if (j >= n || (static_cast<unsigned char>(utf8[j]) & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[j]) & 0x3F);
        }
        if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            i += invalid(out, utf8.substr(i, ok ? j - i : 1));
            continue;
        }
        AppendUtf16(out, cp);
        i = j;
    }
    return out;
}

// UTF-8 encoding; `lone` says what an unpaired surrogate becomes.
template <class Lone>
std::string EncodeUtf8(std::u16string_view text, Lone lone) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            lone(out, c);
        } else {
            AppendUtf8(out, c);
        }
    }
    return out;
}

constexpr char16_t kEscapeBase = 0xDC00;

bool IsEscapedByte(char16_t c) {
    return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF;
}

}  // namespace

std::u16string FromUtf8(std::string_view utf8) {
    // A sequence that is whole but stands for no character is one replacement; a broken one gives
    // one per byte.
    return DecodeUtf8(utf8, [](std::u16string& out, std::string_view bad) {
        out.push_back(0xFFFD);
        return bad.size();
    });
}

std::u16string FromFileName(std::string_view bytes) {
    // One byte at a time, so that every byte comes back as it was.
    return DecodeUtf8(bytes, [](std::u16string& out, std::string_view bad) {
        out.push_back(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(bad[0])));
        return std::size_t{1};
    });
}

std::string ToFileName(std::u16string_view name) {
    return EncodeUtf8(name, [](std::string& out, char16_t c) {
        if (IsEscapedByte(c))
            out.push_back(static_cast<char>(c - kEscapeBase));
        else
            AppendUtf8(out, 0xFFFD);
    });
}

std::u16string ReadableName(std::u16string_view name) {
    std::u16string out(name);
    for (char16_t& c : out) {
        if (IsEscapedByte(c))
            c = FromCp1252Byte(static_cast<unsigned char>(c - kEscapeBase));
    }
    return out;
}

std::string JsonString(std::u16string_view text) {
    std::string out = "\"";
    for (const unsigned char c : ToUtf8(ReadableName(text))) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string ToUtf8(std::u16string_view text) {
    return EncodeUtf8(text, [](std::string& out, char16_t) { AppendUtf8(out, 0xFFFD); });
}

std::string ToAnsi(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            ++i;  // one character, one replacement
            out.push_back('?');
            continue;
        }
        char byte = '?';
        for (std::size_t k = 0; k < kCp1252High.size(); ++k) {
            const char16_t mapped =
                kCp1252High[k] ? kCp1252High[k] : static_cast<char16_t>(0x80 + k);
            if (mapped == c) {
                byte = static_cast<char>(0x80 + k);
                break;
            }
        }
        out.push_back(byte);
    }
    return out;
}

std::u16string FromAnsi(std::string_view ansi) {
    std::u16string out;
    out.reserve(ansi.size());
    for (char ch : ansi)
        out.push_back(FromCp1252Byte(static_cast<unsigned char>(ch)));
    return out;
}

std::u16string FromLatin1(std::string_view bytes) {
    std::u16string out(bytes.size(), u'\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out[i] = static_cast<unsigned char>(bytes[i]);
    }
    return out;
}

std::u16string AsciiUpper(std::u16string_view text) {
    std::u16string out(text);
    for (auto& c : out) {
        if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - 32);
        }
    }
    return out;
}

std::u16string Trim(std::u16string_view text) {
    std::size_t b = 0;
    std::size_t e = text.size();
    while (b < e && text[b] <= 32) {
        ++b;
    }
    while (e > b && text[e - 1] <= 32) {
        --e;
    }
    return std::u16string(text.substr(b, e - b));
}

std::u16string Format(std::u16string_view pattern,
                      std::initializer_list<std::u16string_view> args) {
    std::u16string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char16_t c = pattern[i];
        if (c != u'%' || i + 1 >= pattern.size()) {
            out.push_back(c);
            continue;
        }
        const char16_t d = pattern[i + 1];
        if (d == u'%') {
            out.push_back(u'%');
            ++i;
            continue;
        }
        std::size_t index = next;
        std::size_t j = i + 1;
        if (d >= u'0' && d <= u'9') {
            std::size_t k = j;
            std::size_t value = 0;
            while (k < pattern.size() && pattern[k] >= u'0' && pattern[k] <= u'9') {
                value = value * 10 + (pattern[k] - u'0');
                ++k;
            }
            if (k < pattern.size() && pattern[k] == u':') {
                index = value;
                j = k + 1;
            }
        }
        if (j < pattern.size() && (pattern[j] == u's' || pattern[j] == u'd')) {
            if (index < args.size()) {
                out.append(*(args.begin() + index));
            }
            next = index + 1;
            i = j;
            continue;
        }
        out.push_back(c);
    }
    return out;
}

std::u16string IntToStr(long long value) {
    const std::string s = std::to_string(value);
    return std::u16string(s.begin(), s.end());
}

}  // namespace ab
