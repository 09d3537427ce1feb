// Record-set errors.
#include "packet/EDatabaseError.h"

namespace ab {

EDatabaseError EDatabaseError::ForComponent(std::u16string_view component,
                                            std::u16string_view message) {
    std::u16string text(component);
    text += u": ";
    text += message;
    return EDatabaseError(std::move(text));
}

}  // namespace ab
