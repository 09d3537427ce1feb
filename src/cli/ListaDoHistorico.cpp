// The history as a table.
#include "cli/ListaDoHistorico.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>

#include "app/Historico.h"
#include "app/TConfiguracao.h"
#include "platform/Text.h"

namespace ab {
namespace {

constexpr std::size_t kPadrao = 20;
constexpr std::size_t kMaximo = 100'000;

std::u16string Membro(const TJSONValue& execucao, std::u16string_view nome) {
    const TJSONValue* valor = execucao.Get(nome);
    return valor ? valor->Text() : std::u16string();
}

// "2026-06-12T14:03:10.123Z" as people here read it, in local time.
std::u16string Quando(const std::u16string& iso) {
    std::tm tm{};
    const std::string texto = ToUtf8(iso);
    const char* fim = strptime(texto.c_str(), "%Y-%m-%dT%H:%M:%S", &tm);
    if (fim == nullptr)
        return iso;
    const std::time_t t = timegm(&tm);
    std::tm local{};
    localtime_r(&t, &local);
    char data[32];
    std::strftime(data, sizeof data, "%d/%m/%Y %H:%M:%S", &local);
    return FromUtf8(data);
}

// The exit status and what it means; a dry run says so, since it sent nothing.
std::u16string Situacao(const TJSONValue& execucao) {
    const std::u16string codigo = Membro(execucao, u"codigo_saida");
    const TJSONValue* simulacao = execucao.Get(u"simulacao");
    const bool simulada = simulacao && simulacao->GetKind() == TJSONValue::Kind::True;
    static constexpr std::array<std::u16string_view, 6> kPalavras = {
        u"atualizada", u"recusada",     u"servidor inv\u00E1lido",
        u"com falhas", u"interrompida", u"erro"};
    std::u16string texto = codigo;
    if (codigo == u"0" && simulada)
        return texto + u" simulada";
    if (codigo.size() == 1 && codigo[0] >= u'0' && codigo[0] <= u'5')
        texto += u" " + std::u16string(kPalavras[codigo[0] - u'0']);
    if (simulada)
        texto += u" (simula\u00E7\u00E3o)";
    return texto;
}

// A cell as a terminal shows it: no control characters from a file name.
std::u16string NaTela(std::u16string texto) {
    std::replace_if(
        texto.begin(), texto.end(), [](char16_t c) { return c < 0x20 || c == 0x7F; }, u'?');
    return texto;
}

// Characters on screen, a surrogate pair counting once.
std::size_t Largura(std::u16string_view texto) {
    return static_cast<std::size_t>(std::count_if(
        texto.begin(), texto.end(), [](char16_t c) { return c < 0xDC00 || c > 0xDFFF; }));
}

[[noreturn]] void Recusar(const std::u16string& texto) {
    throw EConfiguracao(texto);
}

}  // namespace

std::string TabelaDoHistorico(const std::vector<TJSONValue>& execucoes) {
    constexpr std::size_t kColunas = 6;
    // Counts are right-aligned.
    constexpr std::array<bool, kColunas> kDireita = {false, false, false, true, true, false};
    std::vector<std::array<std::u16string, kColunas>> linhas = {
        {u"quando", u"pasta", u"servidor", u"enviados", u"falhas", u"situa\u00E7\u00E3o"}};
    for (const TJSONValue& e : execucoes) {
        linhas.push_back({Quando(Membro(e, u"inicio")), NaTela(Membro(e, u"pasta")),
                          NaTela(Membro(e, u"servidor")) + u":" + Membro(e, u"porta"),
                          Membro(e, u"enviados"), Membro(e, u"falhas"), NaTela(Situacao(e))});
    }
    std::array<std::size_t, kColunas> largura{};
    for (const auto& linha : linhas) {
        for (std::size_t c = 0; c < kColunas; ++c)
            largura[c] = std::max(largura[c], Largura(linha[c]));
    }
    std::u16string tabela;
    for (const auto& linha : linhas) {
        for (std::size_t c = 0; c < kColunas; ++c) {
            const std::u16string espaco(largura[c] - Largura(linha[c]), u' ');
            if (c > 0)
                tabela += u"  ";
            if (kDireita[c])
                tabela += espaco + linha[c];
            else if (c + 1 < kColunas)
                tabela += linha[c] + espaco;
            else
                tabela += linha[c];
        }
        tabela += u'\n';
    }
    return ToUtf8(tabela);
}

int RunHistoricoProgram(const CommandLine& argumentos) {
    std::size_t quantas = kPadrao;
    std::vector<std::u16string> opcoes;
    try {
        int i = 2;
        if (const std::u16string n = argumentos.ParamStr(2); !n.empty() && !n.starts_with(u"--")) {
            std::size_t valor = 0;
            const bool digitos = n.size() <= 6 && std::all_of(n.begin(), n.end(), [](char16_t c) {
                                     return c >= u'0' && c <= u'9';
                                 });
            if (digitos) {
                for (char16_t c : n)
                    valor = valor * 10 + static_cast<std::size_t>(c - u'0');
            }
            if (!digitos || valor < 1 || valor > kMaximo)
                Recusar(u"--historico \"" + n + u"\" (esperado um n\u00FAmero de 1 a " +
                        IntToStr(kMaximo) + u")");
            quantas = valor;
            i = 3;
        }
        for (; i <= argumentos.ParamCount(); ++i) {
            const std::u16string opcao = argumentos.ParamStr(i);
            if (opcao != u"--registro" && !opcao.starts_with(u"--registro="))
                Recusar(u"argumento \"" + opcao +
                        u"\": depois de --historico s\u00F3 v\u00EAm N e --registro ARQUIVO");
            opcoes.push_back(opcao);
            if (opcao == u"--registro" && i < argumentos.ParamCount())
                opcoes.push_back(argumentos.ParamStr(++i));
        }
        const TConfiguracao configuracao = LerConfiguracao(ArquivoDeConfiguracao(), opcoes);
        const std::filesystem::path arquivo = ArquivoDoHistorico(configuracao);
        const std::vector<TJSONValue> execucoes = UltimasExecucoes(arquivo, quantas);
        if (execucoes.empty()) {
            std::printf("nenhuma publica\xC3\xA7\xC3\xA3o registrada em %s\n",
                        ToUtf8(ReadableName(FromFileName(arquivo.native()))).c_str());
            return 0;
        }
        std::fputs(TabelaDoHistorico(execucoes).c_str(), stdout);
        return 0;
    } catch (const EConfiguracao& e) {
        std::fprintf(stderr, "erro: %s\n", ToUtf8(e.Message()).c_str());
        return 1;
    }
}

}  // namespace ab
