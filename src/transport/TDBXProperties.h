// The connection property list: ordered Name=Value lines with case-insensitive names. The order of
// the lines is part of the wire format (the connect message sends them in list order).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ab {

class TDBXProperties {
  public:
    TDBXProperties() = default;
    virtual ~TDBXProperties() = default;
    TDBXProperties(const TDBXProperties&) = default;
    TDBXProperties& operator=(const TDBXProperties&) = default;

    // Text before the first "=" of a line; empty for a line without "=" (never found by name).
    static std::u16string_view NameOf(std::u16string_view line);
    // Everything after the first "="; empty for a line without "=".
    static std::u16string_view ValueOf(std::u16string_view line);
    // Case-insensitive name comparison.
    static bool SameName(std::u16string_view a, std::u16string_view b);

    // Index of the first line with that name, or -1.
    int IndexOfName(std::u16string_view name) const;
    bool HasName(std::u16string_view name) const { return IndexOfName(name) >= 0; }

    // Value of the first line with that name; empty when there is none.
    std::u16string GetValue(std::u16string_view name) const;
    // Non-empty value: replace the first line in place (name spelled as passed) or append.
    // Empty value: delete the first line with that name, if any.
    void SetValue(std::u16string_view name, std::u16string_view value);
    // Appends name=value unconditionally.
    void Add(std::u16string_view name, std::u16string_view value);
    // -1 for an empty value; EConvertError for text that is not an integer.
    std::int32_t GetInteger(std::u16string_view name) const;
    // True when the value starts with "t" or "T".
    bool GetBoolean(std::u16string_view name) const;
    // Names and values in list order.
    void GetLists(std::vector<std::u16string>& names, std::vector<std::u16string>& values) const;

    // Into an empty list an exact copy; otherwise every line appended with its value trimmed.
    void AddProperties(const TDBXProperties& source);
    // Appends name=trimmed value for every source line whose name is not yet present.
    void AddUniqueProperties(const TDBXProperties& source);
    // Present names get their first line replaced (value untrimmed); absent ones are appended
    // with the value trimmed.
    void MergeProperties(const TDBXProperties& source);
    // A new list of the same class (so with that class's initial lines) with this list merged in.
    virtual std::unique_ptr<TDBXProperties> Clone() const;

    // Raw line access.
    const std::vector<std::u16string>& Lines() const { return lines_; }
    std::vector<std::u16string>& Lines() { return lines_; }
    int Count() const { return static_cast<int>(lines_.size()); }
    void Clear() { lines_.clear(); }

  protected:
    // A fresh, initialised list of the dynamic class (Clone's starting point).
    virtual std::unique_ptr<TDBXProperties> NewInstance() const;

  private:
    std::vector<std::u16string> lines_;
};

}  // namespace ab
