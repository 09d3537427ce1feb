// The modal boxes of the tool: warning ("Warning"), error ("Error"), plain message (the
// application title, no icon) and the general error handler's box (the application title, error
// icon). Buttons read "OK", or "&Yes" and "&No". Texts are shown as plain text, never as markup.
#pragma once

#include <string>

class QWidget;

namespace ab {

void ShowWarningBox(QWidget* parent, const std::u16string& text);
// Yes/No warning; true when the answer is Yes (Escape or closing the box answers No).
bool AskWarningYesNoBox(QWidget* parent, const std::u16string& text);
void ShowErrorBox(QWidget* parent, const std::u16string& text);
void ShowMessageBox(QWidget* parent, const std::u16string& title, const std::u16string& text);
void ShowApplicationErrorBox(QWidget* parent, const std::u16string& title,
                             const std::u16string& text);

}  // namespace ab
