// Fixed values of the updater application in one place: the server-method class and method names,
// the echo component's parameters, the connection component's designed parameter list and
// credentials, the destination-folder rules, and every user-visible text of the publishing run.
#pragma once

#include <array>
#include <chrono>
#include <string_view>

namespace ab::AppConstants {

// Server-method classes, as prefixes of the command text.
inline constexpr std::u16string_view ParentServerPrefix = u"TZvServer.";
inline constexpr std::u16string_view ClientServerPrefix = u"TZvClienteServer.";

// Server methods.
inline constexpr std::u16string_view PropertsFileMethod = u"PropertsFile";
inline constexpr std::u16string_view SendFileMethod = u"SendFile";
inline constexpr std::u16string_view RemoveFileMethod = u"RemoveFile";
inline constexpr std::u16string_view AlertarZvClientesMethod = u"AlertarZvClientes";
inline constexpr std::u16string_view DataHoraBrevantMethod = u"DataHoraBrevant";
inline constexpr std::u16string_view DSServerModuleCreateMethod = u"DSServerModuleCreate";
inline constexpr std::u16string_view DSServerModuleDestroyMethod = u"DSServerModuleDestroy";

// The echo component: always the parent server's method, whatever the server kind.
inline constexpr std::u16string_view EchoStringMethod = u"TZvServer.EchoString";
inline constexpr std::u16string_view EchoValueParam = u"Value";
inline constexpr std::u16string_view EchoReturnParam = u"ReturnParameter";
inline constexpr int EchoPrecision = 2000;
// The text whose Base64 form the probe sends.
inline constexpr std::u16string_view EchoProbeText = u"Brevant";

// Proxy construction without an open link.
inline constexpr std::u16string_view ErrConnectionNil =
    u"Connection cannot be nil.  Make sure the connection has been opened.";

// The connection component.
inline constexpr std::u16string_view ConnectionName = u"DataSnapCONNECTION";
inline constexpr std::u16string_view DriverName = u"DataSnap";

// Parameter names the before-connect event rewrites, spelled as it writes them.
inline constexpr std::u16string_view ParamHostName = u"HostName";
inline constexpr std::u16string_view ParamPort = u"Port";
inline constexpr std::u16string_view ParamUser = u"DSAuthenticationUser";
inline constexpr std::u16string_view ParamPassword = u"DSAuthenticationPassword";

// Credentials: the user and the pass phrase whose MD5 digest is the password.
inline constexpr std::u16string_view User = u"Atualizador";
inline constexpr std::u16string_view PassPhrase = u"MirovelTerrasco8157Transmissor";

// The designed parameter list, in its order. The loader entry and the two design-time
// credentials are never used by this client: the credentials are rewritten before every connect.
inline constexpr std::array<std::u16string_view, 11> DesignedParams = {
    u"DriverUnit=Data.DBXDataSnap",
    u"CommunicationProtocol=tcp/ip",
    u"DatasnapContext=datasnap/",
    u"DriverAssemblyLoader=AtualizadorBrevant.Driver.TClientDriverLoader,"
    u"AtualizadorBrevant.Driver,Version=1.0.0.0,Culture=neutral,PublicKeyToken=null",
    u"DriverName=DataSnap",
    u"HostName=localhost",
    u"port=211",
    u"Filters={}",
    u"DSProxyPort=8080",
    u"DSAuthenticationPassword="
    u"5A0C7E31D9B84F26A1E3C05B7D92F48E6C1A3B5D7F9E0A2C4B6D8F1E3A5C7B9D0E2F",
    u"DSAuthenticationUser=projeto",
};

// The walk.
inline constexpr std::u16string_view ListMask = u"*.*";
inline constexpr std::u16string_view LogoFileName = u"logo.jpg";
inline constexpr std::u16string_view TestMarkerName = u"EM_TESTE.SQL";
inline constexpr std::u16string_view ClientNameSuffix = u".hxf";
inline constexpr std::u16string_view StampSeparator = u";";
inline constexpr std::u16string_view AlertText = u"Atualizacao";

// Destination folders: the first characters of the upper-cased folder part.
inline constexpr std::u16string_view ScriptsFolder = u"SCRIPTS\\";
inline constexpr std::u16string_view ArquivosFolder = u"ARQUIVOS\\";
inline constexpr std::u16string_view PadraoFolder = u"PADRAO\\";

// Sending: attempts and the pause between closing and reopening the connection.
inline constexpr int SendAttempts = 2;
inline constexpr std::chrono::milliseconds ReconnectPause{100};
// Shortest interval between two progress events of a file on its way.
inline constexpr std::chrono::milliseconds ProgressInterval{33};
// The bandwidth cap is given in KB per second of 1000 bytes, as a link's speed is told.
inline constexpr int BytesPorKBDeBanda = 1000;

// User-visible texts.
inline constexpr std::u16string_view MsgTestVersionServer =
    u"Esta \u00E9 uma vers\u00E3o de teste!\r\nE n\u00E3o pode ser executada nesse servidor.";
inline constexpr std::u16string_view MsgInvalidServer = u"O Servidor n\u00E3o \u00E9 valido!";
inline constexpr std::u16string_view MsgSendFailed =
    u"N\u00E3o foi poss\u00EDvel enviar o Arquivo: \r\n";
inline constexpr std::u16string_view MsgContinue = u"Continuar?";
// What the walk reports besides files, and why a file failed.
inline constexpr std::u16string_view MsgNotARegularFile = u"n\u00E3o \u00E9 um arquivo comum (%s)";
inline constexpr std::u16string_view KindFifo = u"FIFO";
inline constexpr std::u16string_view KindSocket = u"socket";
inline constexpr std::u16string_view KindCharDevice = u"dispositivo de caracteres";
inline constexpr std::u16string_view KindBlockDevice = u"dispositivo de blocos";
inline constexpr std::u16string_view KindOther = u"tipo desconhecido";
inline constexpr std::u16string_view MsgLinkOutside =
    u"liga\u00E7\u00E3o para uma pasta fora da pasta publicada: %s";
inline constexpr std::u16string_view MsgLinkAbove =
    u"liga\u00E7\u00E3o para uma pasta acima dela: %s";
inline constexpr std::u16string_view MsgLinkInside =
    u"liga\u00E7\u00E3o para uma pasta publicada pelo seu pr\u00F3prio caminho: %s";
inline constexpr std::u16string_view MsgFolderAgain =
    u"a mesma pasta j\u00E1 foi publicada como %s";
inline constexpr std::u16string_view MsgFolderSwapped =
    u"a pasta foi trocada por uma liga\u00E7\u00E3o durante a varredura";
inline constexpr std::u16string_view MsgFolderUnreadable =
    u"a pasta n\u00E3o p\u00F4de ser lida: %s";
inline constexpr std::u16string_view MsgServerRefused = u"o servidor recusou o arquivo";
// A name the server would read as another file; %s is the character's code (U+0009).
inline constexpr std::u16string_view MsgNameBackslash =
    u"o nome tem \"\\\", que o servidor l\u00EA como separador de pastas";
inline constexpr std::u16string_view MsgNameControl =
    u"o nome tem um caractere de controle (%s), que o servidor n\u00E3o aceita num nome";
// An entry the user left out (%s the pattern), and the test marker a pattern matched (%0:s the
// pattern, %1:s the marker's path below the published folder).
inline constexpr std::u16string_view MsgExcluido = u"exclu\u00EDdo por %s";
inline constexpr std::u16string_view MsgMarcadorNaoExcluido =
    u"O padr\u00E3o de exclus\u00E3o \"%0:s\" se aplica a %1:s, o marcador de teste, que nunca "
    u"\u00E9 exclu\u00EDdo: a sua remo\u00E7\u00E3o protege a produ\u00E7\u00E3o";

// A server that could not keep up (%0:s the server, %1:s the block size asked for in KB, %2:s what
// happened), and how long it is remembered (%s a date).
inline constexpr std::u16string_view MsgSemPedidosAdiante =
    u"O servidor %0:s n\u00E3o respondeu aos pedidos escritos adiante (%2:s); a "
    u"publica\u00E7\u00E3o segue um pedido por vez";
inline constexpr std::u16string_view MsgSemBlocosMaiores =
    u"O servidor %0:s n\u00E3o aceitou blocos de %1:s KB (%2:s); a publica\u00E7\u00E3o segue "
    u"com blocos de 32 KB";
inline constexpr std::u16string_view MsgLembrado =
    u", e assim come\u00E7ar\u00E1 nesse servidor at\u00E9 %s";
// The fast defaults: requests in flight per connection, block size in KB.
inline constexpr int PadraoPedidosEmCurso = 256;
inline constexpr int PadraoBufferKB = 2048;
// Probe deadlines: for the answers to the first requests written ahead, and for the first send in
// blocks over 32 KB (a block of a megabyte needs time of its own on a slow link).
inline constexpr std::chrono::milliseconds PrazoDaSonda{2000};
inline constexpr std::chrono::milliseconds PrazoDaSondaDeBuffer{10000};
// Above this many bytes a packet does not fit the blocks of 32 KB buffers.
inline constexpr std::size_t MaiorPacoteEm32KB = 30 * 1024;

// A run ended from outside (a second close, a second signal) does not reconnect after a failure.
inline constexpr std::u16string_view MsgRunAborted = u"Execu\u00E7\u00E3o interrompida.";

}  // namespace ab::AppConstants
