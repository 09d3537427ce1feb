// The terminal front end's output.
#include "cli/TTerminalView.h"

#include <cstdio>
#include <string>

#include "platform/Text.h"

namespace ab {
namespace {

constexpr auto kIntervaloDeDesenho = std::chrono::milliseconds(100);

std::string Utf8(const std::u16string& s) {
    return ToUtf8(s);
}

// A JSON string literal of UTF-8 text (names that are not UTF-8 as the server reads them).
std::string Json(const std::u16string& text) {
    return JsonString(text);
}

const char* Acao(TDesfecho d) {
    switch (d) {
        case TDesfecho::Enviado:
            return "enviado";
        case TDesfecho::Atual:
            return "atual";
        case TDesfecho::Removido:
            return "removido";
        case TDesfecho::Falhou:
            return "falhou";
        case TDesfecho::Enviaria:
            return "enviaria";
        case TDesfecho::Removeria:
            return "removeria";
        case TDesfecho::Ignorado:
            return "ignorado";
        case TDesfecho::Excluido:
            return "excluido";
    }
    return "";
}

const char* Veredito(TVeredito v) {
    switch (v) {
        case TVeredito::Enviar:
            return "enviar";
        case TVeredito::Atual:
            return "atual";
        case TVeredito::Remover:
            return "remover";
    }
    return "";
}

const char* Fim(TResumo::TFim f) {
    switch (f) {
        case TResumo::TFim::Concluida:
            return "concluida";
        case TResumo::TFim::Recusada:
            return "recusada";
        case TResumo::TFim::ServidorInvalido:
            return "servidor-invalido";
        case TResumo::TFim::Interrompida:
            return "interrompida";
        case TResumo::TFim::Erro:
            return "erro";
    }
    return "";
}

std::string Arquivo(const TArquivoEvento& a) {
    return "\"arquivo\":" + Json(a.Local) + ",\"destino\":" + Json(a.Destino) +
           ",\"tamanho\":" + std::to_string(a.Tamanho);
}

// A line of text for a terminal or a log: names that are not UTF-8 as the server reads them, and
// no control characters of file names let through.
std::string Visivel(const std::u16string& text) {
    std::string out = ToUtf8(ReadableName(text));
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20)
            c = '?';
    }
    return out;
}

// A box's text on one line: each run of blanks that holds a line break becomes one space.
std::string UmaLinha(const std::u16string& text) {
    std::u16string linha;
    linha.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t fim = i;
        bool quebra = false;
        while (fim < text.size() && (text[fim] == u' ' || text[fim] == u'\t' ||
                                     text[fim] == u'\r' || text[fim] == u'\n')) {
            quebra = quebra || text[fim] == u'\r' || text[fim] == u'\n';
            ++fim;
        }
        if (quebra) {
            linha += u' ';
            i = fim;
        } else if (fim > i) {
            linha.append(text, i, fim - i);
            i = fim;
        } else {
            linha += text[i++];
        }
    }
    return Visivel(Trim(linha));
}

// The tab-separated line of a file: action, destination, size, and why when there is a reason.
std::string LinhaDoArquivo(const TArquivoEvento& arquivo, const char* acao) {
    std::string linha = std::string(acao) + "\t" + Visivel(arquivo.Destino) + "\t" +
                        std::to_string(arquivo.Tamanho);
    if (!arquivo.Motivo.empty())
        linha += "\t" + UmaLinha(arquivo.Motivo);
    return linha + "\n";
}

}  // namespace

TTerminalView::TTerminalView(std::FILE* out, std::FILE* err, Formato formato,
                             std::u16string endereco, int porta, std::u16string pasta,
                             bool continuarEmFalha, TRelogio relogio)
    : out_(out),
      err_(err),
      formato_(formato),
      endereco_(std::move(endereco)),
      porta_(porta),
      pasta_(std::move(pasta)),
      continuarEmFalha_(continuarEmFalha),
      relogio_(relogio ? std::move(relogio) : [] { return std::chrono::steady_clock::now(); }),
      progresso_(relogio_) {
    if (pasta_.size() > 1 && pasta_.back() == u'/')
        pasta_.pop_back();
}

void TTerminalView::Anunciar(bool simulacao) {
    std::lock_guard lock(mutex_);
    simulacao_ = simulacao;
    if (formato_ == Formato::Json)
        return;
    std::fprintf(out_, "%s %s em %s:%d\n",
                 simulacao ? "simulando a publica\xC3\xA7\xC3\xA3o de" : "publicando",
                 Visivel(pasta_).c_str(), Visivel(endereco_).c_str(), porta_);
    std::fflush(out_);
}

void TTerminalView::Despejar() {
    // A pipeline sees each line within a tenth of a second, without a write per line.
    const auto agora = relogio_();
    if (agora - ultimoDespejo_ < kIntervaloDeDesenho)
        return;
    ultimoDespejo_ = agora;
    std::fflush(out_);
}

void TTerminalView::ApagarProgresso() {
    if (linhaDeProgresso_) {
        std::fputs("\r\x1b[K", out_);
        linhaDeProgresso_ = false;
    }
}

void TTerminalView::DesenharProgresso(bool forcar) {
    if (formato_ != Formato::Progresso)
        return;
    const auto agora = relogio_();
    if (!forcar && linhaDeProgresso_ && agora - ultimoDesenho_ < kIntervaloDeDesenho)
        return;
    ultimoDesenho_ = agora;
    std::fprintf(out_, "\r%s\x1b[K", Utf8(progresso_.Texto()).c_str());
    std::fflush(out_);
    linhaDeProgresso_ = true;
}

void TTerminalView::Caixa(const char* tipo, const std::u16string& texto) {
    if (formato_ == Formato::Json) {
        std::fprintf(out_, "{\"evento\":\"mensagem\",\"tipo\":\"%s\",\"texto\":%s}\n", tipo,
                     Json(texto).c_str());
        std::fflush(out_);
    }
    ApagarProgresso();
    std::fprintf(err_, "%s: %s\n", tipo, UmaLinha(texto).c_str());
    std::fflush(err_);
}

void TTerminalView::ShowWarning(const std::u16string& text) {
    std::lock_guard lock(mutex_);
    Caixa("aviso", text);
}

bool TTerminalView::AskWarningYesNo(const std::u16string& text) {
    std::lock_guard lock(mutex_);
    Caixa("pergunta", text);
    std::fprintf(err_, "resposta: %s\n",
                 continuarEmFalha_ ? "sim (continuar-em-falha)" : "n\xC3\xA3o");
    std::fflush(err_);
    return continuarEmFalha_;
}

void TTerminalView::ShowError(const std::u16string& text) {
    std::lock_guard lock(mutex_);
    Caixa("erro", text);
}

void TTerminalView::ShowMessage(const std::u16string& text) {
    std::lock_guard lock(mutex_);
    Caixa("mensagem", text);
}

void TTerminalView::ErroFatal(const std::u16string& texto) {
    std::lock_guard lock(mutex_);
    if (formato_ == Formato::Json) {
        std::fprintf(out_, "{\"evento\":\"erro\",\"mensagem\":%s}\n", Json(texto).c_str());
        std::fflush(out_);
    }
    ApagarProgresso();
    std::fprintf(err_, "erro: %s\n", UmaLinha(texto).c_str());
    std::fflush(err_);
}

void TTerminalView::RunStarted(int arquivos, std::uint64_t bytes) {
    std::lock_guard lock(mutex_);
    progresso_.RunStarted(arquivos, bytes);
    if (formato_ == Formato::Json) {
        std::fprintf(out_,
                     "{\"evento\":\"inicio\",\"servidor\":%s,\"pasta\":%s,\"arquivos\":%d,"
                     "\"bytes\":%llu}\n",
                     Json(endereco_ + u":" + IntToStr(porta_)).c_str(), Json(pasta_).c_str(),
                     arquivos, static_cast<unsigned long long>(bytes));
        std::fflush(out_);
    }
    DesenharProgresso(true);
}

void TTerminalView::FileVerdict(const TArquivoEvento& arquivo, TVeredito veredito) {
    std::lock_guard lock(mutex_);
    if (formato_ != Formato::Json)
        return;
    std::fprintf(out_, "{\"evento\":\"veredito\",%s,\"veredito\":\"%s\"}\n",
                 Arquivo(arquivo).c_str(), Veredito(veredito));
    Despejar();
}

void TTerminalView::FileProgress(const TArquivoEvento& arquivo, std::uint64_t enviados) {
    std::lock_guard lock(mutex_);
    progresso_.FileProgress(arquivo, enviados);
    if (formato_ == Formato::Json) {
        std::fprintf(out_, "{\"evento\":\"progresso\",%s,\"enviados\":%llu}\n",
                     Arquivo(arquivo).c_str(), static_cast<unsigned long long>(enviados));
        Despejar();
    }
    DesenharProgresso(false);
}

void TTerminalView::FileDone(const TArquivoEvento& arquivo, TDesfecho desfecho) {
    std::lock_guard lock(mutex_);
    progresso_.FileDone(arquivo, desfecho);
    switch (formato_) {
        case Formato::Json: {
            const std::string motivo =
                arquivo.Motivo.empty() ? "" : ",\"motivo\":" + Json(arquivo.Motivo);
            std::fprintf(out_, "{\"evento\":\"arquivo\",%s,\"acao\":\"%s\"%s}\n",
                         Arquivo(arquivo).c_str(), Acao(desfecho), motivo.c_str());
            Despejar();
            break;
        }
        case Formato::Linhas:
            std::fputs(LinhaDoArquivo(arquivo, Acao(desfecho)).c_str(), out_);
            Despejar();
            break;
        case Formato::Progresso:
            // On a terminal only what needs attention stays on screen above the progress line;
            // what the user left out is counted, and listed by a dry run, which is there to
            // check the patterns.
            if (desfecho == TDesfecho::Falhou || desfecho == TDesfecho::Ignorado ||
                (desfecho == TDesfecho::Excluido && simulacao_)) {
                ApagarProgresso();
                std::fputs(LinhaDoArquivo(arquivo, Acao(desfecho)).c_str(), out_);
            }
            DesenharProgresso(false);
            break;
    }
}

void TTerminalView::ConnectionDropped(int conexao, const std::u16string& motivo) {
    std::lock_guard lock(mutex_);
    const std::u16string texto = u"a conex\u00E3o " + IntToStr(conexao) +
                                 u" deixou a execu\u00E7\u00E3o, que segue com as outras: " +
                                 motivo;
    if (formato_ == Formato::Json) {
        std::fprintf(out_, "{\"evento\":\"conexao\",\"conexao\":%d,\"mensagem\":%s}\n", conexao,
                     Json(motivo).c_str());
        Despejar();
    }
    ApagarProgresso();
    std::fprintf(err_, "aviso: %s\n", UmaLinha(texto).c_str());
    std::fflush(err_);
}

void TTerminalView::Aviso(const std::u16string& texto) {
    std::lock_guard lock(mutex_);
    if (formato_ == Formato::Json) {
        std::fprintf(out_, "{\"evento\":\"aviso\",\"mensagem\":%s}\n", Json(texto).c_str());
        Despejar();
    }
    ApagarProgresso();
    std::fprintf(err_, "aviso: %s\n", UmaLinha(texto).c_str());
    std::fflush(err_);
}

void TTerminalView::RunEnded(const TResumo& r) {
    std::lock_guard lock(mutex_);
    const double taxa = r.Segundos > 0 ? static_cast<double>(r.BytesEnviados) / r.Segundos : 0;
    if (formato_ == Formato::Json) {
        if (!r.Erro.empty())
            std::fprintf(out_, "{\"evento\":\"erro\",\"mensagem\":%s}\n", Json(r.Erro).c_str());
        std::string falhados = "[";
        for (std::size_t i = 0; i < r.Falhados.size(); ++i)
            falhados += (i ? "," : "") + Json(r.Falhados[i]);
        falhados += "]";
        std::fprintf(out_,
                     "{\"evento\":\"resumo\",\"fim\":\"%s\",\"simulada\":%s,\"arquivos\":%d,"
                     "\"verificados\":%d,\"enviados\":%d,\"atuais\":%d,\"removidos\":%d,"
                     "\"falhas\":%d,\"ignorados\":%d,\"excluidos\":%d,\"enviaria\":%d,"
                     "\"removeria\":%d,\"bytes\":%"
                     "llu,\"segundos\":%."
                     "3f,\"bytes_por_segundo\":%.0f,"
                     "\"falhados\":%s,\"codigo_saida\":%d}\n",
                     Fim(r.Fim), r.Simulada ? "true" : "false", r.Arquivos, r.Verificados,
                     r.Enviados, r.Atuais, r.Removidos, r.Falhas, r.Ignorados, r.Excluidos,
                     r.Enviaria, r.Removeria, static_cast<unsigned long long>(r.BytesEnviados),
                     r.Segundos, taxa, falhados.c_str(), r.CodigoSaida());
        std::fflush(out_);
        return;
    }
    if (formato_ == Formato::Progresso && r.Fim != TResumo::TFim::Recusada &&
        r.Fim != TResumo::TFim::ServidorInvalido)
        DesenharProgresso(true);
    ApagarProgresso();
    if (!r.Erro.empty())
        std::fprintf(err_, "erro: %s\n", Visivel(r.Erro).c_str());
    for (const std::u16string& falhado : r.Falhados)
        std::fprintf(err_, "falhou: %s\n", Visivel(falhado).c_str());
    std::fflush(err_);
    std::string contagem =
        r.Simulada ? "enviaria " + std::to_string(r.Enviaria) + ", removeria " +
                         std::to_string(r.Removeria) + ", atuais " + std::to_string(r.Atuais)
                   : "enviados " + std::to_string(r.Enviados) + ", removidos " +
                         std::to_string(r.Removidos) + ", falhas " + std::to_string(r.Falhas);
    if (r.Ignorados > 0)
        contagem += ", ignorados " + std::to_string(r.Ignorados);
    if (r.Excluidos > 0)
        contagem +=
            ", exclu\xC3\xAD"
            "dos " +
            std::to_string(r.Excluidos);
    char tempo[32];
    std::snprintf(tempo, sizeof tempo, "%.1f s", r.Segundos);
    for (char* c = tempo; *c; ++c) {
        if (*c == '.')
            *c = ',';
    }
    std::fprintf(out_, "%s: verificados %d, %s, %s, %s, %s/s%s%s\n",
                 r.Simulada ? "resumo (simula\xC3\xA7\xC3\xA3o)" : "resumo", r.Verificados,
                 contagem.c_str(), Utf8(TProgresso::Tamanho(r.BytesEnviados)).c_str(), tempo,
                 Utf8(TProgresso::Tamanho(static_cast<std::uint64_t>(taxa))).c_str(),
                 r.Fim == TResumo::TFim::Interrompida ? ", interrompida" : "",
                 r.ParadaPeloUsuario ? ", parada depois de uma falha" : "");
    std::fflush(out_);
}

}  // namespace ab
