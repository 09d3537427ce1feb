// The filter query counted as a message (see the header).
#include "server/TQueryCountingChannel.h"

#include <algorithm>
#include <cstring>

#include "platform/Text.h"
#include "server/ServerConstants.h"
#include "server/TReplyWriter.h"
#include "server/TRequestReader.h"

namespace ab::server {

TQueryCountingChannel::TQueryCountingChannel(TServerSocketChannel& inner, TServerContext& context,
                                             int connectionNumber)
    : inner_(inner), context_(context), number_(connectionNumber) {}

bool TQueryCountingChannel::TakeFirst() {
    std::uint8_t head[sizeof kFilterQuery];
    std::size_t got = 0;
    while (got < sizeof head) {
        const int n = inner_.Read(std::span(head + got, sizeof head - got));
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    first_.assign(head, head + got);
    if (got < sizeof head || std::memcmp(head, kFilterQuery, sizeof head) != 0)
        return true;

    const auto [message, fault] = context_.CountMessage();
    inner_.Record().AddMessage();
    const std::string prefix =
        "conexao " + std::to_string(number_) + ": mensagem " + std::to_string(message) + ": ";
    switch (fault) {
        case TMessageFault::None:
            context_.Log(prefix + "filter query");
            return true;
        case TMessageFault::Drop:
            context_.Log(prefix + "filter query, connection dropped (fault)");
            return false;
        case TMessageFault::Error:
            context_.Log(prefix + "filter query, error reply (fault)");
            try {
                TReplyWriter(inner_).Error(
                    kErrorClassName, kErrVendor,
                    std::u16string(kInjectedFaultText) + FromUtf8(std::to_string(message)));
            } catch (const EConnectionClosed&) {
            }
            return false;
        case TMessageFault::Silence: {
            context_.Log(prefix + "filter query, silent from here (fault)");
            inner_.ClearLimits();
            std::uint8_t rest[4096];
            while (inner_.Read(rest) > 0) {
            }
            return false;
        }
    }
    return true;
}

int TQueryCountingChannel::Read(std::span<std::uint8_t> dest) {
    if (!checked_) {
        checked_ = true;
        ended_ = !TakeFirst();
    }
    if (ended_)
        return -1;
    if (handedOut_ < first_.size()) {
        const std::size_t n = std::min(dest.size(), first_.size() - handedOut_);
        std::memcpy(dest.data(), first_.data() + handedOut_, n);
        handedOut_ += n;
        return static_cast<int>(n);
    }
    return inner_.Read(dest);
}

int TQueryCountingChannel::Write(std::span<const std::uint8_t> src) {
    return ended_ ? -1 : inner_.Write(src);
}

int TQueryCountingChannel::WriteParts(std::span<const std::span<const std::uint8_t>> parts) {
    return ended_ ? -1 : inner_.WriteParts(parts);
}

}  // namespace ab::server
