// The update server's method table (see the header).
#include "server/TServerMethods.h"

#include "server/ServerConstants.h"

namespace ab::server {

const std::vector<TServerMethod>& TServerMethods::All() {
    static const std::vector<TServerMethod> methods = {
        {TServerMethodId::PropertsFile,
         kPropertsFile,
         {{u"Arquivo", kTypeWideString, kDirIn, 0},
          {u"ReturnParameter", kTypeWideString, kDirReturn, 0}}},
        {TServerMethodId::SendFile,
         kSendFile,
         {{u"Dados", kTypeVariant, kDirIn, 0},
          {u"ChecarMaisAtual", kTypeBool, kDirIn, 0},
          {u"ReturnParameter", kTypeBool, kDirReturn, 0}}},
        {TServerMethodId::RemoveFile,
         kRemoveFile,
         {{u"Arquivo", kTypeWideString, kDirIn, 0},
          {u"ReturnParameter", kTypeBool, kDirReturn, 0}}},
        {TServerMethodId::AlertarZvClientes,
         kAlertarZvClientes,
         {{u"Alerta", kTypeWideString, kDirIn, 0}, {u"ReturnParameter", kTypeBool, kDirReturn, 0}}},
        {TServerMethodId::DataHoraBrevant,
         kDataHoraBrevant,
         {{u"ReturnParameter", kTypeWideString, kDirReturn, 0}}},
        {TServerMethodId::EchoString,
         kEchoString,
         {{u"Value", kTypeWideString, kDirIn, 2000},
          {u"ReturnParameter", kTypeWideString, kDirReturn, 2000}}},
    };
    return methods;
}

const TServerMethod* TServerMethods::Find(std::u16string_view commandText, bool parentServer) {
    const std::u16string_view cls = parentServer ? kParentClass : kClientClass;
    if (commandText.size() <= cls.size() + 1 || !commandText.starts_with(cls) ||
        commandText[cls.size()] != u'.')
        return nullptr;
    const std::u16string_view method = commandText.substr(cls.size() + 1);
    for (const auto& m : All()) {
        if (m.name != method)
            continue;
        if (m.id == TServerMethodId::EchoString && !parentServer)
            return nullptr;
        return &m;
    }
    return nullptr;
}

}  // namespace ab::server
