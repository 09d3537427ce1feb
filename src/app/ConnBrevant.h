// The window's two designed server components: the connection ConnBrevant (driver, name, the
// designed parameter list) with its before-connect event, and the echo component FEchoString.
#pragma once

#include <string_view>

namespace ab {

class TSQLConnection;
class TSqlServerMethod;

// ConnectionName, DriverName, no login prompt and the designed parameter list, in its order.
void DesignConnBrevant(TSQLConnection& connBrevant);

// "TZvServer.EchoString" on the connection, with Value (wide string, precision 2000, input) and
// ReturnParameter (wide string, precision and size 2000, result).
void DesignEchoString(TSqlServerMethod& echoString, TSQLConnection& connBrevant);

// Rewrites HostName (the address trimmed; an empty one deletes the entry), Port (the spinner's
// position), the user and the MD5 password, each by name in place.
void ConnBrevantBeforeConnect(TSQLConnection& connBrevant, std::u16string_view endereco, int porta);

}  // namespace ab
