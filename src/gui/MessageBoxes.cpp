// Modal boxes built on QMessageBox with explicit titles and button texts.
#include "gui/MessageBoxes.h"

#include <QMessageBox>
#include <QPushButton>

#include "gui/QtText.h"

namespace ab {
namespace {

// Runs one box; returns true when the first button (OK or Yes) was chosen.
bool RunBox(QWidget* parent, QMessageBox::Icon icon, const QString& title,
            const std::u16string& text, bool yesNo) {
    QMessageBox box(parent);
    box.setIcon(icon);
    box.setWindowTitle(title);
    box.setTextFormat(Qt::PlainText);  // file names may hold '<'
    box.setText(ToQString(text));
    QPushButton* first = box.addButton(yesNo ? QStringLiteral("&Yes") : QStringLiteral("OK"),
                                       yesNo ? QMessageBox::YesRole : QMessageBox::AcceptRole);
    if (yesNo) {
        QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
        box.setEscapeButton(no);
    } else {
        box.setEscapeButton(first);
    }
    box.setDefaultButton(first);
    box.exec();
    return box.clickedButton() == first;
}

}  // namespace

void ShowWarningBox(QWidget* parent, const std::u16string& text) {
    RunBox(parent, QMessageBox::Warning, QStringLiteral("Warning"), text, false);
}

bool AskWarningYesNoBox(QWidget* parent, const std::u16string& text) {
    return RunBox(parent, QMessageBox::Warning, QStringLiteral("Warning"), text, true);
}

void ShowErrorBox(QWidget* parent, const std::u16string& text) {
    RunBox(parent, QMessageBox::Critical, QStringLiteral("Error"), text, false);
}

void ShowMessageBox(QWidget* parent, const std::u16string& title, const std::u16string& text) {
    RunBox(parent, QMessageBox::NoIcon, ToQString(title), text, false);
}

void ShowApplicationErrorBox(QWidget* parent, const std::u16string& title,
                             const std::u16string& text) {
    RunBox(parent, QMessageBox::Critical, ToQString(title), text, false);
}

}  // namespace ab
