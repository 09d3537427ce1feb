// The abstract transport filter: a byte transformation agreed with the server in the filter
// handshake (compression, cipher, key exchange). Parameters are named texts; the filter channel
// exchanges them as JSON parameter blocks and then passes every frame through the filters.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ab {

class TTransportFilterCollection;

class TTransportFilter {
  public:
    TTransportFilter() = default;
    virtual ~TTransportFilter() = default;
    TTransportFilter(const TTransportFilter&) = delete;
    TTransportFilter& operator=(const TTransportFilter&) = delete;

    virtual std::u16string Id() const = 0;
    // Empty text for an unknown name.
    virtual std::u16string GetParameterValue(const std::u16string& name) = 0;
    // false when the filter refuses the name or value.
    virtual bool SetParameterValue(const std::u16string& name, const std::u16string& value) = 0;
    // A parameter announced by the other side; false refuses it.
    virtual bool SetConfederateParameter(const std::u16string& name,
                                         const std::u16string& value) = 0;
    // Transform before sending.
    virtual std::vector<std::uint8_t> ProcessInput(std::span<const std::uint8_t> data) = 0;
    // Transform after receiving.
    virtual std::vector<std::uint8_t> ProcessOutput(std::span<const std::uint8_t> data) = 0;
    virtual void StartHandshake() { handshakeStarted_ = true; }
    virtual bool HandshakeComplete() {
        handshakeStarted_ = false;
        return true;
    }
    // Names of every parameter, in parameter-block order.
    virtual std::vector<std::u16string> GetParameters() = 0;
    // Names a user may set (copied when a filter list is cloned).
    virtual std::vector<std::u16string> GetUserParameters() = 0;
    virtual bool IsPublicKeyCryptograph() const { return false; }

    void SetServerInstance(bool server) { serverInstance_ = server; }
    bool IsServerInstance() const { return serverInstance_; }
    bool IsClientInstance() const { return !serverInstance_; }
    TTransportFilterCollection* GetFilterCollection() const { return collection_; }
    void SetFilterCollection(TTransportFilterCollection* collection) { collection_ = collection; }
    bool IsHandshakeStarted() const { return handshakeStarted_; }

  private:
    bool serverInstance_ = false;
    bool handshakeStarted_ = false;
    TTransportFilterCollection* collection_ = nullptr;
};

}  // namespace ab
