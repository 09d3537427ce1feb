// Command-line tokenising over plain lines and over a process's argv.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <vector>

#include "platform/CommandLine.h"
#include "platform/Text.h"

namespace ab {
namespace {

std::vector<std::u16string> Params(const CommandLine& cl) {
    std::vector<std::u16string> out;
    for (int i = 1; i <= cl.ParamCount(); ++i)
        out.push_back(cl.ParamStr(i));
    return out;
}

TEST(CommandLine, Tokenising) {
    struct Case {
        const char16_t* line;
        std::vector<std::u16string> params;
    } cases[] = {
        {u"", {}},
        {u"prog", {}},
        {u"prog a b  c", {u"a", u"b", u"c"}},
        {u"\"/opt/Meu App/prog\" \"Meu Sistema\" localhost 211 01 teste Vr@ndoxT",
         {u"Meu Sistema", u"localhost", u"211", u"01", u"teste", u"Vr@ndoxT"}},
        // An empty quoted argument does not count: the ones after it move forward.
        {u"prog \"\" a b", {u"a", u"b"}},
        {u"prog a \"\" \"\"  b \"\"", {u"a", u"b"}},
        {u"prog \"\"\"\"x", {u"x"}},
        {u"prog \"\"\"x y\"", {u"x y"}},
        // Quotes inside an argument only switch spaces on; they are removed.
        {u"prog a\"\"b", {u"ab"}},
        {u"prog a\"b c\"d e", {u"ab cd", u"e"}},
        {u"prog \"TESTE \"", {u"TESTE "}},
        // An unterminated quote runs to the end of the line.
        {u"prog \"a b", {u"a b"}},
        {u"prog x\"", {u"x"}},
        // Every code from 1 to 32 separates; 127 and above do not.
        {u"prog\ta\x01"
         u"b\x1F"
         u"c\r\nd\x7F"
         u"e",
         {u"a", u"b", u"c",
          u"d\x7F"
          u"e"}},
        {u"prog Endere\u00E7o", {u"Endere\u00E7o"}},
        // The program token follows the same rules.
        {u"\"\" prog a", {u"a"}},
        {u"\"my prog\" a", {u"a"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.line));
        const CommandLine cl(c.line, u"/opt/ab/AtualizadorBrevant");
        EXPECT_EQ(Params(cl), c.params);
    }
}

TEST(CommandLine, PositionsAndProgramFolder) {
    const CommandLine cl(u"prog a b", u"/opt/ab/AtualizadorBrevant");
    EXPECT_EQ(cl.ParamCount(), 2);
    EXPECT_EQ(cl.ParamStr(0), u"/opt/ab/AtualizadorBrevant");
    EXPECT_EQ(cl.ParamStr(2), u"b");
    EXPECT_EQ(cl.ParamStr(3), u"");
    EXPECT_EQ(cl.ParamStr(6), u"");
    EXPECT_EQ(cl.ParamStr(-1), u"");
    EXPECT_EQ(cl.ProgramFolder(), u"/opt/ab/");
    EXPECT_EQ(CommandLine(u"p", u"prog").ProgramFolder(), u"");
}

TEST(CommandLine, JoinQuotesEmptyAndSpacedArguments) {
    EXPECT_EQ(CommandLine::Join({u"a b", u"", u"c", u"d\te"}), u"\"a b\" \"\" c \"d\te\"");
    // Joined and tokenised again, every argument survives except the empty one.
    const std::vector<std::u16string> args = {u"Meu Sistema", u"", u" x ", u"Vr@ndoxT"};
    EXPECT_EQ(Params(CommandLine(u"prog " + CommandLine::Join(args), u"/p")),
              (std::vector<std::u16string>{u"Meu Sistema", u" x ", u"Vr@ndoxT"}));
}

TEST(CommandLine, FromArgvSkipsEmptyArgumentsAndReadsOwnPath) {
    const char* argv[] = {"", "Meu Sistema", "", "localhost", "211", "01", "", "Vr@ndoxT"};
    const CommandLine cl = CommandLine::FromArgv(8, argv);
    EXPECT_EQ(Params(cl), (std::vector<std::u16string>{u"Meu Sistema", u"localhost", u"211", u"01",
                                                       u"Vr@ndoxT"}));
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self);
    ASSERT_GT(n, 0);
    EXPECT_EQ(cl.ParamStr(0), FromUtf8(std::string(self, static_cast<std::size_t>(n))));
    EXPECT_EQ(CommandLine::FromArgv(1, argv).ParamCount(), 0);
}

}  // namespace
}  // namespace ab
