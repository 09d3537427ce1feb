// The server methods the update server offers, with their parameters in the order and with the
// types the client's proxy relies on.
#pragma once

#include <string_view>
#include <vector>

namespace ab::server {

struct TServerParameter {
    std::u16string_view name;
    int dataType;
    int direction;
    long long precision;
};

enum class TServerMethodId {
    PropertsFile,
    SendFile,
    RemoveFile,
    AlertarZvClientes,
    DataHoraBrevant,
    EchoString
};

struct TServerMethod {
    TServerMethodId id;
    std::u16string_view name;
    std::vector<TServerParameter> parameters;
};

class TServerMethods {
  public:
    // The method a command text ("Class.Method") names on a server of the given kind, or null.
    static const TServerMethod* Find(std::u16string_view commandText, bool parentServer);
    static const std::vector<TServerMethod>& All();
};

}  // namespace ab::server
