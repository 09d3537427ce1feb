// Innermost-message text for the general error handler.
#include "app/ExceptionText.h"

#include "platform/Exception.h"
#include "platform/Text.h"

namespace ab {
namespace {

std::u16string MessageOf(const std::exception& e) {
    if (const auto* own = dynamic_cast<const Exception*>(&e))
        return own->Message();
    return FromUtf8(e.what());
}

}  // namespace

std::u16string ApplicationErrorText(std::exception_ptr error) {
    std::u16string text;
    // Each level's nested error, if any, replaces it; the chain ends at the innermost one.
    while (error) {
        std::exception_ptr inner;
        try {
            std::rethrow_exception(error);
        } catch (const std::nested_exception& nested) {
            inner = nested.nested_ptr();
            const auto* e = dynamic_cast<const std::exception*>(&nested);
            text = e != nullptr ? MessageOf(*e) : u"Unknown error";
        } catch (const std::exception& e) {
            text = MessageOf(e);
        } catch (...) {
            text = u"Unknown error";
        }
        error = inner;
    }
    if (!text.empty() && text.back() > u'.')
        text += u'.';
    return text;
}

}  // namespace ab
