// What the publishing run needs from the main window, so the run works and is tested without Qt.
#pragma once

#include <string>

namespace ab {

class IMainView {
  public:
    enum class Page { Principal, Progresso };
    // Progress icons by index.
    static constexpr int IconProcessing = 0;  // blue arrow
    static constexpr int IconDone = 1;        // green check
    static constexpr int IconFailed = 2;      // red cross

    virtual ~IMainView() = default;

    // The address field's text and the port spinner's position.
    virtual std::u16string EnderecoText() = 0;
    virtual int PortaPosition() = 0;

    // Progress list: add a row (returns its index), change its icon, scroll it into view, clear.
    virtual int AddRow(const std::u16string& text, int icon) = 0;
    virtual void SetRowIcon(int row, int icon) = 0;
    virtual void ScrollToRow(int row) = 0;
    virtual void ClearRows() = 0;
    // Let the window process all pending events once (repaint, clicks).
    virtual void ProcessEvents() = 0;

    // Modal boxes: warning ("Warning", OK), warning with Yes/No (true for Yes), error ("Error",
    // OK), plain message (application title, OK).
    virtual void ShowWarning(const std::u16string& text) = 0;
    virtual bool AskWarningYesNo(const std::u16string& text) = 0;
    virtual void ShowError(const std::u16string& text) = 0;
    virtual void ShowMessage(const std::u16string& text) = 0;

    virtual void SetAtualizarEnabled(bool enabled) = 0;
    virtual void ShowPage(Page page) = 0;
    // Close the main window (which ends the program).
    virtual void CloseWindow() = 0;
    // True once the user asked to close the window while the run was in progress (close box or
    // "Cancelar" during ProcessEvents). The window defers that close until the run returns; the
    // run should finish the current file, then end without further files.
    virtual bool CloseRequested() { return false; }
};

}  // namespace ab
