// Wire constants of the connection and transport layer, in one place: property names and the
// server driver's defaults, driver, layer and command-type names, filter ids, the filter channel's
// header bytes, the metadata columns, and every fixed message text this layer raises.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ab::TransportConstants {

// Connection property names.
inline constexpr char16_t DriverName[] = u"DriverName";
inline constexpr char16_t DriverUnit[] = u"DriverUnit";
inline constexpr char16_t HostName[] = u"HostName";
inline constexpr char16_t Port[] = u"Port";
inline constexpr char16_t CommunicationProtocol[] = u"CommunicationProtocol";
inline constexpr char16_t CommunicationIPVersion[] = u"CommunicationIPVersion";
inline constexpr char16_t ConnectTimeout[] = u"ConnectTimeout";
inline constexpr char16_t CommunicationTimeout[] = u"CommunicationTimeout";
inline constexpr char16_t IPImplementationID[] = u"IPImplementationID";
inline constexpr char16_t Filters[] = u"Filters";
inline constexpr char16_t BufferKBSize[] = u"BufferKBSize";
inline constexpr char16_t DSAuthenticationUser[] = u"DSAuthenticationUser";
inline constexpr char16_t DSAuthenticationPassword[] = u"DSAuthenticationPassword";
inline constexpr char16_t DSAuthenticationScheme[] = u"DSAuthenticationScheme";
inline constexpr char16_t UserName[] = u"User_Name";
inline constexpr char16_t Password[] = u"Password";
inline constexpr char16_t Database[] = u"Database";
inline constexpr char16_t AutoUnloadDriver[] = u"AutoUnloadDriver";
inline constexpr char16_t ConnectionName[] = u"ConnectionName";
inline constexpr char16_t DelegateConnection[] = u"DelegateConnection";
inline constexpr char16_t DatasnapContext[] = u"DatasnapContext";
inline constexpr char16_t URLPath[] = u"URLPath";
inline constexpr char16_t DSProxyHost[] = u"DSProxyHost";
inline constexpr char16_t DSProxyPort[] = u"DSProxyPort";
inline constexpr char16_t DSProxyUsername[] = u"DSProxyUsername";
inline constexpr char16_t DSProxyPassword[] = u"DSProxyPassword";
inline constexpr char16_t DriverAssemblyLoader[] = u"DriverAssemblyLoader";
inline constexpr char16_t RowSetSize[] = u"RowSetSize";

// The server driver's default lines, in this order.
inline constexpr char16_t DefaultDriverUnit[] = u"Data.DbxDatasnap";
inline constexpr char16_t LoopbackHostName[] = u"localhost";
inline constexpr char16_t DefaultPortText[] = u"211";
inline constexpr char16_t DefaultDatasnapContext[] = u"datasnap/";
inline constexpr int DefaultPort = 211;
inline constexpr int DefaultBufferKBSize = 32;
inline constexpr int DefaultDSProxyPort = 8888;
inline constexpr int DefaultRowSetSize = 20;

// TCP keepalive on every connection: an idle connection whose peer vanished is found after about
// idle + interval x probes (two minutes), also when no deadline is set. The user timeout gives
// sent data that stays unacknowledged the same two minutes, which keepalive does not cover.
inline constexpr int KeepAliveIdleSeconds = 60;
inline constexpr int KeepAliveIntervalSeconds = 10;
inline constexpr int KeepAliveProbes = 6;
inline constexpr int UnacknowledgedTimeoutMs =
    (KeepAliveIdleSeconds + KeepAliveIntervalSeconds * KeepAliveProbes) * 1000;

// Address families named by CommunicationIPVersion.
inline constexpr char16_t IPv4[] = u"IP_IPv4";
inline constexpr char16_t IPv6[] = u"IP_IPv6";

// Driver and communication layer names.
inline constexpr char16_t ServerDriverName[] = u"DataSnap";
inline constexpr char16_t TcpLayerName[] = u"tcp/ip";
inline constexpr char16_t CommunicationLayerClass[] = u"TDBXCommunicationLayer";
inline constexpr char16_t CommunicationLayerFactoryClass[] = u"TDBXCommunicationLayerFactory";
// Interface id reported when IPImplementationID names no socket implementation.
inline constexpr char16_t TcpClientInterfaceGuid[] = u"{2F8D6C0B-5E41-4B27-9C3A-7A1E0D4B6F12}";

// Command types.
inline constexpr char16_t SQLCommandType[] = u"Dbx.SQL";
inline constexpr char16_t StoredProcedureCommandType[] = u"Dbx.StoredProcedure";
inline constexpr char16_t TableCommandType[] = u"Dbx.Table";
inline constexpr char16_t MetaDataCommandType[] = u"Dbx.MetaData";
inline constexpr char16_t ServerMethodCommandType[] = u"DataSnap.ServerMethod";
inline constexpr char16_t GetDatabaseCommand[] = u"GetDatabase";

// Transport filter ids.
inline constexpr char16_t CompressionFilterId[] = u"ZLibCompression";
inline constexpr char16_t PC1FilterId[] = u"PC1";
inline constexpr char16_t RSAFilterId[] = u"RSA";

// Filter channel headers: five bytes, the first one naming the kind.
inline constexpr std::size_t FilterHeaderSize = 5;
inline constexpr std::uint8_t FilterQueryByte = 0x05;
inline constexpr std::uint8_t NoFilterByte = 0x06;
inline constexpr std::uint8_t PublicKeyLengthByte = 0x07;
inline constexpr std::uint8_t DataLengthByte = 0x0D;
// A peer-announced frame longer than this is refused (the channel reports -1).
inline constexpr std::uint32_t DefaultMaxFrameLength = 64u * 1024 * 1024;

// Columns of the database metadata answer.
inline constexpr char16_t QuoteChar[] = u"QuoteChar";
inline constexpr char16_t ProcedureQuoteChar[] = u"ProcedureQuoteChar";
inline constexpr char16_t MaxCommands[] = u"MaxCommands";
inline constexpr char16_t SupportsTransactions[] = u"SupportsTransactions";
inline constexpr char16_t SupportsNestedTransactions[] = u"SupportsNestedTransactions";
inline constexpr char16_t SupportsRowSetSize[] = u"SupportsRowSetSize";
inline constexpr char16_t QuotePrefix[] = u"QuotePrefix";
inline constexpr char16_t QuoteSuffix[] = u"QuoteSuffix";
inline constexpr char16_t SupportsLowerCaseIdentifiers[] = u"SupportsLowerCaseIdentifiers";
inline constexpr char16_t SupportsUpperCaseIdentifiers[] = u"SupportsUpperCaseIdentifiers";
inline constexpr char16_t SupportsSPReturnCode[] = u"SupportsSPReturnCode";
inline constexpr char16_t SupportsParameterMetadata[] = u"SupportsParameterMetadata";
inline constexpr char16_t SupportsCatalogFunctions[] = u"SupportsCatalogFunctions";
inline constexpr char16_t SupportsCatalogs[] = u"SupportsCatalogs";
inline constexpr char16_t SupportsSchemas[] = u"SupportsSchemas";

// Error texts.
inline constexpr char16_t ErrUnknownDriver[] = u"Unknown driver:  %s";
inline constexpr char16_t ErrMissingDriverName[] = u"Missing DriverName property";
inline constexpr char16_t ErrDelegateTooDeep[] =
    u"Cannot delegate a connection more than 16 times:  %s";
inline constexpr char16_t ErrUnknownProtocol[] =
    u"Protocol %0:s can be used after an adequate instance of %1:s is registered with %2:s.";
inline constexpr char16_t ErrNoPeer[] =
    u"No peer with the interface with guid %s has been registered with the current "
    u"implementation (%s)";
inline constexpr char16_t ErrConnectionTimeout[] = u"Connection timeout error";
inline constexpr char16_t ErrCommunicationTimeout[] = u"Communication timeout error";
inline constexpr char16_t ErrWriteTimeout[] = u"Write timeout error";
inline constexpr char16_t ErrConnectionClosedByPeer[] = u"Connection closed by the peer";
inline constexpr char16_t ErrNoMatchingFilter[] = u"The Server has no matching %s filter.";
inline constexpr char16_t ErrFilterNotRegistered[] =
    u"Communication filter %s is not registered. Filter class needs to be registered in order "
    u"to communicate with the server.";
inline constexpr char16_t ErrFilterRejectedParameter[] =
    u"Filter %s rejected setup parameter %s given value %s. At this point the server "
    u"communication is not possible due to this incompatibility.";
inline constexpr char16_t ErrConnectionClosed[] = u"Operation failed.  Connection was closed";
inline constexpr char16_t ErrPreparedOnce[] = u"Command can only be prepared once";
inline constexpr char16_t ErrNoStatement[] = u"No statement to execute";
inline constexpr char16_t ErrNoPrepareOwed[] = u"No prepare request awaits its reply";
inline constexpr char16_t ErrPrepareReplyOwed[] = u"The prepare's reply has not been read";
inline constexpr char16_t ErrInvalidOrdinal[] = u"Invalid Ordinal:  %d";
inline constexpr char16_t ErrFeatureNotImplemented[] = u"Feature not implemented";
inline constexpr char16_t ErrNoParameterValue[] = u"No value for parameter '%s'";
inline constexpr char16_t ErrParamNotFound[] = u"Parameter '%s' not found";
// An open whose requests written ahead got no answer (ESondaFalhou), with the read's own error.
inline constexpr char16_t ErrSondaSemResposta[] =
    u"O servidor não respondeu em %s ms aos pedidos escritos adiante (%s)";
inline constexpr char16_t ErrSondaConexaoFechada[] =
    u"O servidor fechou a conexão com pedidos escritos adiante (%s)";
inline constexpr char16_t ErrSondaLeituraFalhou[] =
    u"A leitura das respostas aos pedidos escritos adiante falhou (%s)";
inline constexpr char16_t ErrConnectionRequired[] =
    u"SQLConnection property required for this operation";

}  // namespace ab::TransportConstants
