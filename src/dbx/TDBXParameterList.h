// TDBXParameterList: a command's ordered parameters, owned by the list, and the link to the
// command's parameter row buffer on which their values live.
//
// The row buffer is owned by the command and must outlive the list. The list also keeps the
// "parameter types changed" flag: set when a parameter's value is rebuilt for a modified
// description, cleared when parameter metadata is sent or received.
#pragma once

#include <memory>
#include <vector>

#include "dbx/TDBXParameter.h"

namespace ab {

class TDBXRowBuffer;

class TDBXParameterList {
  public:
    TDBXParameterList() = default;
    TDBXParameterList(const TDBXParameterList&) = delete;
    TDBXParameterList& operator=(const TDBXParameterList&) = delete;

    int Count() const { return static_cast<int>(parameters_.size()); }
    // Fails with "Invalid Ordinal:  %d" (code 8) outside 0 .. Count() - 1.
    TDBXParameter& GetParameterByOrdinal(int ordinal);
    const TDBXParameter& GetParameterByOrdinal(int ordinal) const;
    // Appends a new parameter at ordinal Count().
    TDBXParameter& AddParameter();
    void Clear() { parameters_.clear(); }

    TDBXRowBuffer* GetRowBuffer() const { return rowBuffer_; }
    void SetRowBuffer(TDBXRowBuffer* rowBuffer) { rowBuffer_ = rowBuffer; }

    bool ParameterTypesChanged() const { return typesChanged_; }
    void SetParameterTypesChanged(bool changed) { typesChanged_ = changed; }

    // Empties the row buffer and writes every parameter's value in ordinal order (the execute
    // request's row). Fails with "Parameter not set for column number %s" (code 11) for an in or
    // in-out parameter never set. Requires a row buffer.
    void WriteValues();

  private:
    std::vector<std::unique_ptr<TDBXParameter>> parameters_;
    TDBXRowBuffer* rowBuffer_ = nullptr;
    bool typesChanged_ = false;
};

}  // namespace ab
