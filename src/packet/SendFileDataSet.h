// The send-file record set's columns: Nome (200 characters), DataHora, Arquivo (binary blob).
#pragma once

#include <string_view>

#include "packet/TClientDataSet.h"

namespace ab {

constexpr std::u16string_view kSendFileDataSetName = u"cdsSendFile";
constexpr std::u16string_view kFieldNome = u"Nome";
constexpr std::u16string_view kFieldDataHora = u"DataHora";
constexpr std::u16string_view kFieldArquivo = u"Arquivo";
constexpr int kNomeSize = 200;

struct TSendFileFields {
    TStringField& Nome;
    TDateTimeField& DataHora;
    TBlobField& Arquivo;
};

// Adds the three persistent fields to a closed set (CreateDataSet is still the caller's call).
TSendFileFields AddSendFileFields(TClientDataSet& dataSet);

}  // namespace ab
