// One client connection of the update server: the filter query (when no filter channel answers
// it), login, the metadata query, preparing and executing the server methods with their segment
// pulls, closing commands and readers, and disconnect. Requests are answered strictly in turn.
//
// Each request object and each data block answering a segment pull is read whole, then counted
// as a message (TServerContext::CountMessage), and only then handled, so an injected message
// fault replaces the handling of a message the server has fully received. The connect message's
// BufferKBSize sizes the reader's and writer's buffers from then on.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dbx/TDbxChannel.h"
#include "server/TReplyWriter.h"
#include "server/TRequestReader.h"
#include "server/TServerContext.h"
#include "server/TServerMethods.h"
#include "server/TServerSocketChannel.h"

namespace ab::server {

class TServerSession {
  public:
    // answerFilterQuery: the channel is the bare socket, so the session answers the five-byte
    // filter query itself (a filter channel answers it otherwise). socket: the connection's socket
    // under the channel, which holds answers until it is read; it is flushed before the session
    // waits without reading (a test hook, or TServerOptions::stopReadingAtBlock, where its
    // descriptor is watched for the client's close). nullptr for a channel without one, which
    // then ends the session there instead.
    TServerSession(TDbxChannel& channel, TServerContext& context, int connectionNumber,
                   bool answerFilterQuery, TServerSocketChannel* socket = nullptr);

    // Serves requests until the client disconnects or closes, or a request cannot be understood
    // (answered with an error reply first). Method failures are answered and serving goes on.
    // Until its login is accepted the client may send TServerOptions::maxLoginBytes bytes at most.
    void Run();

    // Called once the credentials are accepted, before the reply; false ends the connection
    // instead (the server has given its place to another).
    void OnLogin(std::function<bool()> hook) { onLogin_ = std::move(hook); }

  private:
    struct Command {
        const TServerMethod* method = nullptr;
        std::int64_t blobCounter = 0;
    };
    // A request's parameters as read; which members are filled depends on the method.
    struct Request {
        std::vector<std::pair<std::u16string, std::u16string>> properties;  // connect
        std::int64_t handle = -1;       // execute, command_close
        bool unprepared = false;        // execute with a fields object
        std::u16string type, text;      // prepare, unprepared execute
        std::vector<std::uint8_t> row;  // execute
    };

    void HandleRequest();
    // Reads the rest of the request after "params":[ up to its closing brace.
    Request ReadParams(const std::string& method);
    void ReadConnectParams(Request& request);
    void ReadPrepareParams(Request& request);
    void ReadExecuteParams(Request& request);
    // Counts a fully read message and applies the message faults: a drop raises
    // EConnectionClosed, an error raises the error reply; otherwise it is logged. answered: the
    // server answers the message, so bytes behind it are requests ahead (the ahead faults).
    void TakeMessage(std::string_view what, bool answered);
    // Tells the socket whether the next message starts with a wait on the client (round trips).
    void AtMessageStart();
    // With TServerOptions::ignoreBufferKBSize, a data block of `count` bytes that does not fit the
    // 32 KB buffer ends the connection with an error reply.
    void CheckBlockFits(std::int64_t count);
    void OnConnect(const Request& request);
    void OnPrepare(const Request& request);
    void OnExecute(Request& request);
    void ReplyMetadata();
    void Execute(std::int64_t handle, Command& command, std::span<const std::uint8_t> row);
    // Asks for the value's further segments until the client marks the last one, handing each
    // piece to the sink. A sink's exception is raised after the block it refused was read.
    void PullSegments(std::int64_t handle, Command& command, std::size_t ordinal,
                      const std::function<void(std::span<const std::uint8_t>)>& sink,
                      bool dropOnPurpose);
    std::int64_t NewCommand(const TServerMethod* method);
    // Reads nothing more: waits until the client closes the connection or the server shuts it
    // down, then raises EConnectionClosed.
    [[noreturn]] void StopReading(const std::string& why);
    void EndParams();
    void SkipRestOfParams();
    void Log(const std::string& line);
    // Sends the answers the socket holds, before a wait that is not a read.
    void FlushHeld();

    TDbxChannel& channel_;  // read to the end when the session falls silent
    TReplyWriter writer_;
    TRequestReader reader_;
    TServerContext& context_;
    int number_;
    bool answerFilterQuery_;
    TServerSocketChannel* socket_;
    int sendFileBlocks_ = 0;  // segment blocks asked for in SendFile calls
    bool connected_ = false;
    bool ended_ = false;
    std::int32_t connectionHandle_ = -1;
    std::int64_t nextCommand_ = 1;
    std::int64_t nextRowHandle_ = 1;
    std::map<std::int64_t, Command> commands_;
    std::function<bool()> onLogin_;
};

}  // namespace ab::server
