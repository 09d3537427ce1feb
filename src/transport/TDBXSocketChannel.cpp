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
    terminated_ = false;
    layer->SetPrazoDeLeituraTemporario(prazoDeLeituraTemporario_);
    layer->SetLimiteDeBanda(limiteDeBanda_);
    if (abortSignal_)
        abortHook_ = abortSignal_->Register([l = layer.get()] { l->Terminate(); });
    try {
        layer->Open(properties);
    } catch (...) {
        Unhook();
        throw;
    }
    layer_ = std::move(layer);
    info_ = std::make_unique<TDBXSocketChannelInfo>(0, layer_->Info());
}

void TDBXSocketChannel::Unhook() {
    if (abortSignal_ && abortHook_ != 0)
        abortSignal_->Unregister(abortHook_);
    abortHook_ = 0;
}

bool TDBXSocketChannel::IsConnectionLost() {
    return terminated_ || (layer_ && layer_->IsTerminated());
}

void TDBXSocketChannel::Close() {
    Unhook();
    if (layer_) {
        auto layer = std::move(layer_);
        layer->Close();
    }
    info_.reset();
    terminated_ = false;
}

void TDBXSocketChannel::SetPrazoDeLeituraTemporario(int milliseconds) {
    prazoDeLeituraTemporario_ = milliseconds > 0 ? milliseconds : 0;
    if (layer_)
        layer_->SetPrazoDeLeituraTemporario(prazoDeLeituraTemporario_);
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
    Unhook();
    info_.reset();
    terminated_ = true;
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
