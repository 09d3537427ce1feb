// The start-up gates.
#include "app/Arranque.h"

#include <algorithm>

#include "app/PastaPublicada.h"
#include "platform/Convert.h"
#include "platform/Text.h"

namespace ab {

std::variant<TArranque, std::u16string> Arrancar(const CommandLine& argumentos,
                                                 const TestEnvironment& ambiente,
                                                 std::u16string_view pasta) {
    if (argumentos.ParamStr(6) != Arranque::AccessCode)
        return std::u16string(Arranque::AccessDenied);
    TArranque a;
    a.Caption = argumentos.ParamStr(1);
    a.Endereco = argumentos.ParamStr(2);
    a.Porta = std::clamp(TryStrToInt(argumentos.ParamStr(3)).value_or(0), Arranque::PortaMinima,
                         Arranque::PortaMaxima);
    a.Dados.ProgramPath = argumentos.ParamStr(0);
    a.Dados.Sistema = u"S" + argumentos.ParamStr(4) + u"\\";
    a.Dados.VersaoPraTeste = AsciiUpper(argumentos.ParamStr(5)) == u"TESTE";
    if (a.Dados.VersaoPraTeste && !ambiente.IsPresent())
        return std::u16string(Arranque::TestOutsideEnvironment);
    try {
        a.Dados.ProgramFolder = PastaAPublicar(argumentos.ProgramFolder(), pasta, PastaPessoal());
    } catch (const EPastaRecusada& e) {
        return e.Message();
    }
    return a;
}

}  // namespace ab
