// The socket channel over a registered communication layer.
#include "transport/TDBXSocketChannel.h"

#include "dbx/TDBXError.h"
#include "platform/Text.h"
#include "transport/TDBXCommunicationLayerFactory.h"
#include "transport/TDBXProperties.h"
#include "transport/TransportConstants.h"

namespace ab {
namespace C = TransportConstants;

TDBXSocketChannel::~TDBXSocketChannel() {
    try {
        Close();
    } catch (...) {
    }
}

void TDBXSocketChannel::Open() {
    Close();
    static const TDBXProperties kEmpty;
    const TDBXProperties& properties = properties_ ? *properties_ : kEmpty;
    std::u16string protocol = properties.GetValue(C::CommunicationProtocol);
    if (protocol.empty())
        protocol = C::TcpLayerName;
    auto layer = TDBXCommunicationLayerFactory::Instance().CreateInstance(protocol);
    if (!layer) {
        throw TDBXError(TDBXErrorCodes::None,
                        Format(C::ErrUnknownProtocol, {protocol, C::CommunicationLayerClass,
                                                       C::CommunicationLayerFactoryClass}));
    }
    layer->Open(properties);
    layer_ = std::move(layer);
    info_ = std::make_unique<TDBXSocketChannelInfo>(0, layer_->Info());
}

void TDBXSocketChannel::Close() {
    if (layer_) {
        auto layer = std::move(layer_);
        layer->Close();
    }
    info_.reset();
}

int TDBXSocketChannel::Read(std::span<std::uint8_t> dest) {
    return layer_ ? layer_->Read(dest) : -1;
}

int TDBXSocketChannel::Write(std::span<const std::uint8_t> src) {
    return layer_ ? layer_->Write(src) : -1;
}

int TDBXSocketChannel::WriteParts(std::span<const std::span<const std::uint8_t>> parts) {
    return layer_ ? layer_->WriteParts(parts) : -1;
}

void TDBXSocketChannel::Terminate() {
    info_.reset();
    try {
        if (layer_) {
            layer_->Terminate();
            layer_.reset();
        }
    } catch (...) {
        layer_.reset();
    }
}

}  // namespace ab
