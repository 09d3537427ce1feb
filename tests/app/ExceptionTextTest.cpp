// The general error handler's text: innermost message of nested errors, full-stop rule.
#include <gtest/gtest.h>

#include <stdexcept>

#include "app/ExceptionText.h"
#include "platform/Exception.h"
#include "platform/Text.h"

namespace ab {
namespace {

std::exception_ptr Nested(std::u16string inner, std::u16string middle, std::u16string outer) {
    try {
        try {
            try {
                throw Exception(inner);
            } catch (...) {
                std::throw_with_nested(EConvertError(middle));
            }
        } catch (...) {
            std::throw_with_nested(Exception(outer));
        }
    } catch (...) {
        return std::current_exception();
    }
}

TEST(ApplicationErrorText, FullStopOnlyAfterCharactersAbovePeriod) {
    struct Case {
        const char16_t* message;
        const char16_t* shown;
    } cases[] = {
        {u"Read error", u"Read error."},
        {u"Already ends.", u"Already ends."},
        {u"Bang!", u"Bang!"},      // '!' is below '.'
        {u"Value -", u"Value -"},  // '-' is below '.'
        {u"(x)", u"(x)"},
        {u"Path /", u"Path /."},  // '/' is above '.'
        {u"Continuar?", u"Continuar?."},
        {u"12", u"12."},
        {u"Servidor n\u00E3o", u"Servidor n\u00E3o."},
        {u"Linha\r\n", u"Linha\r\n"},
        {u"", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.message));
        EXPECT_EQ(ApplicationErrorText(std::make_exception_ptr(Exception(c.message))), c.shown);
    }
}

TEST(ApplicationErrorText, InnermostMessageAndForeignErrors) {
    EXPECT_EQ(ApplicationErrorText(Nested(u"Socket closed", u"middle", u"outer")),
              u"Socket closed.");
    EXPECT_EQ(ApplicationErrorText(std::make_exception_ptr(std::runtime_error("falha \xC3\xA9"))),
              u"falha \u00E9.");
    EXPECT_EQ(ApplicationErrorText(std::make_exception_ptr(42)), u"Unknown error.");
}

}  // namespace
}  // namespace ab
