// Wire constants of the bundled update server: message keys, method and class names, handshake
// headers, type codes and the limits it applies to what a peer announces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ab::server {

// Filter handshake headers.
inline constexpr std::uint8_t kFilterQuery[5] = {0x05, 0x05, 0x05, 0x05, 0x05};
inline constexpr std::uint8_t kNoFilterAnswer[5] = {0x06, 0x00, 0x00, 0x00, 0x00};

// Request methods.
inline constexpr std::string_view kMethodConnect = "connect";
inline constexpr std::string_view kMethodDisconnect = "disconnect";
inline constexpr std::string_view kMethodPrepare = "prepare";
inline constexpr std::string_view kMethodExecute = "execute";
inline constexpr std::string_view kMethodCommandClose = "command_close";
inline constexpr std::string_view kMethodReaderClose = "reader_close";
inline constexpr std::string_view kMethodVendorProperty = "vendor_property";
inline constexpr std::string_view kMethodNextResult = "next_result";
inline constexpr std::string_view kMethodNext = "next";
inline constexpr std::string_view kMethodMoreBlob = "more_blob";

// Member keys.
inline constexpr std::string_view kKeyMethod = "method";
inline constexpr std::string_view kKeyParams = "params";
inline constexpr std::string_view kKeyHandle = "handle";
inline constexpr std::string_view kKeyFields = "fields";
inline constexpr std::string_view kKeyParameters = "parameters";
inline constexpr std::string_view kKeyData = "data";
inline constexpr std::string_view kKeyError = "error";

// Connection properties read from the connect message.
inline constexpr std::u16string_view kPropUser = u"DSAuthenticationUser";
inline constexpr std::u16string_view kPropPassword = u"DSAuthenticationPassword";
// The client's buffer size in KB; absent, empty, not a number or not above 0 means the default.
inline constexpr std::u16string_view kPropBufferKBSize = u"BufferKBSize";
inline constexpr int kDefaultBufferKBSize = 32;

// Command types and texts.
inline constexpr std::u16string_view kServerMethodType = u"DataSnap.ServerMethod";
inline constexpr std::u16string_view kMetaDataType = u"Dbx.MetaData";
inline constexpr std::u16string_view kGetDatabase = u"GetDatabase";

// Server-method classes and methods.
inline constexpr std::u16string_view kParentClass = u"TZvServer";
inline constexpr std::u16string_view kClientClass = u"TZvClienteServer";
inline constexpr std::u16string_view kPropertsFile = u"PropertsFile";
inline constexpr std::u16string_view kSendFile = u"SendFile";
inline constexpr std::u16string_view kRemoveFile = u"RemoveFile";
inline constexpr std::u16string_view kAlertarZvClientes = u"AlertarZvClientes";
inline constexpr std::u16string_view kDataHoraBrevant = u"DataHoraBrevant";
inline constexpr std::u16string_view kEchoString = u"EchoString";
// Suffix a client server's names carry when asked about.
inline constexpr std::u16string_view kClientSuffix = u".hxf";

// Default credentials: the user and the MD5 of this pass phrase (upper-case hex).
inline constexpr std::u16string_view kDefaultUser = u"Atualizador";
inline constexpr std::string_view kDefaultPassPhrase = "MirovelTerrasco8157Transmissor";

// DBX data types and parameter directions used in parameter metadata.
inline constexpr int kTypeBool = 4;
inline constexpr int kTypeInt32 = 6;
inline constexpr int kTypeWideString = 26;
inline constexpr int kTypeVariant = 35;
inline constexpr int kDirIn = 1;
inline constexpr int kDirReturn = 4;

// Error codes this server puts in its error replies.
inline constexpr int kErrInvalidReference = 24;  // unknown class, method or handle
inline constexpr int kErrInvalidUser = 12;       // refused login
inline constexpr int kErrInvalidParameter = 9;   // refused argument (packet, name)
inline constexpr int kErrParameterNotSet = 11;
inline constexpr int kErrInvalidOperation = 30;  // request out of place
inline constexpr int kErrVendor = 101;           // storage failure or injected fault
inline constexpr int kErrInvalidLength = 14;     // a block larger than the server's buffer
inline constexpr std::string_view kErrorClassName = "TDBXError";
// The error reply of an injected message fault, followed by the message's number.
inline constexpr std::u16string_view kInjectedFaultText = u"Falha injetada na mensagem ";

// Limits on what a peer announces. Nothing is allocated ahead of the bytes that carry it.
inline constexpr std::size_t kMaxStringBytes = 1 << 20;  // one JSON string in a request
inline constexpr std::size_t kMaxRowBytes = 16 << 20;    // one data block of a request
inline constexpr std::size_t kMaxConnectPairs = 1024;
inline constexpr std::size_t kMaxSkipDepth = 64;
inline constexpr std::size_t kMaxOpenCommands = 1024;
inline constexpr std::size_t kMaxStringValueBytes = 16 << 20;  // a text argument, all segments
inline constexpr std::size_t kMaxReplyField = 65535;           // a reply field travels inline
// The largest buffer a client's BufferKBSize makes the server keep per connection (16 MiB).
inline constexpr int kMaxBufferKBSize = 16 * 1024;
// Answers held for one send until the server next waits for its peer; more leave at once.
inline constexpr std::size_t kHeldReplyBytes = 64 * 1024;
// A data block opens with {"data":[, a count padded to 9 characters and a comma, and closes with
// ]}: 21 bytes of a buffer that are not data.
inline constexpr std::size_t kDataBlockFrameBytes = 21;
// Raw bytes a filter handshake may add before login, beyond the messages themselves.
inline constexpr std::size_t kLoginHandshakeAllowance = 16 * 1024;

// Binary data packet.
inline constexpr std::uint32_t kPacketSignature = 0xBDE01996;
inline constexpr std::uint32_t kTypeNome = 0x00490001;
inline constexpr std::uint32_t kTypeDataHora = 0x00080008;
inline constexpr std::uint32_t kTypeArquivo = 0x004B0004;
inline constexpr std::uint32_t kTypeWidth = 0x00020002;
inline constexpr std::uint32_t kTypeSubtype = 0x00490002;
inline constexpr std::uint32_t kTypeChangeLog = 0x00820004;
inline constexpr std::uint8_t kRowStatusNew = 4;
// Variant stream: byte-array marker, then the 8-byte element count.
inline constexpr std::uint8_t kVariantByteArray = 0x03;

}  // namespace ab::server
