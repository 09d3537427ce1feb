// The ordered filter list and its JSON forms.
#include "transport/TTransportFilterCollection.h"

#include "dbx/TDBXError.h"
#include "dbx/TJSONValue.h"
#include "platform/Text.h"
#include "transport/TTransportFilterFactory.h"
#include "transport/TransportConstants.h"

namespace ab {
namespace {

TJSONValue ParametersObject(TTransportFilter& filter, const std::vector<std::u16string>& names) {
    TJSONValue params = TJSONValue::Object();
    for (const auto& name : names) {
        std::u16string value = filter.GetParameterValue(name);
        params.Add(name, value.empty() ? TJSONValue::Null() : TJSONValue::String(std::move(value)));
    }
    return params;
}

}  // namespace

TTransportFilterCollection::~TTransportFilterCollection() {
    while (!filters_.empty())
        filters_.pop_back();
}

TTransportFilter* TTransportFilterCollection::AddFilter(std::unique_ptr<TTransportFilter> filter) {
    if (!filter)
        return nullptr;
    filter->SetFilterCollection(this);
    filters_.push_back(std::move(filter));
    return filters_.back().get();
}

std::unique_ptr<TTransportFilter> TTransportFilterCollection::RemoveFilter(int index) {
    if (index < 0 || index >= Count())
        return nullptr;
    auto filter = std::move(filters_[index]);
    filters_.erase(filters_.begin() + index);
    filter->SetFilterCollection(nullptr);
    return filter;
}

TTransportFilter* TTransportFilterCollection::GetFilter(int index) const {
    if (index < 0 || index >= Count())
        return nullptr;
    return filters_[index].get();
}

TTransportFilter* TTransportFilterCollection::GetFilter(std::u16string_view id) const {
    for (const auto& filter : filters_) {
        if (filter->Id() == id)
            return filter.get();
    }
    return nullptr;
}

bool TTransportFilterCollection::HandshakeComplete() {
    bool complete = true;
    for (const auto& filter : filters_)
        complete = filter->HandshakeComplete() && complete;
    return complete;
}

void TTransportFilterCollection::StartHandshake() {
    for (const auto& filter : filters_)
        filter->StartHandshake();
}

std::string TTransportFilterCollection::ToJSON() const {
    TJSONValue root = TJSONValue::Object();
    for (const auto& filter : filters_)
        root.Add(filter->Id(), ParametersObject(*filter, filter->GetUserParameters()));
    return root.ToAscii();
}

std::string TTransportFilterCollection::ParameterBlock(bool publicKeyFilters) const {
    TJSONValue root = TJSONValue::Object();
    for (const auto& filter : filters_) {
        if (filter->IsPublicKeyCryptograph() == publicKeyFilters)
            root.Add(filter->Id(), ParametersObject(*filter, filter->GetParameters()));
    }
    return root.ToAscii();
}

std::unique_ptr<TTransportFilterCollection> TTransportFilterCollection::FromJSON(
    std::u16string_view json, TTransportFilterFactory& factory) {
    const auto root = TJSONValue::Parse(json);
    if (!root || !root->IsObject())
        return nullptr;
    auto collection = std::make_unique<TTransportFilterCollection>();
    for (const auto& [id, params] : root->Members()) {
        auto filter = factory.CreateFilter(id);
        if (!filter) {
            throw TDBXError(TDBXErrorCodes::None,
                            Format(TransportConstants::ErrFilterNotRegistered, {id}));
        }
        if (params.IsObject()) {
            for (const auto& [name, value] : params.Members())
                filter->SetParameterValue(name, value.IsNull() ? std::u16string() : value.Text());
        }
        collection->AddFilter(std::move(filter));
    }
    return collection;
}

std::unique_ptr<TTransportFilterCollection> TTransportFilterCollection::Clone(
    TTransportFilterFactory& factory) const {
    auto copy = std::make_unique<TTransportFilterCollection>();
    for (const auto& filter : filters_) {
        auto fresh = factory.CreateFilter(filter->Id());
        if (!fresh) {
            throw TDBXError(TDBXErrorCodes::None,
                            Format(TransportConstants::ErrFilterNotRegistered, {filter->Id()}));
        }
        for (const auto& name : filter->GetUserParameters())
            fresh->SetParameterValue(name, filter->GetParameterValue(name));
        copy->AddFilter(std::move(fresh));
    }
    return copy;
}

}  // namespace ab
