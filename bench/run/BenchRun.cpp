// bench_run: the publishing run without any front end. The run object is built as the window builds
// it, on a view that draws nothing, answers No to "Continuar?" and never asks to close; each click
// is a fresh run object (as a fresh program start makes) and only btn_AtualizarClick() is timed.
// The scripts under bench/ compare the window and the program without a window with these figures.
//
// Usage: bench_run PACKAGE-FOLDER PORT [--cliques N] [--envios] [program options such as
//        --conexoes 4]
// Prints one line per click: seconds, files listed, sent, current, failed, exit status. With
// --envios, also one line per file sent: the time from the verdict to send it to its end.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/IMainView.h"
#include "app/TAtualizador.h"
#include "app/TConfiguracao.h"
#include "packet/SendFileDataSet.h"
#include "packet/TClientDataSet.h"
#include "platform/Exception.h"
#include "platform/Text.h"

namespace {

using namespace ab;
namespace fs = std::filesystem;

class TVistaNula : public IMainView {
  public:
    TVistaNula(int porta, bool envios) : porta_(porta), envios_(envios) {}
    std::u16string EnderecoText() override { return u"127.0.0.1"; }
    int PortaPosition() override { return porta_; }
    int AddRow(const std::u16string&, int) override { return linhas_++; }
    void SetRowIcon(int, int) override {}
    void ScrollToRow(int) override {}
    void ClearRows() override { linhas_ = 0; }
    void ProcessEvents() override {}
    void ShowWarning(const std::u16string& text) override { Relatar(text); }
    bool AskWarningYesNo(const std::u16string& text) override {
        Relatar(text);
        return false;
    }
    void ShowError(const std::u16string& text) override { Relatar(text); }
    void ShowMessage(const std::u16string& text) override { Relatar(text); }
    void SetAtualizarEnabled(bool) override {}
    void ShowPage(Page) override {}
    void CloseWindow() override {}
    // The run serialises its calls to the view, so no lock here.
    void FileVerdict(const TArquivoEvento& arquivo, TVeredito veredito) override {
        if (envios_ && veredito == TVeredito::Enviar)
            inicio_[arquivo.Row] = std::chrono::steady_clock::now();
    }
    void FileDone(const TArquivoEvento& arquivo, TDesfecho desfecho) override {
        const auto it = inicio_.find(arquivo.Row);
        if (it == inicio_.end())
            return;
        if (desfecho == TDesfecho::Enviado) {
            std::printf("envio: %.6f s, %llu bytes, %s\n",
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - it->second)
                            .count(),
                        static_cast<unsigned long long>(arquivo.Tamanho),
                        ToUtf8(arquivo.Destino).c_str());
        }
        inicio_.erase(it);
    }

  private:
    // A box means the run did not go as a benchmark expects; say so, the figures are then suspect.
    static void Relatar(const std::u16string& text) {
        std::fprintf(stderr, "bench_run: box: %s\n", ToUtf8(text).c_str());
    }
    int porta_;
    bool envios_;
    int linhas_ = 0;
    std::map<int, std::chrono::steady_clock::time_point> inicio_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: bench_run PACKAGE-FOLDER PORT [--cliques N] [program options]\n");
        return 2;
    }
    try {
        const fs::path pacote = fs::absolute(argv[1]);
        const int porta = std::atoi(argv[2]);
        int cliques = 1;
        bool envios = false;
        std::vector<std::u16string> opcoes;
        for (int i = 3; i < argc; ++i) {
            const std::string a = argv[i];
            if (a == "--cliques" && i + 1 < argc)
                cliques = std::atoi(argv[++i]);
            else if (a == "--envios")
                envios = true;
            else
                opcoes.push_back(FromUtf8(a));
        }
        // No settings file: only the options given here, with the window's deadlines (none).
        const TConfiguracao configuracao =
            LerConfiguracao(pacote / ".sem-configuracao" / "atualizador.ini", opcoes);

        TDadosPrograma dados;
        dados.ProgramPath = FromUtf8((pacote / "AtualizadorBrevant").string());
        dados.ProgramFolder = FromUtf8(pacote.string()) + u"/";
        dados.Sistema = u"S01\\";
        TVistaNula vista(porta, envios);
        TClientDataSet cds{std::u16string(kSendFileDataSetName)};
        AddSendFileFields(cds);
        cds.CreateDataSet();

        int status = 0;
        for (int clique = 1; clique <= cliques; ++clique) {
            TAtualizador run(vista, cds, dados, {}, nullptr, configuracao.OpcoesDaExecucao());
            const auto t0 = std::chrono::steady_clock::now();
            try {
                run.btn_AtualizarClick();
            } catch (const Exception& e) {
                std::fprintf(stderr, "bench_run: %s\n", ToUtf8(e.Message()).c_str());
            }
            const double s =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            const TResumo& r = run.Resumo();
            std::printf(
                "clique %d: %.6f s, arquivos %d, enviados %d, atuais %d, falhas %d, codigo %d\n",
                clique, s, r.Arquivos, r.Enviados, r.Atuais, r.Falhas, r.CodigoSaida());
            std::fflush(stdout);
            if (r.CodigoSaida() != 0)
                status = r.CodigoSaida();
        }
        return status;
    } catch (const Exception& e) {
        std::fprintf(stderr, "bench_run: %s\n", ToUtf8(e.Message()).c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_run: %s\n", e.what());
    }
    return 1;
}
