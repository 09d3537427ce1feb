// The data packet as a byte array whose content stays where it lies until it is sent.
#include "app/DataPacketVariant.h"

#include "dbx/TDBXFileByteSource.h"
#include "dbx/TDBXStreamReader.h"
#include "packet/TClientDataSet.h"

namespace ab {
namespace {

// Counts the content bytes its inner reader hands out (the prefix is not content).
class TLeitorComProgresso : public TDBXStreamReader {
  public:
    TLeitorComProgresso(std::unique_ptr<TDBXStreamReader> inner, std::uint64_t prefixo,
                        const TProgressoDoEnvio& progresso)
        : inner_(std::move(inner)), prefixo_(prefixo), progresso_(progresso) {}

    std::size_t Read(std::span<std::uint8_t> dest) override {
        const std::size_t n = inner_->Read(dest);
        lidos_ += n;
        if (n > 0 && lidos_ > prefixo_)
            progresso_(lidos_ - prefixo_);
        return n;
    }
    bool IsEos() override { return inner_->IsEos(); }
    std::int64_t Size() const override { return inner_->Size(); }

  private:
    std::unique_ptr<TDBXStreamReader> inner_;
    std::uint64_t prefixo_;
    const TProgressoDoEnvio& progresso_;
    std::uint64_t lidos_ = 0;
};

class TFonteComProgresso : public TDBXByteSource {
  public:
    TFonteComProgresso(std::shared_ptr<const TDBXByteSource> inner, TProgressoDoEnvio progresso)
        : inner_(std::move(inner)), progresso_(std::move(progresso)) {}

    std::uint64_t Size() const override { return inner_->Size(); }
    std::unique_ptr<TDBXStreamReader> OpenReader(std::vector<std::uint8_t> prefix) const override {
        const std::uint64_t prefixo = prefix.size();
        return std::make_unique<TLeitorComProgresso>(inner_->OpenReader(std::move(prefix)), prefixo,
                                                     progresso_);
    }

  private:
    std::shared_ptr<const TDBXByteSource> inner_;
    TProgressoDoEnvio progresso_;
};

}  // namespace

TOleVariant DataPacketVariant(TClientDataSet& cdsSendFile, TProgressoDoEnvio progresso) {
    auto parts = cdsSendFile.DataParts();
    if (!parts.File)
        return TOleVariant::ByteArray(std::move(parts.Head), std::move(parts.Content));
    std::shared_ptr<const TDBXByteSource> fonte =
        std::make_shared<const TDBXFileByteSource>(std::move(parts.File));
    if (progresso)
        fonte = std::make_shared<const TFonteComProgresso>(std::move(fonte), std::move(progresso));
    return TOleVariant::ByteArray(std::move(parts.Head), std::move(fonte));
}

}  // namespace ab
