// --help and --version.
#include "cli/Ajuda.h"

#include "app/Historico.h"
#include "app/TConfiguracao.h"
#include "platform/Text.h"

#ifndef AB_VERSION
#define AB_VERSION "1.0.0"
#endif

namespace ab {

std::u16string TextoDeVersao() {
    return u"AtualizadorBrevant " + FromUtf8(AB_VERSION) + u"\n";
}

std::u16string TextoDeAjuda() {
    return u"Uso: AtualizadorBrevant T\u00CDTULO ENDERE\u00C7O PORTA SISTEMA MODO C\u00D3DIGO "
           u"[OP\u00C7\u00D5ES]\n"
           u"     AtualizadorBrevant --help | --version\n"
           u"     AtualizadorBrevant --historico [N] [--registro ARQUIVO]\n"
           u"\n"
           u"Publica a pasta onde o programa est\u00E1, ou a que --pasta indica, e as "
           u"subpastas no\nservidor de atualiza\u00E7\u00E3o: "
           u"envia o que o servidor n\u00E3o tem ou tem mais antigo, remove\nEM_TESTE.SQL e avisa "
           u"os clientes. A raiz, as pastas do sistema (/usr/bin ...) e a pasta\npessoal nunca "
           u"s\u00E3o publicadas.\n"
           u"\n"
           u"Argumentos, por posi\u00E7\u00E3o:\n"
           u"  T\u00CDTULO    t\u00EDtulo da janela\n"
           u"  ENDERE\u00C7O  endere\u00E7o do servidor\n"
           u"  PORTA     porta do servidor (0 a 99999)\n"
           u"  SISTEMA   c\u00F3digo do sistema: 01 publica em S01\\\n"
           u"  MODO      teste para uma vers\u00E3o de testes; outra palavra (PRODUCAO) para as "
           u"demais\n"
           u"  C\u00D3DIGO    c\u00F3digo de acesso\n"
           u"\n"
           u"Op\u00E7\u00F5es (depois dos seis argumentos; --chave valor, --chave=valor, ou "
           u"--chave "
           u"para sim):\n" +
           DescricaoDasChaves() +
           u"\n"
           u"As mesmas chaves podem ficar, como \"chave = valor\", em\n  " +
           FromUtf8(ArquivoDeConfiguracao().string()) +
           u"\n(as op\u00E7\u00F5es valem sobre o arquivo).\n"
           u"\n"
           u"Cada execu\u00E7\u00E3o deixa uma linha JSON em\n  " +
           FromFileName(ArquivoDoHistorico(TConfiguracao{}).native()) +
           u"\n(ou no arquivo de --registro); --historico [N], como primeiro argumento, mostra "
           u"as\n\u00FAltimas N (20 se N faltar).\n"
           u"\n"
           u"Situa\u00E7\u00E3o de sa\u00EDda:\n"
           u"  0  tudo atualizado\n"
           u"  1  in\u00EDcio recusado (c\u00F3digo de acesso, vers\u00E3o de testes, pasta "
           u"recusada,\n     configura\u00E7\u00E3o inv\u00E1lida, sem tela para a janela)\n"
           u"  2  o servidor n\u00E3o p\u00F4de ser alcan\u00E7ado ou recusou o login\n"
           u"  3  um ou mais arquivos falharam\n"
           u"  4  interrompida (fechamento da janela, SIGINT ou SIGTERM: termina o arquivo em "
           u"curso;\n     um segundo sinal encerra a conex\u00E3o)\n"
           u"  5  um erro interrompeu a execu\u00E7\u00E3o (a mensagem \u00E9 mostrada)\n";
}

}  // namespace ab
