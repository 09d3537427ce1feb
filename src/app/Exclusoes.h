// The entries of the published folder the user leaves out: build leftovers, symbol files, a
// version control folder. Each pattern is matched against an entry's path below the published
// folder, as the bytes of its name (case-sensitive, nothing normalised):
//   - `*` matches any run of characters within one name, `?` one character, `[...]` one of a set
//     (`[a-z]` ranges, `[!...]` or `[^...]` the others); none of them matches '/';
//   - `**` matches anything, '/' included; as a whole name (`**/x`, `a/**/x`) it also matches no
//     folder at all, so `a/**/x` leaves out `a/x` as well as `a/b/c/x`;
//   - `\` makes the next character plain (`\*` is a star in the name);
//   - a pattern without '/' (and without `**`) matches a name at any depth;
//   - a pattern with '/' matches the path's last names (`Rel/*.rpt` leaves out
//   `Arquivos/Rel/x.rpt`),
//     and a leading '/' anchors it at the published folder (`/Rel/*.rpt` only `Rel/x.rpt`);
//   - a trailing '/' matches folders only.
// A character is a UTF-8 sequence, or a byte of a name that is not UTF-8: `?` and a set take one
// either way, so `a?o.txt` matches `ação.txt` whether or not the name is UTF-8.
//
// A pattern that can match nothing at all (empty, only slashes, an empty name between two slashes,
// a name `.` or `..`, a `[` that is never closed, a set that takes no character of a name, a `\`
// with nothing after it) is refused when it is added, with the reason: a mistyped pattern would
// otherwise leave out nothing, silently.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ab {

class TExclusoes {
  public:
    // Adds `padrao` (a name's characters, as FromFileName gives them). Returns why it can never
    // match anything, adding nothing; empty when it was added.
    [[nodiscard]] std::u16string Adicionar(std::u16string_view padrao);

    bool Vazia() const { return padroes_.empty(); }
    // The patterns as they were given, in order.
    std::vector<std::u16string> Textos() const {
        std::vector<std::u16string> textos;
        for (const TPadrao& p : padroes_)
            textos.push_back(p.Texto);
        return textos;
    }

    // The first pattern, as it was given, that leaves out the entry at `relativo`: its path below
    // the published folder as bytes, names joined by one '/', no '/' at either end. `pasta` tells
    // whether the entry is a folder. Null when no pattern does.
    const std::u16string* Padrao(std::string_view relativo, bool pasta) const;

  private:
    enum class TTipo : std::uint8_t {
        Literal,   // one given character
        Qualquer,  // ?
        Conjunto,  // [...]
        Estrela,   // *: any run within one name
        Tudo,      // **: any run
        Pastas,    // **/ as a whole name: nothing, or any run that ends in '/'
    };
    struct TFaixa {
        std::uint32_t De, Ate;
    };
    struct TPeca {
        explicit TPeca(TTipo tipo, std::uint32_t caractere = 0)
            : Tipo(tipo), Caractere(caractere) {}
        TTipo Tipo;
        std::uint32_t Caractere;     // Literal
        bool Negado = false;         // Conjunto
        std::vector<TFaixa> Faixas;  // Conjunto
        bool Aceita(std::uint32_t c) const;
    };
    struct TPadrao {
        std::u16string Texto;
        std::vector<TPeca> Pecas;
        bool Ancorado = false;  // a leading '/': only from the published folder's top
        bool SoPastas = false;  // a trailing '/'
        bool Caminho = false;   // holds '/' or `**`: matched against the path, not the last name
        // The characters the pattern ends with, which every path it matches ends with too: most
        // paths are told apart by them alone.
        std::vector<std::uint32_t> Fim;
    };

    // `proximo` and `atual` are room the match may use.
    static bool Casa(const TPadrao& padrao, const std::vector<std::uint32_t>& texto,
                     std::vector<char>& proximo, std::vector<char>& atual);

    std::vector<TPadrao> padroes_;
};

}  // namespace ab
