// A scripted server for connection and command tests: runs a list of steps on each accepted
// connection (read up to a marker, then send a reply) and records every byte the client sent
// until it closes the connection. The default handshake answers the filter query, the connect
// message and the metadata query.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "ScriptedPeer.h"

namespace ab::test {

struct Step {
    std::string until;   // read until the received text ends with this (empty: read 5 bytes)
    std::string reply;   // then send this
    bool close = false;  // then close the connection
};

inline const std::string kNoFilter("\x06\x00\x00\x00\x00", 5);
inline const std::string kQuery("\x05\x05\x05\x05\x05", 5);

// The metadata answer: handle 3, row handle 5, six columns, one row (quote char ", max commands
// 5, row-set sizes supported).
inline std::string MetadataReply() {
    return std::string(
               R"({"result":[{"handle":[3]},{"table":[{"fields":[3,false,5,1,false]},{"columns":[6,)"
               R"(["QuoteChar",26,0,1,0,4,0],["ProcedureQuoteChar",26,0,1,0,4,0],)"
               R"(["MaxCommands",6,0,0,0,4,0],["SupportsTransactions",4,0,0,0,2,0],)"
               R"(["SupportsNestedTransactions",4,0,0,0,2,0],["SupportsRowSetSize",4,0,0,0,2,0]]}]}]})") +
           std::string("{\"data\":[-9,\x21\x22\x21\x22\x61\x05\x20\x20\x60]}", 23);
}
inline const std::string kMetadataRequest =
    R"({"method":"execute","params":[{"fields":[-1,false,"Dbx.MetaData","GetDatabase"]}]})";
inline const std::string kMetadataClose =
    R"({"method":"reader_close","params":[5,3]}{"method":"command_close","params":[3]})";

inline std::vector<Step> Handshake(const std::string& connectReply = R"({"result":[7,"Server"]})") {
    return {{"", kNoFilter}, {"}]}", connectReply}, {"]}]}", MetadataReply()}};
}

class ScriptedServer {
  public:
    // scripts[i] runs on the i-th connection (the last one repeats).
    explicit ScriptedServer(std::vector<std::vector<Step>> scripts)
        : scripts_(std::move(scripts)), peer_([this](PeerConnection& c, int i) { Run(c, i); }) {}

    int Port() const { return peer_.Port(); }
    // What the client sent on connection i, once it closed (waits up to 10 s).
    std::string Received(int i) {
        std::unique_lock lock(mutex_);
        done_.wait_for(lock, std::chrono::seconds(10),
                       [&] { return static_cast<int>(logs_.size()) > i && finished_[i]; });
        return static_cast<int>(logs_.size()) > i ? logs_[i] : std::string();
    }
    int Connections() const { return peer_.Accepted(); }

  private:
    void Run(PeerConnection& c, int i) {
        {
            std::lock_guard lock(mutex_);
            if (static_cast<int>(logs_.size()) <= i) {
                logs_.resize(i + 1);
                finished_.resize(i + 1);
            }
        }
        const auto& steps = scripts_[std::min<std::size_t>(i, scripts_.size() - 1)];
        std::string log;
        bool open = true;
        for (const auto& step : steps) {
            const std::string got = step.until.empty() ? c.Receive(5) : c.ReceiveUntil(step.until);
            log += got;
            if (!step.reply.empty())
                c.Send(step.reply);
            if (step.close) {
                c.Close();
                open = false;
                break;
            }
        }
        if (open)
            log += c.ReceiveAll(10000);
        std::lock_guard lock(mutex_);
        logs_[i] = log;
        finished_[i] = true;
        done_.notify_all();
    }

    std::vector<std::vector<Step>> scripts_;
    std::mutex mutex_;
    std::condition_variable done_;
    std::vector<std::string> logs_;
    std::vector<bool> finished_;
    ScriptedPeer peer_;
};

}  // namespace ab::test
