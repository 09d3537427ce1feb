// The send-file record set's three persistent fields.
#include "packet/SendFileDataSet.h"

namespace ab {

TSendFileFields AddSendFileFields(TClientDataSet& dataSet) {
    auto& nome = dataSet.AddStringField(std::u16string(kFieldNome), kNomeSize);
    auto& dataHora = dataSet.AddDateTimeField(std::u16string(kFieldDataHora));
    auto& arquivo = dataSet.AddBlobField(std::u16string(kFieldArquivo));
    return {nome, dataHora, arquivo};
}

}  // namespace ab
