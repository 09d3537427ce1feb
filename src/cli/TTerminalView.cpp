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

// A JSON string literal of UTF-8 text.
std::string Json(const std::u16string& text) {
    std::string out = "\"";
    for (const unsigned char c : ToUtf8(text)) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
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

// A line of text for a terminal or a log: control characters of file names are not let through.
std::string Visivel(const std::u16string& text) {
    std::string out = ToUtf8(text);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20)
            c = '?';
    }
    return out;
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
    std::fprintf(err_, "%s: %s\n", tipo, Visivel(texto).c_str());
    std::fflush(err_);
}

void TTerminalView::ShowWarning(const std::u16string& text) {
    Caixa("aviso", text);
}

bool TTerminalView::AskWarningYesNo(const std::u16string& text) {
    Caixa("pergunta", text);
    std::fprintf(err_, "resposta: %s\n",
                 continuarEmFalha_ ? "sim (continuar-em-falha)" : "n\xC3\xA3o");
    std::fflush(err_);
    return continuarEmFalha_;
}

void TTerminalView::ShowError(const std::u16string& text) {
    Caixa("erro", text);
}

void TTerminalView::ShowMessage(const std::u16string& text) {
    Caixa("mensagem", text);
}

void TTerminalView::ErroFatal(const std::u16string& texto) {
    if (formato_ == Formato::Json) {
        std::fprintf(out_, "{\"evento\":\"erro\",\"mensagem\":%s}\n", Json(texto).c_str());
        std::fflush(out_);
    }
    ApagarProgresso();
    std::fprintf(err_, "erro: %s\n", Visivel(texto).c_str());
    std::fflush(err_);
}

void TTerminalView::RunStarted(int arquivos, std::uint64_t bytes) {
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
    if (formato_ != Formato::Json)
        return;
    std::fprintf(out_, "{\"evento\":\"veredito\",%s,\"veredito\":\"%s\"}\n",
                 Arquivo(arquivo).c_str(), Veredito(veredito));
    Despejar();
}

void TTerminalView::FileProgress(const TArquivoEvento& arquivo, std::uint64_t enviados) {
    progresso_.FileProgress(arquivo, enviados);
    if (formato_ == Formato::Json) {
        std::fprintf(out_, "{\"evento\":\"progresso\",%s,\"enviados\":%llu}\n",
                     Arquivo(arquivo).c_str(), static_cast<unsigned long long>(enviados));
        Despejar();
    }
    DesenharProgresso(false);
}

void TTerminalView::FileDone(const TArquivoEvento& arquivo, TDesfecho desfecho) {
    progresso_.FileDone(arquivo, desfecho);
    switch (formato_) {
        case Formato::Json:
            std::fprintf(out_, "{\"evento\":\"arquivo\",%s,\"acao\":\"%s\"}\n",
                         Arquivo(arquivo).c_str(), Acao(desfecho));
            Despejar();
            break;
        case Formato::Linhas:
            std::fprintf(out_, "%s\t%s\t%llu\n", Acao(desfecho), Visivel(arquivo.Destino).c_str(),
                         static_cast<unsigned long long>(arquivo.Tamanho));
            Despejar();
            break;
        case Formato::Progresso:
            // On a terminal only what needs attention stays on screen above the progress line.
            if (desfecho == TDesfecho::Falhou) {
                ApagarProgresso();
                std::fprintf(out_, "%s\t%s\t%llu\n", Acao(desfecho),
                             Visivel(arquivo.Destino).c_str(),
                             static_cast<unsigned long long>(arquivo.Tamanho));
            }
            DesenharProgresso(false);
            break;
    }
}

void TTerminalView::RunEnded(const TResumo& r) {
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
                     "\"falhas\":%d,\"enviaria\":%d,\"removeria\":%d,\"bytes\":%llu,\"segundos\":%."
                     "3f,\"bytes_por_segundo\":%.0f,"
                     "\"falhados\":%s,\"codigo_saida\":%d}\n",
                     Fim(r.Fim), r.Simulada ? "true" : "false", r.Arquivos, r.Verificados,
                     r.Enviados, r.Atuais, r.Removidos, r.Falhas, r.Enviaria, r.Removeria,
                     static_cast<unsigned long long>(r.BytesEnviados), r.Segundos, taxa,
                     falhados.c_str(), r.CodigoSaida());
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
