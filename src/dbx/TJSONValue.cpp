// JSON document value: parser and ASCII serialiser.
#include "dbx/TJSONValue.h"

#include "platform/Text.h"

namespace ab {
namespace {

// Documents from a peer are small; the limit keeps a hostile nesting from exhausting the stack.
constexpr int kMaxDepth = 256;

class Parser {
  public:
    explicit Parser(std::u16string_view text) : s_(text) {}

    std::optional<TJSONValue> Document() {
        SkipSpace();
        auto v = Value(0);
        if (!v)
            return std::nullopt;
        SkipSpace();
        if (i_ != s_.size())
            return std::nullopt;
        return v;
    }

  private:
    void SkipSpace() {
        while (i_ < s_.size() &&
               (s_[i_] == u' ' || s_[i_] == u'\t' || s_[i_] == u'\n' || s_[i_] == u'\r')) {
            ++i_;
        }
    }

    bool Literal(std::u16string_view word) {
        if (s_.substr(i_, word.size()) != word)
            return false;
        i_ += word.size();
        return true;
    }

    std::optional<TJSONValue> Value(int depth) {
        if (depth > kMaxDepth || i_ >= s_.size())
            return std::nullopt;
        const char16_t c = s_[i_];
        switch (c) {
            case u'{':
                return ObjectValue(depth);
            case u'[':
                return ArrayValue(depth);
            case u'"': {
                auto text = StringText();
                if (!text)
                    return std::nullopt;
                return TJSONValue::String(std::move(*text));
            }
            case u't':
                return Literal(u"true") ? std::optional(TJSONValue::Boolean(true)) : std::nullopt;
            case u'f':
                return Literal(u"false") ? std::optional(TJSONValue::Boolean(false)) : std::nullopt;
            case u'n':
                return Literal(u"null") ? std::optional(TJSONValue::Null()) : std::nullopt;
            default:
                return NumberValue();
        }
    }

    std::optional<TJSONValue> NumberValue() {
        const std::size_t start = i_;
        if (i_ < s_.size() && s_[i_] == u'-')
            ++i_;
        auto digits = [&] {
            const std::size_t b = i_;
            while (i_ < s_.size() && s_[i_] >= u'0' && s_[i_] <= u'9')
                ++i_;
            return i_ > b;
        };
        if (!digits())
            return std::nullopt;
        if (i_ < s_.size() && s_[i_] == u'.') {
            ++i_;
            if (!digits())
                return std::nullopt;
        }
        if (i_ < s_.size() && (s_[i_] == u'e' || s_[i_] == u'E')) {
            ++i_;
            if (i_ < s_.size() && (s_[i_] == u'+' || s_[i_] == u'-'))
                ++i_;
            if (!digits())
                return std::nullopt;
        }
        return TJSONValue::Number(std::u16string(s_.substr(start, i_ - start)));
    }

    std::optional<std::u16string> StringText() {
        ++i_;  // opening quote
        std::u16string out;
        while (i_ < s_.size()) {
            const char16_t c = s_[i_++];
            if (c == u'"')
                return out;
            if (c != u'\\') {
                out.push_back(c);
                continue;
            }
            if (i_ >= s_.size())
                return std::nullopt;
            const char16_t e = s_[i_++];
            switch (e) {
                case u'"':
                    out.push_back(u'"');
                    break;
                case u'\\':
                    out.push_back(u'\\');
                    break;
                case u'/':
                    out.push_back(u'/');
                    break;
                case u'b':
                    out.push_back(8);
                    break;
                case u'f':
                    out.push_back(12);
                    break;
                case u'n':
                    out.push_back(10);
                    break;
                case u'r':
                    out.push_back(13);
                    break;
                case u't':
                    out.push_back(9);
                    break;
                case u'u': {
                    if (i_ + 4 > s_.size())
                        return std::nullopt;
                    int code = 0;
                    for (int k = 0; k < 4; ++k) {
                        const int h = HexDigitValue(s_[i_++]);
                        if (h < 0)
                            return std::nullopt;
                        code = code * 16 + h;
                    }
                    out.push_back(static_cast<char16_t>(code));
                    break;
                }
                default:
                    return std::nullopt;
            }
        }
        return std::nullopt;
    }

    std::optional<TJSONValue> ArrayValue(int depth) {
        ++i_;
        TJSONValue array = TJSONValue::Array();
        SkipSpace();
        if (i_ < s_.size() && s_[i_] == u']') {
            ++i_;
            return array;
        }
        while (true) {
            SkipSpace();
            auto item = Value(depth + 1);
            if (!item)
                return std::nullopt;
            array.Add(std::move(*item));
            SkipSpace();
            if (i_ >= s_.size())
                return std::nullopt;
            const char16_t c = s_[i_++];
            if (c == u']')
                return array;
            if (c != u',')
                return std::nullopt;
        }
    }

    std::optional<TJSONValue> ObjectValue(int depth) {
        ++i_;
        TJSONValue object = TJSONValue::Object();
        SkipSpace();
        if (i_ < s_.size() && s_[i_] == u'}') {
            ++i_;
            return object;
        }
        while (true) {
            SkipSpace();
            if (i_ >= s_.size() || s_[i_] != u'"')
                return std::nullopt;
            auto name = StringText();
            if (!name)
                return std::nullopt;
            SkipSpace();
            if (i_ >= s_.size() || s_[i_] != u':')
                return std::nullopt;
            ++i_;
            SkipSpace();
            auto value = Value(depth + 1);
            if (!value)
                return std::nullopt;
            object.Add(std::move(*name), std::move(*value));
            SkipSpace();
            if (i_ >= s_.size())
                return std::nullopt;
            const char16_t c = s_[i_++];
            if (c == u'}')
                return object;
            if (c != u',')
                return std::nullopt;
        }
    }

    std::u16string_view s_;
    std::size_t i_ = 0;
};

void AppendString(std::string& out, const std::u16string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    out.push_back('"');
    for (const char16_t c : text) {
        switch (c) {
            case 8:
                out += "\\b";
                break;
            case 9:
                out += "\\t";
                break;
            case 10:
                out += "\\n";
                break;
            case 12:
                out += "\\f";
                break;
            case 13:
                out += "\\r";
                break;
            case u'"':
                out += "\\\"";
                break;
            case u'/':
                out += "\\/";
                break;
            case u'\\':
                out += "\\\\";
                break;
            default:
                if (c < 32 || c > 127) {
                    out += "\\u";
                    out.push_back(kHex[(c >> 12) & 0xF]);
                    out.push_back(kHex[(c >> 8) & 0xF]);
                    out.push_back(kHex[(c >> 4) & 0xF]);
                    out.push_back(kHex[c & 0xF]);
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
    }
    out.push_back('"');
}

void Append(std::string& out, const TJSONValue& v) {
    switch (v.GetKind()) {
        case TJSONValue::Kind::Null:
            out += "null";
            break;
        case TJSONValue::Kind::True:
            out += "true";
            break;
        case TJSONValue::Kind::False:
            out += "false";
            break;
        case TJSONValue::Kind::Number:
            out += ToUtf8(v.Text());
            break;
        case TJSONValue::Kind::String:
            AppendString(out, v.Text());
            break;
        case TJSONValue::Kind::Array: {
            out.push_back('[');
            bool first = true;
            for (const auto& item : v.Items()) {
                if (!first)
                    out.push_back(',');
                first = false;
                Append(out, item);
            }
            out.push_back(']');
            break;
        }
        case TJSONValue::Kind::Object: {
            out.push_back('{');
            bool first = true;
            for (const auto& [name, value] : v.Members()) {
                if (!first)
                    out.push_back(',');
                first = false;
                AppendString(out, name);
                out.push_back(':');
                Append(out, value);
            }
            out.push_back('}');
            break;
        }
    }
}

}  // namespace

TJSONValue TJSONValue::Boolean(bool value) {
    TJSONValue v;
    v.kind_ = value ? Kind::True : Kind::False;
    return v;
}

TJSONValue TJSONValue::Number(std::u16string text) {
    TJSONValue v;
    v.kind_ = Kind::Number;
    v.text_ = std::move(text);
    return v;
}

TJSONValue TJSONValue::String(std::u16string text) {
    TJSONValue v;
    v.kind_ = Kind::String;
    v.text_ = std::move(text);
    return v;
}

TJSONValue TJSONValue::Array() {
    TJSONValue v;
    v.kind_ = Kind::Array;
    return v;
}

TJSONValue TJSONValue::Object() {
    TJSONValue v;
    v.kind_ = Kind::Object;
    return v;
}

const TJSONValue* TJSONValue::Get(std::u16string_view name) const {
    for (const auto& [n, value] : members_) {
        if (n == name)
            return &value;
    }
    return nullptr;
}

std::string TJSONValue::ToAscii() const {
    std::string out;
    Append(out, *this);
    return out;
}

std::u16string TJSONValue::ToString() const {
    return FromLatin1(ToAscii());
}

std::optional<TJSONValue> TJSONValue::Parse(std::u16string_view text) {
    return Parser(text).Document();
}

std::optional<TJSONValue> TJSONValue::Parse(std::span<const std::uint8_t> bytes) {
    const std::u16string text =
        FromUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    return Parse(text);
}

}  // namespace ab
