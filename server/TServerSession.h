// One client connection of the update server: the filter query (when no filter channel answers
// it), login, the metadata query, preparing and executing the server methods with their segment
// pulls, closing commands and readers, and disconnect. Requests are answered strictly in turn.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "dbx/TDbxChannel.h"
#include "server/TReplyWriter.h"
#include "server/TRequestReader.h"
#include "server/TServerContext.h"
#include "server/TServerMethods.h"

namespace ab::server {

class TServerSession {
  public:
    // answerFilterQuery: the channel is the bare socket, so the session answers the five-byte
    // filter query itself (a filter channel answers it otherwise).
    TServerSession(TDbxChannel& channel, TServerContext& context, int connectionNumber,
                   bool answerFilterQuery);

    // Serves requests until the client disconnects or closes, or a request cannot be understood
    // (answered with an error reply first). Method failures are answered and serving goes on.
    void Run();

  private:
    struct Command {
        const TServerMethod* method = nullptr;
        std::int64_t blobCounter = 0;
    };

    void HandleRequest();
    void OnConnect();
    void OnPrepare();
    void OnExecute();
    void ReplyMetadata();
    void Execute(std::int64_t handle, Command& command, std::span<const std::uint8_t> row);
    // Asks for the value's further segments until the client marks the last one, handing each
    // piece to the sink. A sink's exception is raised after the block it refused was read.
    void PullSegments(std::int64_t handle, Command& command, std::size_t ordinal,
                      const std::function<void(std::span<const std::uint8_t>)>& sink,
                      bool dropOnPurpose);
    std::int64_t NewCommand(const TServerMethod* method);
    void EndParams();
    void SkipRestOfParams();
    void Log(const std::string& line);

    TReplyWriter writer_;
    TRequestReader reader_;
    TServerContext& context_;
    int number_;
    bool answerFilterQuery_;
    bool connected_ = false;
    bool ended_ = false;
    std::int32_t connectionHandle_ = -1;
    std::int64_t nextCommand_ = 1;
    std::int64_t nextRowHandle_ = 1;
    std::map<std::int64_t, Command> commands_;
};

}  // namespace ab::server
