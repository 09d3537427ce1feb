// The server driver's property list and its typed accessors.
#include "transport/TDBXServerProperties.h"

#include "platform/Convert.h"
#include "platform/Text.h"
#include "transport/TTransportFilterCollection.h"
#include "transport/TransportConstants.h"

namespace ab {
namespace C = TransportConstants;

namespace {

void AddDefaults(TDBXProperties& list) {
    list.Add(C::DriverUnit, C::DefaultDriverUnit);
    list.Add(C::HostName, C::LoopbackHostName);
    list.Add(C::Port, C::DefaultPortText);
    list.Add(C::CommunicationProtocol, C::TcpLayerName);
    list.Add(C::Filters, u"");
    list.Add(C::DatasnapContext, C::DefaultDatasnapContext);
}

std::int32_t IntegerOr(const TDBXProperties& list, std::u16string_view name,
                       std::int32_t fallback) {
    const auto value = TryStrToInt(list.GetValue(name));
    return value ? *value : fallback;
}

}  // namespace

TDBXServerProperties::TDBXServerProperties() {
    AddDefaults(*this);
}

TDBXProperties TDBXServerProperties::DefaultLines() {
    TDBXProperties list;
    AddDefaults(list);
    return list;
}

std::unique_ptr<TDBXProperties> TDBXServerProperties::NewInstance() const {
    return std::make_unique<TDBXServerProperties>();
}

std::u16string TDBXServerProperties::GetHostName() const {
    return GetValue(C::HostName);
}
void TDBXServerProperties::SetHostName(const std::u16string& v) {
    SetValue(C::HostName, v);
}
std::int32_t TDBXServerProperties::GetPort() const {
    return IntegerOr(*this, C::Port, C::DefaultPort);
}
void TDBXServerProperties::SetPort(std::int32_t v) {
    SetValue(C::Port, IntToStr(v));
}
std::u16string TDBXServerProperties::GetCommunicationProtocol() const {
    return GetValue(C::CommunicationProtocol);
}
void TDBXServerProperties::SetCommunicationProtocol(const std::u16string& v) {
    SetValue(C::CommunicationProtocol, v);
}
std::u16string TDBXServerProperties::GetDatasnapContext() const {
    return GetValue(C::DatasnapContext);
}
void TDBXServerProperties::SetDatasnapContext(const std::u16string& v) {
    SetValue(C::DatasnapContext, v);
}
std::u16string TDBXServerProperties::GetDSAuthenticationUser() const {
    return GetValue(C::DSAuthenticationUser);
}
void TDBXServerProperties::SetDSAuthenticationUser(const std::u16string& v) {
    SetValue(C::DSAuthenticationUser, v);
}
std::u16string TDBXServerProperties::GetDSAuthenticationPassword() const {
    return GetValue(C::DSAuthenticationPassword);
}
void TDBXServerProperties::SetDSAuthenticationPassword(const std::u16string& v) {
    SetValue(C::DSAuthenticationPassword, v);
}
std::u16string TDBXServerProperties::GetDSProxyHost() const {
    return GetValue(C::DSProxyHost);
}
void TDBXServerProperties::SetDSProxyHost(const std::u16string& v) {
    SetValue(C::DSProxyHost, v);
}
std::int32_t TDBXServerProperties::GetDSProxyPort() const {
    return IntegerOr(*this, C::DSProxyPort, C::DefaultDSProxyPort);
}
void TDBXServerProperties::SetDSProxyPort(std::int32_t v) {
    SetValue(C::DSProxyPort, IntToStr(v));
}
std::int32_t TDBXServerProperties::GetBufferKBSize() const {
    return IntegerOr(*this, C::BufferKBSize, C::DefaultBufferKBSize);
}
void TDBXServerProperties::SetBufferKBSize(std::int32_t v) {
    SetValue(C::BufferKBSize, IntToStr(v));
}
std::int32_t TDBXServerProperties::GetConnectTimeout() const {
    return GetInteger(C::ConnectTimeout);
}
void TDBXServerProperties::SetConnectTimeout(std::int32_t v) {
    SetValue(C::ConnectTimeout, IntToStr(v));
}
std::int32_t TDBXServerProperties::GetCommunicationTimeout() const {
    return GetInteger(C::CommunicationTimeout);
}
void TDBXServerProperties::SetCommunicationTimeout(std::int32_t v) {
    SetValue(C::CommunicationTimeout, IntToStr(v));
}

std::unique_ptr<TTransportFilterCollection> TDBXServerProperties::GetFilters(
    TTransportFilterFactory& factory) const {
    const std::u16string value = GetValue(C::Filters);
    if (value.empty())
        return std::make_unique<TTransportFilterCollection>();
    return TTransportFilterCollection::FromJSON(value, factory);
}

void TDBXServerProperties::SetFilters(const TTransportFilterCollection* filters) {
    SetValue(C::Filters, filters ? FromLatin1(filters->ToJSON()) : std::u16string());
}

}  // namespace ab
