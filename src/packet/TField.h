// A column of the record set: its definition and the assignments the program makes through it.
// Assignments act on the set's pending row and need the set in insert state.
#pragma once

#include <string>
#include <string_view>

#include "platform/DateTime.h"

namespace ab {

class TClientDataSet;

enum class TFieldType { ftString, ftDateTime, ftBlob };

class TField {
  public:
    virtual ~TField() = default;
    TField(const TField&) = delete;
    TField& operator=(const TField&) = delete;

    const std::u16string& FieldName() const noexcept { return name_; }
    TFieldType DataType() const noexcept { return type_; }
    int Size() const noexcept { return size_; }  // declared size (characters); 0 for others
    int Index() const noexcept { return index_; }
    TClientDataSet& DataSet() const noexcept { return dataSet_; }

    // The current row's value is null or not changed (also true when the set is closed or empty).
    bool IsNull() const;

    // Conversions a column does not support raise EDatabaseError.
    virtual void SetAsString(std::u16string_view value);
    virtual void SetAsDateTime(TDateTime value);
    virtual void LoadFromFile(std::u16string_view path);
    virtual void LoadFromFileDeferred(std::u16string_view path);

  protected:
    TField(TClientDataSet& dataSet, std::u16string name, TFieldType type, int size, int index);
    [[noreturn]] void RaiseMismatch(std::u16string_view asType) const;

  private:
    TClientDataSet& dataSet_;
    std::u16string name_;
    TFieldType type_;
    int size_;
    int index_;
};

}  // namespace ab
