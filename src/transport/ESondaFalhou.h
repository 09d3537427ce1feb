// An open that wrote requests ahead got no answer to them: the connection closed, a read failed or
// the probe deadline passed while their replies were owed. The link is already ended when it is
// raised. A server that cannot take requests ahead shows this way; the caller may open again with
// one request at a time. A server's error answer read in full is never this error.
#pragma once

#include <string>

#include "platform/Exception.h"

namespace ab {

class ESondaFalhou : public Exception {
  public:
    enum class TMotivo { PrazoEsgotado, ConexaoFechada, LeituraFalhou };

    ESondaFalhou(TMotivo motivo, std::u16string message, std::u16string erroOriginal)
        : Exception(std::move(message)), motivo_(motivo), erroOriginal_(std::move(erroOriginal)) {}
    TMotivo Motivo() const noexcept { return motivo_; }
    // The text of the error the failed read raised.
    const std::u16string& ErroOriginal() const noexcept { return erroOriginal_; }
    const char* ClassName() const noexcept override { return "ESondaFalhou"; }

  private:
    TMotivo motivo_;
    std::u16string erroOriginal_;
};

}  // namespace ab
