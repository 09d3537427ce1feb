// One client connection of the update server (see the header).
#include "server/TServerSession.h"

#include <openssl/evp.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <exception>
#include <functional>
#include <limits>
#include <thread>

#include "platform/Convert.h"
#include "platform/Text.h"
#include "server/ServerConstants.h"
#include "server/TDataPacketDecoder.h"
#include "server/TParameterRow.h"
#include "server/TSendFileReceiver.h"

namespace ab::server {

namespace {

// A request that is answered with an error reply; the connection goes on.
class EMethodError : public Exception {
  public:
    EMethodError(int code, std::u16string message) : Exception(std::move(message)), code_(code) {}
    int Code() const { return code_; }

  private:
    int code_;
};

// A data block larger than the buffer the server keeps: refused, and the connection ends.
class EBlockTooLarge : public EProtocolError {
  public:
    using EProtocolError::EProtocolError;
};

// The 32 KB buffers of a server that ignores BufferKBSize, and the most data a block in one holds.
constexpr std::size_t kFixedBufferBytes = std::size_t{kDefaultBufferKBSize} * 1024;
constexpr std::size_t kFixedBufferBlockBytes = kFixedBufferBytes - kDataBlockFrameBytes;

std::optional<std::string> Base64Decode(std::u16string_view text) {
    std::string ascii;
    for (const char16_t ch : text) {
        if (ch > 127)
            return std::nullopt;
        ascii += static_cast<char>(ch);
    }
    if (ascii.size() % 4 != 0)
        return std::nullopt;
    if (ascii.empty())
        return std::string();
    std::string out(ascii.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(ascii.data()),
                                  static_cast<int>(ascii.size()));
    if (n < 0)
        return std::nullopt;
    std::size_t padding = 0;
    if (ascii.ends_with("=="))
        padding = 2;
    else if (ascii.ends_with("="))
        padding = 1;
    out.resize(static_cast<std::size_t>(n) - padding);
    return out;
}

std::string NowStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d%H%M%S", &tm);
    return buf;
}

bool EndsWithNoCase(std::u16string_view text, std::u16string_view suffix) {
    return text.size() >= suffix.size() &&
           AsciiUpper(text.substr(text.size() - suffix.size())) == AsciiUpper(suffix);
}

std::u16string PropertyValue(const std::vector<std::pair<std::u16string, std::u16string>>& props,
                             std::u16string_view name) {
    const std::u16string wanted = AsciiUpper(name);
    for (const auto& [k, v] : props)
        if (AsciiUpper(k) == wanted)
            return v;
    return {};
}

// The client's BufferKBSize in bytes, read as the client reads it; not a number or not above 0
// gives the default, more than the server keeps is clamped.
std::size_t BufferBytes(std::u16string_view kbText) {
    int kb = kDefaultBufferKBSize;
    if (const auto parsed = TryStrToInt64(kbText); parsed && *parsed > 0)
        kb = static_cast<int>(std::min<std::int64_t>(*parsed, kMaxBufferKBSize));
    return static_cast<std::size_t>(kb) * 1024;
}

}  // namespace

TServerSession::TServerSession(TDbxChannel& channel, TServerContext& context, int connectionNumber,
                               bool answerFilterQuery, TServerSocketChannel* socket)
    : channel_(channel),
      writer_(channel),
      reader_(channel),
      context_(context),
      number_(connectionNumber),
      answerFilterQuery_(answerFilterQuery),
      socket_(socket) {}

void TServerSession::Log(const std::string& line) {
    context_.Log("conexao " + std::to_string(number_) + ": " + line);
}

void TServerSession::FlushHeld() {
    // A failure shows at the next read.
    if (socket_)
        socket_->Flush();
}

void TServerSession::Run() {
    if (const std::size_t limit = context_.options.maxLoginBytes; limit > 0)
        reader_.SetLimit(limit,
                         u"More than " + FromUtf8(std::to_string(limit)) + u" bytes before login");
    try {
        if (answerFilterQuery_) {
            std::vector<std::uint8_t> first;
            reader_.ReadRaw(5, first);
            if (std::equal(first.begin(), first.end(), std::begin(kFilterQuery)))
                writer_.Bytes(kNoFilterAnswer).Flush();
            else
                reader_.Unread(first);
        }
        for (;;) {
            AtMessageStart();
            if (ended_ || !reader_.WaitForMessage())
                break;
            HandleRequest();
        }
    } catch (const EConnectionClosed& e) {
        Log(e.what());
    } catch (const EProtocolError& e) {
        Log(std::string("protocol error: ") + e.what());
        const bool tooLarge = dynamic_cast<const EBlockTooLarge*>(&e) != nullptr;
        try {
            writer_.Error(kErrorClassName, tooLarge ? kErrInvalidLength : kErrInvalidOperation,
                          e.Message());
        } catch (const Exception&) {
        }
    }
}

void TServerSession::EndParams() {
    reader_.Expect(']');
    reader_.Expect('}');
}

void TServerSession::SkipRestOfParams() {
    if (!reader_.Accept(']')) {
        do {
            reader_.SkipValue();
        } while (reader_.Accept(','));
        reader_.Expect(']');
    }
    reader_.Expect('}');
}

void TServerSession::HandleRequest() {
    reader_.Expect('{');
    if (reader_.ReadKey() != u"method")
        throw EProtocolError(u"A request starts with \"method\"");
    const std::string name = ToUtf8(reader_.ReadString());
    reader_.Expect(',');
    if (reader_.ReadKey() != u"params")
        throw EProtocolError(u"Expected \"params\"");
    reader_.Expect('[');
    Request request = ReadParams(name);

    try {
        TakeMessage(name, name != kMethodCommandClose && name != kMethodReaderClose &&
                              name != kMethodDisconnect);
        if (name == kMethodConnect)
            return OnConnect(request);
        if (!connected_)
            throw EProtocolError(u"The connect message must come first");
        if (name == kMethodDisconnect) {
            Log("disconnect");
            ended_ = true;
        } else if (name == kMethodPrepare) {
            OnPrepare(request);
        } else if (name == kMethodExecute) {
            OnExecute(request);
        } else if (name == kMethodCommandClose) {
            commands_.erase(request.handle);
        } else if (name == kMethodReaderClose) {
        } else if (name == kMethodVendorProperty) {
            writer_.Raw("{\"result\":[\"\"]}").Flush();
        } else if (name == kMethodNextResult) {
            writer_.Raw("{\"result\":[false,-1,false,-1]}").Flush();
        } else {
            throw EMethodError(kErrInvalidReference, u"Unknown request: " + FromUtf8(name));
        }
    } catch (const EMethodError& e) {
        Log(std::string("error reply: ") + e.what());
        writer_.Error(kErrorClassName, e.Code(), e.Message());
    }
}

TServerSession::Request TServerSession::ReadParams(const std::string& method) {
    Request request;
    if (method == kMethodConnect) {
        ReadConnectParams(request);
    } else if (method == kMethodPrepare) {
        ReadPrepareParams(request);
    } else if (method == kMethodExecute) {
        ReadExecuteParams(request);
    } else if (method == kMethodCommandClose) {
        request.handle = reader_.ReadInt();
        EndParams();
    } else if (method == kMethodVendorProperty) {
        reader_.ReadString();
        EndParams();
    } else {
        SkipRestOfParams();
    }
    return request;
}

void TServerSession::AtMessageStart() {
    // Bytes already at hand mean the client wrote this message before the last answers left.
    if (socket_)
        socket_->SetBetweenMessages(reader_.Buffered() == 0);
}

void TServerSession::CheckBlockFits(std::int64_t count) {
    const std::uint64_t size =
        count < 0 ? 0 - static_cast<std::uint64_t>(count) : static_cast<std::uint64_t>(count);
    if (context_.options.ignoreBufferKBSize && size > kFixedBufferBlockBytes)
        throw EBlockTooLarge(u"Data block of " + FromUtf8(std::to_string(size)) +
                             u" bytes does not fit the " +
                             FromUtf8(std::to_string(kFixedBufferBytes)) + u"-byte buffer");
}

void TServerSession::TakeMessage(std::string_view what, bool answered) {
    const auto [number, fault] = context_.CountMessage();
    if (socket_) {
        socket_->Record().AddMessage();
        socket_->SetBetweenMessages(false);
    }
    const std::string prefix = "mensagem " + std::to_string(number) + ": " + std::string(what);
    switch (fault) {
        case TMessageFault::None:
            Log(prefix);
            break;
        case TMessageFault::Drop:
            throw EConnectionClosed(FromUtf8(prefix + ", connection dropped (fault)"));
        case TMessageFault::Silence: {
            // A server that hangs: it takes what comes and answers nothing until the client goes,
            // with no deadline of its own.
            Log(prefix + ", silent from here (fault)");
            if (socket_)
                socket_->ClearLimits();
            std::vector<std::uint8_t> buffer(65536);
            while (channel_.Read(buffer) > 0) {
            }
            throw EConnectionClosed(FromUtf8(prefix + ", silent until the client closed"));
        }
        case TMessageFault::Error:
            Log(prefix + ", answered with an error (fault)");
            throw EMethodError(
                kErrVendor, std::u16string(kInjectedFaultText) + FromUtf8(std::to_string(number)));
    }
    if (!answered)
        return;
    const auto& o = context_.options;
    if (o.closeOnRequestsAhead && (reader_.Buffered() > 0 || (socket_ && socket_->HasUnread())))
        throw EConnectionClosed(FromUtf8(prefix + ": pedido adiante, conexao fechada (falha)"));
    if (o.dropRequestsAhead) {
        if (const std::size_t dropped = reader_.DiscardBuffered(); dropped > 0)
            Log(prefix + ": " + std::to_string(dropped) + " bytes adiante descartados (falha)");
    }
}

void TServerSession::ReadConnectParams(Request& request) {
    auto& props = request.properties;
    reader_.Expect('{');
    if (!reader_.Accept('}')) {
        do {
            if (props.size() >= kMaxConnectPairs)
                throw EProtocolError(u"Too many properties");
            std::u16string key = reader_.ReadKey();
            props.emplace_back(std::move(key), reader_.ReadString());
        } while (reader_.Accept(','));
        reader_.Expect('}');
    }
    EndParams();
}

void TServerSession::OnConnect(const Request& request) {
    const auto& props = request.properties;
    if (connected_)
        throw EMethodError(kErrInvalidOperation, u"Already connected");

    const auto& o = context_.options;
    const std::u16string user = o.user.empty() ? DefaultUser() : o.user;
    const std::u16string password = o.password.empty() ? DefaultPassword() : o.password;
    const bool credenciais =
        PropertyValue(props, kPropUser) == user &&
        AsciiUpper(PropertyValue(props, kPropPassword)) == AsciiUpper(password);
    if (o.refuseLogin || !credenciais ||
        (o.refuseLoginAfter > 0 && context_.logins.fetch_add(1) >= o.refuseLoginAfter)) {
        Log("login refused for " + ToUtf8(PropertyValue(props, kPropUser)));
        writer_.Error(kErrorClassName, kErrInvalidUser, u"Invalid username or password");
        ended_ = true;
        return;
    }
    if (onLogin_ && !onLogin_())
        throw EConnectionClosed(u"closed to make room before its login");
    connected_ = true;
    reader_.SetLimit(0, {});
    // The client reads and writes through buffers of this size; the server's follow them, unless
    // it plays a server that keeps its own.
    const std::size_t bufferBytes = o.ignoreBufferKBSize
                                        ? kFixedBufferBytes
                                        : BufferBytes(PropertyValue(props, kPropBufferKBSize));
    reader_.SetBufferSize(bufferBytes);
    writer_.SetBufferSize(bufferBytes);
    connectionHandle_ = context_.nextConnectionHandle.fetch_add(1);
    writer_.Raw("{\"result\":[").Int(connectionHandle_).Raw(",").String(o.productName);
    if (o.protocolVersion >= 0)
        writer_.Raw(",").Int(o.protocolVersion);
    writer_.Raw("]}").Flush();
    Log("connected, handle " + std::to_string(connectionHandle_) + ", buffers of " +
        std::to_string(bufferBytes) + " bytes");
}

std::int64_t TServerSession::NewCommand(const TServerMethod* method) {
    if (commands_.size() >= kMaxOpenCommands)
        throw EMethodError(kErrInvalidOperation, u"Too many open commands");
    const std::int64_t handle = nextCommand_++;
    commands_[handle].method = method;
    return handle;
}

void TServerSession::ReadPrepareParams(Request& request) {
    reader_.ReadInt();
    reader_.Expect(',');
    reader_.ReadBool();
    reader_.Expect(',');
    request.type = reader_.ReadString();
    reader_.Expect(',');
    request.text = reader_.ReadString();
    if (reader_.Accept(','))
        reader_.SkipValue();
    EndParams();
}

void TServerSession::OnPrepare(const Request& request) {
    const std::u16string& type = request.type;
    const std::u16string& text = request.text;
    if (type != kServerMethodType)
        throw EMethodError(kErrInvalidReference, u"Unsupported command type: " + type);
    const bool parent = context_.options.kind == TServerKind::Pai;
    const TServerMethod* method = TServerMethods::Find(text, parent);
    if (!method)
        throw EMethodError(kErrInvalidReference, u"Server method not found: " + text);
    const std::int64_t handle = NewCommand(method);

    writer_.Raw("{\"result\":[{\"handle\":[").Int(handle).Raw("]},{\"parameters\":[");
    writer_.Int(static_cast<std::int64_t>(method->parameters.size()));
    for (const auto& p : method->parameters) {
        writer_.Raw(",[").Int(p.dataType).Raw(",0,").Int(p.direction).Raw(",").Int(p.precision);
        writer_.Raw(",0,").String(p.name).Raw(",0,0,0]");
    }
    writer_.Raw("]}]}").Flush();
}

void TServerSession::ReadExecuteParams(Request& request) {
    reader_.Expect('{');
    const std::u16string first = reader_.ReadKey();
    reader_.Expect('[');
    request.handle = reader_.ReadInt();
    if (first == u"fields") {
        request.unprepared = true;
        reader_.Expect(',');
        reader_.ReadBool();
        reader_.Expect(',');
        request.type = reader_.ReadString();
        reader_.Expect(',');
        request.text = reader_.ReadString();
    } else if (first != u"handle") {
        throw EProtocolError(u"An execute starts with a handle or fields object");
    }
    reader_.Expect(']');
    reader_.Expect('}');

    while (reader_.Accept(',')) {
        reader_.Expect('{');
        if (reader_.ReadKey() == u"data") {
            reader_.Expect('[');
            const std::int64_t count = reader_.ReadInt();
            if (count < 0 || static_cast<std::uint64_t>(count) > kMaxRowBytes)
                throw EProtocolError(u"Parameter row length out of bounds");
            CheckBlockFits(count);
            reader_.Expect(',');
            request.row.clear();
            reader_.ReadRaw(static_cast<std::size_t>(count), request.row);
            reader_.Expect(']');
        } else {
            reader_.SkipValue();
        }
        reader_.Expect('}');
    }
    EndParams();
}

void TServerSession::OnExecute(Request& request) {
    std::int64_t handle = request.handle;
    if (request.unprepared) {
        const std::u16string& type = request.type;
        const std::u16string& text = request.text;
        if (type == kMetaDataType && text == kGetDatabase)
            return ReplyMetadata();
        if (type != kServerMethodType)
            throw EMethodError(kErrInvalidReference, u"Unsupported command type: " + type);
        const TServerMethod* method =
            TServerMethods::Find(text, context_.options.kind == TServerKind::Pai);
        if (!method)
            throw EMethodError(kErrInvalidReference, u"Server method not found: " + text);
        handle = NewCommand(method);
    }
    const auto it = commands_.find(handle);
    if (it == commands_.end())
        throw EMethodError(kErrInvalidReference,
                           u"Unknown command handle " + FromUtf8(std::to_string(handle)));
    Execute(handle, it->second, request.row);
}

void TServerSession::ReplyMetadata() {
    struct Column {
        std::u16string_view name;
        int type;
    };
    static constexpr Column kColumns[] = {
        {u"QuoteChar", kTypeWideString},
        {u"ProcedureQuoteChar", kTypeWideString},
        {u"MaxCommands", kTypeInt32},
        {u"SupportsTransactions", kTypeBool},
        {u"SupportsNestedTransactions", kTypeBool},
        {u"SupportsRowSetSize", kTypeBool},
        {u"QuotePrefix", kTypeWideString},
        {u"QuoteSuffix", kTypeWideString},
        {u"SupportsLowerCaseIdentifiers", kTypeBool},
        {u"SupportsUpperCaseIdentifiers", kTypeBool},
        {u"SupportsSPReturnCode", kTypeBool},
        {u"SupportsParameterMetadata", kTypeBool},
        {u"SupportsCatalogFunctions", kTypeBool},
        {u"SupportsCatalogs", kTypeBool},
        {u"SupportsSchemas", kTypeBool},
    };
    const std::int64_t handle = NewCommand(nullptr);
    const std::int64_t rowHandle = nextRowHandle_++;
    writer_.Raw("{\"result\":[{\"handle\":[").Int(handle).Raw("]},{\"table\":[{\"fields\":[");
    writer_.Int(handle).Raw(",false,").Int(rowHandle).Raw(",1,false]},{\"columns\":[");
    writer_.Int(std::size(kColumns));
    std::vector<std::uint8_t> row;
    for (const auto& c : kColumns) {
        const bool text = c.type == kTypeWideString;
        writer_.Raw(",[").String(c.name).Raw(",").Int(c.type).Raw(",0,");
        writer_.Int(text ? 1 : c.type == kTypeInt32 ? 10 : 1).Raw(",0,");
        writer_.Int(text ? 4 : c.type == kTypeInt32 ? 4 : 2).Raw(",0]");
        if (text)
            TParameterRow::AppendString(row, u"\"");
        else if (c.type == kTypeInt32)
            TParameterRow::AppendInt32(row, 0);
        else
            TParameterRow::AppendBool(row, c.name == u"SupportsParameterMetadata");
    }
    writer_.Raw("]}]}]}");
    // The table's only rows block, marked last by its negative count.
    writer_.DataObject(-static_cast<std::int64_t>(row.size()), row).Flush();
    Log("metadata");
}

void TServerSession::PullSegments(std::int64_t handle, Command& command, std::size_t ordinal,
                                  const std::function<void(std::span<const std::uint8_t>)>& sink,
                                  bool dropOnPurpose) {
    const std::int64_t blob = ++command.blobCounter;
    for (int request = 1;; ++request) {
        if (context_.options.beforeSegmentRequest) {
            FlushHeld();
            context_.options.beforeSegmentRequest(request);
        }
        if (context_.options.pauseBeforeBlockMs > 0) {
            FlushHeld();
            std::this_thread::sleep_for(
                std::chrono::milliseconds(context_.options.pauseBeforeBlockMs));
        }
        writer_.Raw("{\"more_blob\":[").Int(handle).Raw(",").Int(blob).Raw(",0,");
        writer_.Int(static_cast<std::int64_t>(ordinal)).Raw(",0]}").Flush();
        AtMessageStart();
        if (command.method && command.method->id == TServerMethodId::SendFile &&
            ++sendFileBlocks_ == context_.options.stopReadingAtBlock)
            StopReading("asked for SendFile block " + std::to_string(sendFileBlocks_));
        reader_.Expect('{');
        if (reader_.ReadKey() != u"data")
            throw EProtocolError(u"Expected a data block");
        reader_.Expect('[');
        const std::int64_t count = reader_.ReadInt();
        if (dropOnPurpose)
            throw EConnectionClosed(u"connection dropped in a segment (fault)");
        CheckBlockFits(count);
        reader_.Expect(',');
        // The block is taken off the wire as the read buffer holds it, whatever its length; once
        // the sink refuses, the rest of the block is read and dropped so the connection stays in
        // step, and the refusal is raised.
        std::exception_ptr refused;
        for (std::uint64_t left = static_cast<std::uint64_t>(count < 0 ? -count : count);
             left > 0;) {
            const auto piece = reader_.ReadSome(static_cast<std::size_t>(
                std::min<std::uint64_t>(left, std::numeric_limits<std::size_t>::max())));
            left -= piece.size();
            if (refused)
                continue;
            try {
                sink(piece);
            } catch (...) {
                refused = std::current_exception();
            }
        }
        reader_.Expect(']');
        reader_.Expect('}');
        TakeMessage("data block", true);
        if (refused)
            std::rethrow_exception(refused);
        if (count <= 0)
            return;
    }
}

void TServerSession::StopReading(const std::string& why) {
    Log(why + ", reading nothing more (fault)");
    if (!socket_)
        throw EConnectionClosed(FromUtf8(why + ", no socket to keep open"));
    // The request for the block leaves before the wait.
    FlushHeld();
    // No deadline of its own: the client closing or the server's Stop (which shuts the socket
    // down) ends it, and nothing else should.
    for (;;) {
        pollfd p{socket_->Fd(), POLLRDHUP, 0};
        const int ready = ::poll(&p, 1, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0)
            break;
    }
    throw EConnectionClosed(FromUtf8(why + ", the connection ended unread"));
}

void TServerSession::Execute(std::int64_t handle, Command& command,
                             std::span<const std::uint8_t> row) {
    if (!command.method)
        throw EMethodError(kErrInvalidOperation, u"Command is not a method");
    const TServerMethod& method = *command.method;
    const auto& params = method.parameters;
    auto fields = TParameterRow::Split(row);
    if (fields && fields->empty())
        fields->resize(params.size(), TRowField{0xC0, true, false, false, {}});
    if (!fields || fields->size() != params.size())
        throw EMethodError(kErrInvalidParameter,
                           u"Parameter row does not match " + std::u16string(method.name));

    const bool isSendFile = method.id == TServerMethodId::SendFile;
    const int call = isSendFile ? context_.sendFileCalls.fetch_add(1) + 1 : 0;
    const auto& o = context_.options;
    if (isSendFile && o.beforeSendFile) {
        FlushHeld();
        o.beforeSendFile(call);
    }
    std::vector<std::uint8_t> reply;
    try {
        // Input values: texts are collected (bounded), the packet goes straight to the store.
        std::vector<std::vector<std::uint8_t>> values(params.size());
        std::vector<bool> truths(params.size(), false), nulls(params.size(), true);
        std::unique_ptr<TSendFileReceiver> receiver;
        std::vector<std::function<void(std::span<const std::uint8_t>)>> sinks(params.size());
        for (std::size_t i = 0; i < params.size(); ++i) {
            const TRowField& f = (*fields)[i];
            const TServerParameter& p = params[i];
            if (p.direction == kDirReturn || f.isNull)
                continue;
            nulls[i] = false;
            if (p.dataType == kTypeBool) {
                if ((f.header & 0x20) == 0 || !f.payload.empty())
                    throw EMethodError(
                        kErrInvalidParameter,
                        u"Parameter " + std::u16string(p.name) + u" is not a boolean");
                truths[i] = f.truth;
                continue;
            }
            if ((f.header & 0x40) != 0 && !f.firstSegment)
                throw EMethodError(kErrInvalidParameter, u"Parameter " + std::u16string(p.name) +
                                                             u" has an unexpected field");
            if (p.dataType == kTypeVariant) {
                receiver = std::make_unique<TSendFileReceiver>(context_.store, o.maxValueBytes);
                sinks[i] = [&r = *receiver](std::span<const std::uint8_t> b) { r.Append(b); };
            } else {
                sinks[i] = [&v = values[i]](std::span<const std::uint8_t> b) {
                    if (v.size() + b.size() > kMaxStringValueBytes)
                        throw EValueTooLarge(u"Text value too large");
                    v.insert(v.end(), b.begin(), b.end());
                };
            }
        }
        for (std::size_t i = 0; i < params.size(); ++i) {
            if (!sinks[i])
                continue;
            const TRowField& f = (*fields)[i];
            sinks[i](f.payload);
            if (!f.firstSegment)
                continue;
            const bool drop = isSendFile && context_.pulls.fetch_add(1) < o.dropInPullFirst;
            PullSegments(handle, command, i, sinks[i], drop);
        }
        auto text = [&](std::size_t i) {
            auto decoded = TParameterRow::DecodeString(values[i]);
            if (!decoded)
                throw EMethodError(
                    kErrInvalidParameter,
                    u"Parameter " + std::u16string(params[i].name) + u" is not text");
            return *decoded;
        };
        auto replyString = [&](std::u16string_view s) {
            if (!TParameterRow::AppendString(reply, s))
                throw EMethodError(kErrInvalidParameter, u"Result too long");
        };

        switch (method.id) {
            case TServerMethodId::PropertsFile: {
                const auto bytes = Base64Decode(text(0));
                if (!bytes)
                    throw EMethodError(kErrInvalidParameter, u"Arquivo is not Base64");
                std::u16string name = FromLatin1(*bytes);
                if (o.kind == TServerKind::Cliente && EndsWithNoCase(name, kClientSuffix))
                    name.resize(name.size() - kClientSuffix.size());
                const auto stamp = context_.store.StampOf(name);
                TParameterRow::AppendNull(reply);
                replyString(stamp ? FromUtf8(*stamp + ";") : u"");
                Log("PropertsFile " + ToUtf8(name) + " -> " + (stamp ? *stamp : "(none)"));
                break;
            }
            case TServerMethodId::SendFile: {
                if (!receiver)
                    throw EMethodError(kErrInvalidParameter, u"Dados is null");
                bool stored = false;
                if (call <= o.sendFileErrorFirst)
                    throw EMethodError(kErrVendor, u"SendFile failed (fault injection)");
                if (call <= o.sendFileErrorFirst + o.sendFileFalseFirst) {
                    Log("SendFile answers false (fault injection)");
                } else {
                    stored = receiver->Finish(truths[1]);
                    const TPacketHead& head = *receiver->Head();
                    Log("SendFile " + ToUtf8(head.name) + " (" +
                        std::to_string(head.contentLength) + " bytes)" +
                        (stored ? " stored" : " kept the newer copy"));
                }
                TParameterRow::AppendNull(reply);
                TParameterRow::AppendNull(reply);
                TParameterRow::AppendBool(reply, stored);
                break;
            }
            case TServerMethodId::RemoveFile: {
                const std::u16string name = text(0);
                const bool removed = context_.store.Remove(name);
                Log("RemoveFile " + ToUtf8(name) + (removed ? " removed" : " (none)"));
                TParameterRow::AppendNull(reply);
                TParameterRow::AppendBool(reply, removed);
                break;
            }
            case TServerMethodId::AlertarZvClientes: {
                const std::u16string alert = text(0);
                context_.store.AppendAlert(alert);
                Log("AlertarZvClientes " + ToUtf8(alert));
                TParameterRow::AppendNull(reply);
                TParameterRow::AppendBool(reply, true);
                break;
            }
            case TServerMethodId::DataHoraBrevant:
                replyString(FromUtf8(NowStamp()));
                break;
            case TServerMethodId::EchoString:
                TParameterRow::AppendNull(reply);
                replyString(text(0));
                break;
        }
    } catch (const EStoreRefused& e) {
        throw EMethodError(kErrInvalidParameter, e.Message());
    } catch (const EPacketError& e) {
        throw EMethodError(kErrInvalidParameter, e.Message());
    } catch (const EValueTooLarge& e) {
        throw EMethodError(kErrInvalidParameter, e.Message());
    } catch (const EStoreFailure& e) {
        throw EMethodError(kErrVendor, e.Message());
    }
    writer_.Raw("{\"result\":[");
    writer_.DataObject(static_cast<std::int64_t>(reply.size()), reply).Raw("]}").Flush();
}

}  // namespace ab::server
