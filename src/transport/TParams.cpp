// The parameter collection of a data-set component.
#include "transport/TParams.h"

#include "platform/Text.h"
#include "transport/EDBXComponentError.h"
#include "transport/TDBXProperties.h"
#include "transport/TransportConstants.h"

namespace ab {

TParam& TParams::CreateParam(TParamDataType dataType, std::u16string name, TParamType paramType) {
    items_.push_back(std::make_unique<TParam>(std::move(name), dataType, paramType));
    return *items_.back();
}

TParam* TParams::FindParam(std::u16string_view name) {
    for (auto& p : items_) {
        if (TDBXProperties::SameName(p->Name, name))
            return p.get();
    }
    return nullptr;
}

TParam& TParams::ParamByName(std::u16string_view name) {
    if (TParam* p = FindParam(name))
        return *p;
    throw EDBXComponentError(Format(TransportConstants::ErrParamNotFound, {name}));
}

}  // namespace ab
