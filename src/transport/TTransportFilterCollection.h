// An ordered, owning list of transport filters, with the JSON form used by the "Filters" property
// and by the filter channel's parameter blocks.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "transport/TTransportFilter.h"

namespace ab {

class TTransportFilterFactory;

class TTransportFilterCollection {
  public:
    TTransportFilterCollection() = default;
    // Frees the filters from the last to the first.
    ~TTransportFilterCollection();
    TTransportFilterCollection(const TTransportFilterCollection&) = delete;
    TTransportFilterCollection& operator=(const TTransportFilterCollection&) = delete;

    // Appends the filter and points it at this collection; returns it.
    TTransportFilter* AddFilter(std::unique_ptr<TTransportFilter> filter);
    // Removes and returns the filter at the index (nullptr when out of range).
    std::unique_ptr<TTransportFilter> RemoveFilter(int index);
    int Count() const { return static_cast<int>(filters_.size()); }
    // nullptr when out of range / when no filter has the id.
    TTransportFilter* GetFilter(int index) const;
    TTransportFilter* GetFilter(std::u16string_view id) const;

    // True when every filter reports its handshake complete (and for an empty list).
    bool HandshakeComplete();
    void StartHandshake();

    // {"id":{"param":"value" or null, ...}, ...} with each filter's user parameters, in order.
    std::string ToJSON() const;
    // Members give the filter ids in order, their object values the user parameters. nullptr for
    // text that is not a JSON object; TDBXError (the not-registered text) for an unknown id.
    static std::unique_ptr<TTransportFilterCollection> FromJSON(std::u16string_view json,
                                                                TTransportFilterFactory& factory);

    // The filter channel's parameter block: the public-key filters, or all the others, each with
    // every parameter its GetParameters lists; as ASCII JSON without white space.
    std::string ParameterBlock(bool publicKeyFilters) const;

    // A new collection holding a fresh instance of each filter (created by id) with its user
    // parameters copied. TDBXError for an id the factory does not know.
    std::unique_ptr<TTransportFilterCollection> Clone(TTransportFilterFactory& factory) const;

    auto begin() const { return filters_.begin(); }
    auto end() const { return filters_.end(); }

  private:
    std::vector<std::unique_ptr<TTransportFilter>> filters_;
};

}  // namespace ab
