// Text conversions at the program's edges. Inside, text is UTF-16 (std::u16string); file names are
// UTF-8 on Linux; the "ANSI code page" of the system this tool stands in for is Windows-1252.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ab {

// UTF-8 <-> UTF-16. Invalid UTF-8 sequences become U+FFFD; unpaired surrogates become U+FFFD.
std::u16string FromUtf8(std::string_view utf8);
std::string ToUtf8(std::u16string_view text);

// A Linux file name is bytes in no particular encoding. FromFileName reads it as UTF-8 and turns
// each byte that is not part of a valid sequence into the lone surrogate U+DC00 + byte (U+DC80 to
// U+DCFF); ToFileName gives exactly the same bytes back, so a name read from a folder reaches every
// system call unchanged. Other unpaired surrogates become U+FFFD on the way out, as in ToUtf8.
std::u16string FromFileName(std::string_view bytes);
std::string ToFileName(std::u16string_view name);
// A name as people and the server read it: each byte kept by FromFileName becomes its
// Windows-1252 character (the code page the server side uses for names: F3 reads as "ó");
// everything else is unchanged.
std::u16string ReadableName(std::u16string_view name);
// A JSON string literal, quotes included, in UTF-8: a name's bytes that are not UTF-8 in their
// readable form (ReadableName), so the line stays valid JSON; control characters escaped.
std::string JsonString(std::u16string_view text);

// UTF-16 -> Windows-1252; characters the code page cannot represent become '?'.
std::string ToAnsi(std::u16string_view text);
// Windows-1252 -> UTF-16 (the five unassigned bytes map to the same code points).
std::u16string FromAnsi(std::string_view ansi);

// Latin-1 widening: every byte becomes the character with the same code.
std::u16string FromLatin1(std::string_view bytes);

// Upper-cases a to z only; every other character is left unchanged.
std::u16string AsciiUpper(std::u16string_view text);

// Removes the characters with codes 0 to 32 from both ends.
std::u16string Trim(std::u16string_view text);

// Replaces %s, %d and %N:s placeholders in order (or by index N) with the given texts; "%%" is "%".
std::u16string Format(std::u16string_view pattern, std::initializer_list<std::u16string_view> args);

// Decimal text of an integer.
std::u16string IntToStr(long long value);

// The value of a hexadecimal digit (0-9, A-F, a-f), or -1 for any other character.
constexpr int HexDigitValue(char32_t c) {
    if (c >= U'0' && c <= U'9')
        return static_cast<int>(c - U'0');
    if (c >= U'A' && c <= U'F')
        return static_cast<int>(c - U'A') + 10;
    if (c >= U'a' && c <= U'f')
        return static_cast<int>(c - U'a') + 10;
    return -1;
}

}  // namespace ab
