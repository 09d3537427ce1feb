// The server driver's property list: six initial lines and typed accessors over the same lines.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "transport/TDBXProperties.h"

namespace ab {

class TTransportFilterCollection;
class TTransportFilterFactory;

class TDBXServerProperties : public TDBXProperties {
  public:
    // DriverUnit, HostName, Port, CommunicationProtocol, Filters (empty), DatasnapContext.
    TDBXServerProperties();
    // Just the six default lines, as a plain list (the factory's driver defaults).
    static TDBXProperties DefaultLines();

    std::u16string GetHostName() const;
    void SetHostName(const std::u16string& value);
    // "Port"; 211 for text that is empty or not an integer.
    std::int32_t GetPort() const;
    void SetPort(std::int32_t value);
    std::u16string GetCommunicationProtocol() const;
    void SetCommunicationProtocol(const std::u16string& value);
    std::u16string GetDatasnapContext() const;
    void SetDatasnapContext(const std::u16string& value);
    std::u16string GetDSAuthenticationUser() const;
    void SetDSAuthenticationUser(const std::u16string& value);
    std::u16string GetDSAuthenticationPassword() const;
    void SetDSAuthenticationPassword(const std::u16string& value);
    std::u16string GetDSProxyHost() const;
    void SetDSProxyHost(const std::u16string& value);
    // "DSProxyPort"; 8888 for text that is empty or not an integer.
    std::int32_t GetDSProxyPort() const;
    void SetDSProxyPort(std::int32_t value);
    // "BufferKBSize"; 32 for text that is empty or not an integer.
    std::int32_t GetBufferKBSize() const;
    void SetBufferKBSize(std::int32_t value);
    // "ConnectTimeout" / "CommunicationTimeout" as written (GetInteger rules).
    std::int32_t GetConnectTimeout() const;
    void SetConnectTimeout(std::int32_t value);
    std::int32_t GetCommunicationTimeout() const;
    void SetCommunicationTimeout(std::int32_t value);

    // An empty "Filters" value gives an empty collection, any other value is parsed as JSON
    // (nullptr when it does not parse).
    std::unique_ptr<TTransportFilterCollection> GetFilters(TTransportFilterFactory& factory) const;
    // Writes the collection's JSON into "Filters"; nullptr writes empty text (deleting the line).
    void SetFilters(const TTransportFilterCollection* filters);

  protected:
    std::unique_ptr<TDBXProperties> NewInstance() const override;
};

}  // namespace ab
