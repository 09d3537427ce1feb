// The connection property list and its list operations.
#include "transport/TDBXProperties.h"

#include "platform/Convert.h"
#include "platform/Text.h"

namespace ab {
namespace {

char16_t Fold(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

std::u16string Line(std::u16string_view name, std::u16string_view value) {
    std::u16string line;
    line.reserve(name.size() + 1 + value.size());
    line.append(name);
    line.push_back(u'=');
    line.append(value);
    return line;
}

}  // namespace

std::u16string_view TDBXProperties::NameOf(std::u16string_view line) {
    const auto eq = line.find(u'=');
    return eq == std::u16string_view::npos ? std::u16string_view() : line.substr(0, eq);
}

std::u16string_view TDBXProperties::ValueOf(std::u16string_view line) {
    const auto eq = line.find(u'=');
    return eq == std::u16string_view::npos ? std::u16string_view() : line.substr(eq + 1);
}

bool TDBXProperties::SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Fold(a[i]) != Fold(b[i]))
            return false;
    }
    return true;
}

int TDBXProperties::IndexOfName(std::u16string_view name) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const std::u16string_view line = lines_[i];
        if (line.find(u'=') != std::u16string_view::npos && SameName(NameOf(line), name))
            return static_cast<int>(i);
    }
    return -1;
}

std::u16string TDBXProperties::GetValue(std::u16string_view name) const {
    const int i = IndexOfName(name);
    return i < 0 ? std::u16string() : std::u16string(ValueOf(lines_[i]));
}

void TDBXProperties::SetValue(std::u16string_view name, std::u16string_view value) {
    const int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0)
            lines_.erase(lines_.begin() + i);
        return;
    }
    if (i >= 0)
        lines_[i] = Line(name, value);
    else
        lines_.push_back(Line(name, value));
}

void TDBXProperties::Add(std::u16string_view name, std::u16string_view value) {
    lines_.push_back(Line(name, value));
}

std::int32_t TDBXProperties::GetInteger(std::u16string_view name) const {
    const std::u16string value = GetValue(name);
    if (value.empty())
        return -1;
    return StrToInt(value);
}

bool TDBXProperties::GetBoolean(std::u16string_view name) const {
    const std::u16string value = GetValue(name);
    return !value.empty() && (value[0] == u't' || value[0] == u'T');
}

void TDBXProperties::GetLists(std::vector<std::u16string>& names,
                              std::vector<std::u16string>& values) const {
    names.clear();
    values.clear();
    names.reserve(lines_.size());
    values.reserve(lines_.size());
    for (const auto& line : lines_) {
        names.emplace_back(NameOf(line));
        values.emplace_back(ValueOf(line));
    }
}

void TDBXProperties::AddProperties(const TDBXProperties& source) {
    if (lines_.empty()) {
        lines_ = source.lines_;
        return;
    }
    for (const auto& line : source.lines_) {
        // A line without "=" has no name and no value; keep it as it stands rather than
        // turning it into a bare "=".
        if (line.find(u'=') == std::u16string::npos)
            lines_.push_back(line);
        else
            Add(NameOf(line), Trim(ValueOf(line)));
    }
}

void TDBXProperties::AddUniqueProperties(const TDBXProperties& source) {
    for (const auto& line : source.lines_) {
        if (line.find(u'=') == std::u16string::npos)
            continue;
        const auto name = NameOf(line);
        if (!HasName(name))
            Add(name, Trim(ValueOf(line)));
    }
}

void TDBXProperties::MergeProperties(const TDBXProperties& source) {
    for (const auto& line : source.lines_) {
        if (line.find(u'=') == std::u16string::npos)
            continue;
        const auto name = NameOf(line);
        const int i = IndexOfName(name);
        if (i >= 0)
            lines_[i] = Line(name, ValueOf(line));
        else
            Add(name, Trim(ValueOf(line)));
    }
}

std::unique_ptr<TDBXProperties> TDBXProperties::Clone() const {
    auto copy = NewInstance();
    copy->MergeProperties(*this);
    return copy;
}

std::unique_ptr<TDBXProperties> TDBXProperties::NewInstance() const {
    return std::make_unique<TDBXProperties>();
}

}  // namespace ab
