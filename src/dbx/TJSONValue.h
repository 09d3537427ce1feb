// A small JSON document value: parsed from text, serialised as ASCII. Used for filter parameter
// blocks, JSON parameter values and the server's metadata pushes. Objects keep member order.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ab {

class TJSONValue {
  public:
    enum class Kind { Null, True, False, Number, String, Array, Object };

    TJSONValue() = default;  // null
    static TJSONValue Null() { return TJSONValue(); }
    static TJSONValue Boolean(bool value);
    static TJSONValue Number(std::u16string text);  // the number's text, kept as written
    static TJSONValue String(std::u16string text);
    static TJSONValue Array();
    static TJSONValue Object();

    Kind GetKind() const { return kind_; }
    bool IsNull() const { return kind_ == Kind::Null; }
    bool IsString() const { return kind_ == Kind::String; }
    bool IsObject() const { return kind_ == Kind::Object; }
    bool IsArray() const { return kind_ == Kind::Array; }

    // String value, or the text of a number.
    const std::u16string& Text() const { return text_; }

    // Arrays.
    const std::vector<TJSONValue>& Items() const { return items_; }
    void Add(TJSONValue item) { items_.push_back(std::move(item)); }

    // Objects: members in order; Get finds the first member with the name.
    const std::vector<std::pair<std::u16string, TJSONValue>>& Members() const { return members_; }
    void Add(std::u16string name, TJSONValue value) {
        members_.emplace_back(std::move(name), std::move(value));
    }
    const TJSONValue* Get(std::u16string_view name) const;

    // Serialised without white space, as ASCII: strings escape \b \t \n \f \r \" \/ \\ and every
    // other character below 32 or above 127 as \u with four upper-case hexadecimal digits.
    std::string ToAscii() const;
    std::u16string ToString() const;

    // nullopt when the text is not one complete JSON value (white space around it is allowed).
    static std::optional<TJSONValue> Parse(std::u16string_view text);
    // Bytes read as UTF-8.
    static std::optional<TJSONValue> Parse(std::span<const std::uint8_t> bytes);

    bool operator==(const TJSONValue&) const = default;

  private:
    Kind kind_ = Kind::Null;
    std::u16string text_;
    std::vector<TJSONValue> items_;
    std::vector<std::pair<std::u16string, TJSONValue>> members_;
};

}  // namespace ab
