// The start-up gates every front end applies before a run can be asked for: the access code, for
// a test build the test environment, then the folder to publish (see PastaAPublicar). Also the
// values the window's fields take from the arguments, so a run without a window reads them the same
// way.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "app/TAtualizador.h"
#include "platform/CommandLine.h"
#include "platform/TestEnvironment.h"

namespace ab {

namespace Arranque {

inline constexpr std::u16string_view AccessCode = u"Vr@ndoxT";
inline constexpr std::u16string_view Title = u"Atualizador Brevant Sistemas.";
inline constexpr std::u16string_view AccessDenied =
    u"Sr. Usu\u00E1rio,\r\nDesculpe, voc\u00EA n\u00E3o tem autoriza\u00E7\u00E3o para essa "
    u"tarefa.";
inline constexpr std::u16string_view TestOutsideEnvironment =
    u"Sr. Usu\u00E1rio,\r\nEsta \u00E9 uma vers\u00E3o para Testes,\r\nS\u00F3 pode ser "
    u"executada dentro do Ambiente da Brevant Sistemas.";
// The port spinner's range.
inline constexpr int PortaMinima = 0;
inline constexpr int PortaMaxima = 99999;

}  // namespace Arranque

// What the arguments give a run: caption, address field, port spinner, program state.
struct TArranque {
    std::u16string Caption;
    std::u16string Endereco;
    int Porta = 0;
    TDadosPrograma Dados;
};

// The gates and the fields, as the window's start-up handler has them: the access code first,
// then, in a test build, the test environment, then the folder: `pasta` (the option, relative to
// the working folder) or, when empty, the folder of argument 0. A refusal gives the text of its
// error box.
std::variant<TArranque, std::u16string> Arrancar(const CommandLine& argumentos,
                                                 const TestEnvironment& ambiente,
                                                 std::u16string_view pasta = {});

}  // namespace ab
