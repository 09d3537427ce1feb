// TDBXParameter: a parameter's type description and its value on the command's parameter row.
//
// GetValue creates the value for the data type on first access (failing with "Unexpected data
// type %s", code 3, for a type without a value class) and rebuilds it when the description was
// modified since; a rebuild marks the owning list's parameter types as changed, so the next execute
// resends the parameter metadata.
#pragma once

#include <memory>

#include "dbx/TDBXValueType.h"

namespace ab {

class TDBXParameterList;
class TDBXRowBuffer;
class TDBXWritableValue;

class TDBXParameter : public TDBXValueType {
  public:
    TDBXParameter();
    ~TDBXParameter() override;
    TDBXParameter(const TDBXParameter&) = delete;
    TDBXParameter& operator=(const TDBXParameter&) = delete;

    TDBXWritableValue& GetValue();
    bool HasValue() const { return value_ != nullptr; }

    // Set by the list that holds the parameter.
    void Attach(TDBXParameterList* list) { list_ = list; }

  private:
    TDBXParameterList* list_ = nullptr;
    std::unique_ptr<TDBXWritableValue> value_;
};

}  // namespace ab
