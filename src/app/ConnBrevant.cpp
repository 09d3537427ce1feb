// The designed connection and echo components, and the before-connect event.
#include "app/ConnBrevant.h"

#include <string>

#include "app/AppConstants.h"
#include "app/UFuncoes.h"
#include "platform/Text.h"
#include "transport/TSQLConnection.h"
#include "transport/TSqlServerMethod.h"

namespace ab {
namespace C = AppConstants;

void DesignConnBrevant(TSQLConnection& connBrevant) {
    connBrevant.SetConnectionName(std::u16string(C::ConnectionName));
    connBrevant.SetDriverName(std::u16string(C::DriverName));
    connBrevant.SetLoginPrompt(false);
    auto& lines = connBrevant.Params().Lines();
    lines.assign(C::DesignedParams.begin(), C::DesignedParams.end());
}

void DesignEchoString(TSqlServerMethod& echoString, TSQLConnection& connBrevant) {
    echoString.SetSQLConnection(&connBrevant);
    echoString.SetServerMethodName(std::u16string(C::EchoStringMethod));
    auto& params = echoString.Params();
    params.Clear();
    auto& value = params.CreateParam(TParamDataType::ftWideString,
                                     std::u16string(C::EchoValueParam), TParamType::ptInput);
    value.Precision = C::EchoPrecision;
    auto& result = params.CreateParam(TParamDataType::ftWideString,
                                      std::u16string(C::EchoReturnParam), TParamType::ptResult);
    result.Precision = C::EchoPrecision;
    result.Size = C::EchoPrecision;
}

void ConnBrevantBeforeConnect(TSQLConnection& connBrevant, std::u16string_view endereco,
                              int porta) {
    auto& params = connBrevant.Params();
    params.SetValue(C::ParamHostName, Trim(endereco));
    params.SetValue(C::ParamPort, IntToStr(porta));
    params.SetValue(C::ParamUser, C::User);
    params.SetValue(C::ParamPassword, Md5(C::PassPhrase));
}

}  // namespace ab
