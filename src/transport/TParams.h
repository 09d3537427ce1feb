// The ordered parameter collection of a data-set component.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "transport/TParam.h"

namespace ab {

class TParams {
  public:
    TParam& CreateParam(TParamDataType dataType, std::u16string name, TParamType paramType);
    int Count() const { return static_cast<int>(items_.size()); }
    TParam& operator[](int index) { return *items_.at(static_cast<std::size_t>(index)); }
    const TParam& operator[](int index) const {
        return *items_.at(static_cast<std::size_t>(index));
    }
    // nullptr when no parameter has the name (compared case-insensitively).
    TParam* FindParam(std::u16string_view name);
    // EDBXComponentError "Parameter '%s' not found" when no parameter has the name.
    TParam& ParamByName(std::u16string_view name);
    void Clear() { items_.clear(); }

  private:
    std::vector<std::unique_ptr<TParam>> items_;
};

}  // namespace ab
