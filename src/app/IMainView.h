// What the publishing run needs from its front end, so the run works and is tested without Qt: the
// window's controls and boxes, and the run's events (start, a file's verdict, bytes on their way,
// a file done, the end). The window renders them; the terminal front end prints them.
//
// The run may call a view from a thread other than the one that made it, and never from two
// threads at once but for one case: while AskWarningYesNo waits for its answer, the run's other
// connections go on reporting their files (progress, verdicts, outcomes) from their threads. A
// view whose question waits must take those calls meanwhile; one that answers at once need only
// make its question safe beside them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ab {

// A file the walk handles, as the front ends show it.
struct TArquivoEvento {
    int Row = -1;               // its row in the progress list
    std::u16string Local;       // full local path
    std::u16string Destino;     // destination name on the server
    std::uint64_t Tamanho = 0;  // size when the walk listed it
    // Why it was not published: the reason an entry was passed over, or why its send or its
    // folder failed. Empty otherwise.
    std::u16string Motivo;
};

// What the server check decided for a file.
enum class TVeredito {
    Enviar,   // the server has none or an older copy
    Atual,    // the server's copy is as new
    Remover,  // the test marker script, removed instead of sent
};

// What became of a file.
enum class TDesfecho {
    Enviado,
    Atual,
    Removido,
    Falhou,
    Enviaria,   // dry run: would be sent
    Removeria,  // dry run: would be removed
    Ignorado,   // not a file that can be published (a FIFO, a device, a link leading outside)
};

// The run's end, with the counts a summary or an exit status needs.
struct TResumo {
    enum class TFim {
        Concluida,         // the walk went through (files may have failed)
        Recusada,          // a test build pointed at a production server
        ServidorInvalido,  // the server could not be reached or refused the login
        Interrompida,      // a close (or a signal) stopped the walk after the file in hand
        Erro,              // an error escaped the run
    };
    TFim Fim = TFim::Concluida;
    bool Simulada = false;
    bool ParadaPeloUsuario = false;  // "Continuar?" answered No
    int Arquivos = 0;                // entries listed for the walk (one row each)
    int Verificados = 0;             // files handled (checked, removed or sent)
    int Enviados = 0;
    int Atuais = 0;
    int Removidos = 0;
    int Falhas = 0;     // files and folders that failed
    int Ignorados = 0;  // entries that are not files to publish
    int Enviaria = 0;   // dry run: files that would be sent
    int Removeria = 0;  // dry run: files that would be removed
    std::uint64_t BytesEnviados = 0;
    double Segundos = 0;
    // Local paths of the files that failed, and of the folders that could not be read (ending in
    // '/').
    std::vector<std::u16string> Falhados;
    std::u16string Erro;  // the escaping error's message, as a box shows it
    int Excluidos = 0;    // entries left out by an exclusion pattern

    // 0 all current, 1 refused start, 2 server unreachable or login refused, 3 files failed,
    // 4 interrupted, 5 an error escaped.
    int CodigoSaida() const;
};

class IMainView {
  public:
    enum class Page { Principal, Progresso };
    // Progress icons by index.
    static constexpr int IconProcessing = 0;  // blue arrow
    static constexpr int IconDone = 1;        // green check
    static constexpr int IconFailed = 2;      // red cross
    static constexpr int IconIgnored = 3;     // passed over: not a file that can be published

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
    // "Cancelar"). The run finishes the file in hand, then ends without further files.
    virtual bool CloseRequested() { return false; }

    // Events for progress displays; the run works the same whether they are shown or not.
    // After the listing: how many files the walk will handle and their bytes.
    virtual void RunStarted(int arquivos, std::uint64_t bytes) {}
    virtual void FileVerdict(const TArquivoEvento& arquivo, TVeredito veredito) {}
    // Bytes of the file's content gone to the server so far, at most about 30 times a second.
    virtual void FileProgress(const TArquivoEvento& arquivo, std::uint64_t enviados) {}
    virtual void FileDone(const TArquivoEvento& arquivo, TDesfecho desfecho) {}
    // One of several connections left the run (it could not connect, or its link failed); the
    // others go on with its files. `conexao` counts from 1 (ConnBrevant).
    virtual void ConnectionDropped(int conexao, const std::u16string& motivo) {}
    // Something the user should know that changes nothing of the run's outcome, once: that the
    // run went on the plain way with a server that could not keep up, or that what it wanted to
    // remember could not be written.
    virtual void Aviso(const std::u16string& texto) {}
    // Always the last event of a run, however it ended.
    virtual void RunEnded(const TResumo& resumo) {}
};

}  // namespace ab
