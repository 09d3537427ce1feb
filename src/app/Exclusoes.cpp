// The patterns that leave entries out of a publication.
#include "app/Exclusoes.h"

#include <algorithm>
#include <utility>

#include "platform/Text.h"

namespace ab {
namespace {

constexpr std::uint32_t kBarra = u'/';
// A byte that is not part of a UTF-8 sequence is a character of its own, apart from every real
// one: 0x110000 + the byte.
constexpr std::uint32_t kByteSolto = 0x110000;

// The characters of a name's bytes: each valid UTF-8 sequence one code point, each other byte one
// character of its own.
std::vector<std::uint32_t> Caracteres(std::string_view bytes) {
    std::vector<std::uint32_t> saida;
    saida.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        std::size_t seguintes = 0;
        std::uint32_t c = 0;
        std::uint32_t minimo = 0;
        if (b < 0x80) {
            saida.push_back(b);
            ++i;
            continue;
        }
        if ((b & 0xE0) == 0xC0) {
            seguintes = 1, c = b & 0x1F, minimo = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            seguintes = 2, c = b & 0x0F, minimo = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            seguintes = 3, c = b & 0x07, minimo = 0x10000;
        }
        bool valido = seguintes > 0 && i + seguintes < bytes.size();
        for (std::size_t k = 1; valido && k <= seguintes; ++k) {
            const auto s = static_cast<unsigned char>(bytes[i + k]);
            valido = (s & 0xC0) == 0x80;
            c = c << 6 | (s & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF are no UTF-8.
        if (valido && c >= minimo && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF)) {
            saida.push_back(c);
            i += seguintes + 1;
        } else {
            saida.push_back(kByteSolto + b);
            ++i;
        }
    }
    return saida;
}

constexpr std::u16string_view kVazio = u"o padr\u00E3o est\u00E1 vazio";
constexpr std::u16string_view kNulo = u"nenhum nome tem o caractere nulo";
constexpr std::u16string_view kEscapeNoFim =
    u"a barra invertida no fim n\u00E3o torna nenhum caractere comum";
constexpr std::u16string_view kColcheteAberto = u"o colchete [ n\u00E3o se fecha";
constexpr std::u16string_view kConjuntoVazio =
    u"um conjunto entre colchetes n\u00E3o aceita nenhum caractere de um nome";
constexpr std::u16string_view kSoBarras = u"o padr\u00E3o n\u00E3o tem nenhum nome, s\u00F3 barras";
constexpr std::u16string_view kNomeVazio =
    u"duas barras seguidas deixam um nome vazio entre elas, e nenhum nome \u00E9 vazio";
constexpr std::u16string_view kPontos = u"os nomes . e .. n\u00E3o aparecem numa pasta";

}  // namespace

bool TExclusoes::TPeca::Aceita(std::uint32_t c) const {
    const bool dentro = std::any_of(Faixas.begin(), Faixas.end(),
                                    [c](TFaixa f) { return f.De <= c && c <= f.Ate; });
    return dentro != Negado;
}

std::u16string TExclusoes::Adicionar(std::u16string_view texto) {
    const std::vector<std::uint32_t> c = Caracteres(ToFileName(texto));
    if (c.empty())
        return std::u16string(kVazio);
    if (std::find(c.begin(), c.end(), 0u) != c.end())
        return std::u16string(kNulo);
    TPadrao padrao;
    padrao.Texto = texto;
    std::vector<TPeca>& pecas = padrao.Pecas;
    for (std::size_t i = 0; i < c.size();) {
        if (c[i] == u'\\') {
            if (i + 1 == c.size())
                return std::u16string(kEscapeNoFim);
            pecas.emplace_back(TTipo::Literal, c[i + 1]);
            i += 2;
        } else if (c[i] == u'*') {
            std::size_t estrelas = 0;
            for (; i < c.size() && c[i] == u'*'; ++i)
                ++estrelas;
            pecas.emplace_back(estrelas == 1 ? TTipo::Estrela : TTipo::Tudo);
        } else if (c[i] == u'?') {
            pecas.emplace_back(TTipo::Qualquer);
            ++i;
        } else if (c[i] == u'[') {
            TPeca conjunto(TTipo::Conjunto);
            std::size_t j = i + 1;
            if (j < c.size() && (c[j] == u'!' || c[j] == u'^')) {
                conjunto.Negado = true;
                ++j;
            }
            // A character of the set, `\` making the next one plain; false past the end.
            const auto um = [&](std::uint32_t& saida) {
                if (j < c.size() && c[j] == u'\\')
                    ++j;
                if (j >= c.size())
                    return false;
                saida = c[j++];
                return true;
            };
            // A ']' right after the opening (or the '!') is one of the set.
            for (bool primeiro = true; j >= c.size() || c[j] != u']' || primeiro;
                 primeiro = false) {
                TFaixa faixa{};
                if (!um(faixa.De))
                    return std::u16string(kColcheteAberto);
                faixa.Ate = faixa.De;
                if (j + 1 < c.size() && c[j] == u'-' && c[j + 1] != u']') {
                    ++j;
                    if (!um(faixa.Ate))
                        return std::u16string(kColcheteAberto);
                }
                conjunto.Faixas.push_back(faixa);
            }
            i = j + 1;
            // A name never holds '/', and a reversed range holds nothing.
            const bool algum = std::any_of(
                conjunto.Faixas.begin(), conjunto.Faixas.end(),
                [](TFaixa f) { return f.De <= f.Ate && !(f.De == kBarra && f.Ate == kBarra); });
            if (!algum && !conjunto.Negado)
                return std::u16string(kConjuntoVazio);
            pecas.push_back(std::move(conjunto));
        } else {
            pecas.emplace_back(TTipo::Literal, c[i++]);
        }
    }

    const auto barra = [](const TPeca& p) {
        return p.Tipo == TTipo::Literal && p.Caractere == kBarra;
    };
    if (barra(pecas.front())) {
        padrao.Ancorado = true;
        pecas.erase(pecas.begin());
    }
    if (!pecas.empty() && barra(pecas.back())) {
        padrao.SoPastas = true;
        pecas.pop_back();
    }
    if (pecas.empty())
        return std::u16string(kSoBarras);
    // Each name between slashes must be one a folder can hold.
    for (std::size_t inicio = 0, k = 0; k <= pecas.size(); ++k) {
        if (k < pecas.size() && !barra(pecas[k]))
            continue;
        if (k == inicio)
            return std::u16string(kNomeVazio);
        const bool pontos =
            k - inicio <= 2 &&
            std::all_of(pecas.begin() + inicio, pecas.begin() + k, [](const TPeca& p) {
                return p.Tipo == TTipo::Literal && p.Caractere == u'.';
            });
        if (pontos)
            return std::u16string(kPontos);
        inicio = k + 1;
    }
    padrao.Caminho = std::any_of(pecas.begin(), pecas.end(),
                                 [&](const TPeca& p) { return barra(p) || p.Tipo == TTipo::Tudo; });
    // A `**` that is a whole name before a '/' may also stand for no folder at all.
    for (std::size_t k = 0; k + 1 < pecas.size(); ++k) {
        if (pecas[k].Tipo == TTipo::Tudo && (k == 0 || barra(pecas[k - 1])) &&
            barra(pecas[k + 1])) {
            pecas[k].Tipo = TTipo::Pastas;
            pecas.erase(pecas.begin() + static_cast<std::ptrdiff_t>(k) + 1);
        }
    }
    for (auto peca = pecas.rbegin(); peca != pecas.rend() && peca->Tipo == TTipo::Literal; ++peca)
        padrao.Fim.insert(padrao.Fim.begin(), peca->Caractere);
    padroes_.push_back(std::move(padrao));
    return {};
}

bool TExclusoes::Casa(const TPadrao& padrao, const std::vector<std::uint32_t>& texto,
                      std::vector<char>& proximo, std::vector<char>& atual) {
    const std::size_t n = texto.size();
    if (n < padrao.Fim.size() ||
        !std::equal(padrao.Fim.rbegin(), padrao.Fim.rend(), texto.rbegin()))
        return false;
    // A pattern of one name is matched against the last name only.
    std::size_t de = 0;
    if (!padrao.Caminho && !padrao.Ancorado) {
        const auto barra = std::find(texto.rbegin(), texto.rend(), kBarra);
        de = static_cast<std::size_t>(texto.rend() - barra);
    }
    // proximo[j]: the pieces after the current one match texto[j..n); atual[j]: from the current
    // one on. Each piece is one pass over the text, so no pattern costs more than pieces × length.
    proximo.assign(n + 1, 0);
    atual.assign(n + 1, 0);
    proximo[n] = 1;
    for (std::size_t i = padrao.Pecas.size(); i-- > 0;) {
        const TPeca& peca = padrao.Pecas[i];
        const bool vazia =
            peca.Tipo == TTipo::Estrela || peca.Tipo == TTipo::Tudo || peca.Tipo == TTipo::Pastas;
        atual[n] = vazia && proximo[n];
        bool barraAdiante = false;  // Pastas: a '/' at or after j with a match after it
        for (std::size_t j = n; j-- > de;) {
            const std::uint32_t ch = texto[j];
            bool casa = false;
            switch (peca.Tipo) {
                case TTipo::Literal:
                    casa = ch == peca.Caractere && proximo[j + 1];
                    break;
                case TTipo::Qualquer:
                    casa = ch != kBarra && proximo[j + 1];
                    break;
                case TTipo::Conjunto:
                    casa = ch != kBarra && proximo[j + 1] && peca.Aceita(ch);
                    break;
                case TTipo::Estrela:
                    casa = proximo[j] || (ch != kBarra && atual[j + 1]);
                    break;
                case TTipo::Tudo:
                    casa = proximo[j] || atual[j + 1];
                    break;
                case TTipo::Pastas:
                    barraAdiante = barraAdiante || (ch == kBarra && proximo[j + 1]);
                    casa = proximo[j] || barraAdiante;
                    break;
            }
            atual[j] = casa;
        }
        std::swap(atual, proximo);
    }
    if (padrao.Ancorado || !padrao.Caminho)
        return proximo[de];
    // Unanchored, a path pattern matches the path's last names: it may start at any name.
    for (std::size_t j = 0; j < n; ++j) {
        if ((j == 0 || texto[j - 1] == kBarra) && proximo[j])
            return true;
    }
    return false;
}

const std::u16string* TExclusoes::Padrao(std::string_view relativo, bool pasta) const {
    if (padroes_.empty())
        return nullptr;
    const std::vector<std::uint32_t> texto = Caracteres(relativo);
    std::vector<char> proximo;
    std::vector<char> atual;
    for (const TPadrao& padrao : padroes_) {
        if ((!padrao.SoPastas || pasta) && Casa(padrao, texto, proximo, atual))
            return &padrao.Texto;
    }
    return nullptr;
}

}  // namespace ab
