// A main window for the publishing run without Qt: it records rows, icons, boxes, the button and
// the page, answers the Yes/No question from a queue, and runs a hook each time the run lets it
// process events (where a user would click). Each call holds the view's own lock, since the run's
// connections report their files while a question is open; the hooks run under it too.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/IMainView.h"

namespace ab::testing {

// The icons a row shows, by what they mean.
constexpr int Arrow = IMainView::IconProcessing;
constexpr int Check = IMainView::IconDone;
constexpr int Cross = IMainView::IconFailed;

class FakeView : public IMainView {
  public:
    struct Row {
        std::u16string Text;
        std::vector<int> Icons;  // every icon the row had, in order
        int Icon() const { return Icons.back(); }
    };
    enum class BoxKind { Warning, Question, Error, Message };
    struct Box {
        BoxKind Kind;
        std::u16string Text;
    };

    std::u16string Endereco = u"127.0.0.1";
    int Porta = 211;
    std::vector<Row> Rows;
    std::vector<Box> Boxes;
    std::deque<bool> Answers;          // Yes/No answers, in order; an empty queue answers Yes
    std::vector<bool> EnabledChanges;  // every SetAtualizarEnabled
    std::vector<Page> Pages;           // every ShowPage
    int Clears = 0;
    int Closes = 0;
    int Scrolls = 0;
    bool CloseAsked = false;
    std::function<void(FakeView&)> OnProcessEvents;
    std::function<void()> OnAsk;  // runs as each question opens, before it is answered
    std::function<void(const TArquivoEvento&, TDesfecho)> OnFileDone;  // runs at each outcome
    // The run's progress events.
    int StartedFiles = -1;
    std::uint64_t StartedBytes = 0;
    std::vector<std::pair<int, TVeredito>> Verdicts;  // row, verdict
    std::vector<std::pair<int, TDesfecho>> Done;      // row, outcome
    std::vector<std::u16string> Reasons;              // each outcome's reason, in the same order
    std::vector<std::pair<int, std::uint64_t>> Progress;
    std::optional<TResumo> Ended;
    int EndedCount = 0;
    std::size_t RowsWhenAsked = 0;  // rows on screen when the last question was asked
    // A lock that a copied or assigned view gets fresh (tests start over with `view = FakeView{}`).
    struct TLock {
        TLock() = default;
        TLock(const TLock&) {}
        TLock& operator=(const TLock&) { return *this; }
        void lock() { m.lock(); }
        void unlock() { m.unlock(); }
        std::recursive_mutex m;
    } Mutex;
    std::vector<std::pair<int, std::u16string>> Dropped;  // connections that left the run
    std::vector<std::u16string> Avisos;

    bool AtualizarEnabled() const { return EnabledChanges.empty() || EnabledChanges.back(); }
    bool OnProgresso() const { return !Pages.empty() && Pages.back() == Page::Progresso; }

    std::u16string EnderecoText() override {
        std::lock_guard lock(Mutex);
        return Endereco;
    }
    int PortaPosition() override {
        std::lock_guard lock(Mutex);
        return Porta;
    }
    int AddRow(const std::u16string& text, int icon) override {
        std::lock_guard lock(Mutex);
        Rows.push_back({text, {icon}});
        return static_cast<int>(Rows.size()) - 1;
    }
    void SetRowIcon(int row, int icon) override {
        std::lock_guard lock(Mutex);
        Rows.at(static_cast<std::size_t>(row)).Icons.push_back(icon);
    }
    void ScrollToRow(int) override {
        std::lock_guard lock(Mutex);
        ++Scrolls;
    }
    void ClearRows() override {
        std::lock_guard lock(Mutex);
        Rows.clear();
        ++Clears;
    }
    void ProcessEvents() override {
        std::lock_guard lock(Mutex);
        if (OnProcessEvents)
            OnProcessEvents(*this);
    }
    void ShowWarning(const std::u16string& text) override {
        std::lock_guard lock(Mutex);
        Boxes.push_back({BoxKind::Warning, text});
    }
    bool AskWarningYesNo(const std::u16string& text) override {
        // Outside the view's lock: the run's other connections report meanwhile.
        if (OnAsk)
            OnAsk();
        std::lock_guard lock(Mutex);
        Boxes.push_back({BoxKind::Question, text});
        RowsWhenAsked = Rows.size();
        if (Answers.empty())
            return true;
        const bool answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    void ShowError(const std::u16string& text) override {
        std::lock_guard lock(Mutex);
        Boxes.push_back({BoxKind::Error, text});
    }
    void ShowMessage(const std::u16string& text) override {
        std::lock_guard lock(Mutex);
        Boxes.push_back({BoxKind::Message, text});
    }
    void SetAtualizarEnabled(bool enabled) override {
        std::lock_guard lock(Mutex);
        EnabledChanges.push_back(enabled);
    }
    void ShowPage(Page page) override {
        std::lock_guard lock(Mutex);
        Pages.push_back(page);
    }
    void CloseWindow() override {
        std::lock_guard lock(Mutex);
        ++Closes;
    }
    // As the window's close box does, from any thread.
    void AskClose() {
        std::lock_guard lock(Mutex);
        CloseAsked = true;
    }
    bool CloseRequested() override {
        std::lock_guard lock(Mutex);
        return CloseAsked;
    }
    void RunStarted(int arquivos, std::uint64_t bytes) override {
        std::lock_guard lock(Mutex);
        StartedFiles = arquivos;
        StartedBytes = bytes;
    }
    void FileVerdict(const TArquivoEvento& a, TVeredito v) override {
        std::lock_guard lock(Mutex);
        Verdicts.emplace_back(a.Row, v);
    }
    void FileProgress(const TArquivoEvento& a, std::uint64_t enviados) override {
        std::lock_guard lock(Mutex);
        Progress.emplace_back(a.Row, enviados);
    }
    void FileDone(const TArquivoEvento& a, TDesfecho d) override {
        std::lock_guard lock(Mutex);
        Done.emplace_back(a.Row, d);
        Reasons.push_back(a.Motivo);
        if (OnFileDone)
            OnFileDone(a, d);
    }
    void Aviso(const std::u16string& texto) override {
        std::lock_guard lock(Mutex);
        Avisos.push_back(texto);
    }
    void ConnectionDropped(int conexao, const std::u16string& motivo) override {
        std::lock_guard lock(Mutex);
        Dropped.emplace_back(conexao, motivo);
    }
    void RunEnded(const TResumo& r) override {
        std::lock_guard lock(Mutex);
        ++EndedCount;
        Ended = r;
    }
};

}  // namespace ab::testing
