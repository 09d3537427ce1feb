// Small transport filters for tests: byte-wise XOR and ADD transformations (which do not commute,
// so the order of filters shows) and a public-key stand-in that reverses and tags its payload.
#pragma once

#include <algorithm>
#include <memory>
#include <string>

#include "transport/TTransportFilter.h"
#include "transport/TTransportFilterFactory.h"

namespace ab::test {

class FakeFilter : public TTransportFilter {
  public:
    enum class Op { Xor, Add, PublicKey };
    FakeFilter(std::u16string id, Op op) : id_(std::move(id)), op_(op) {}

    std::u16string Id() const override { return id_; }
    std::u16string GetParameterValue(const std::u16string& name) override {
        if (name == u"Key")
            return key_;
        if (name == u"Note")
            return note_;
        return {};
    }
    bool SetParameterValue(const std::u16string& name, const std::u16string& value) override {
        if (name == u"Key")
            key_ = value;
        else if (name == u"Note")
            note_ = value;
        else
            return false;
        return true;
    }
    bool SetConfederateParameter(const std::u16string& name, const std::u16string& value) override {
        if (value == u"bad")
            return false;
        if (name == u"Key") {
            // The public-key stand-in keeps the other side's key apart from its own.
            if (op_ == Op::PublicKey)
                confederateKey_ = value;
            else
                key_ = value;
        }
        return true;
    }
    std::vector<std::uint8_t> ProcessInput(std::span<const std::uint8_t> data) override {
        return Transform(data, true);
    }
    std::vector<std::uint8_t> ProcessOutput(std::span<const std::uint8_t> data) override {
        return Transform(data, false);
    }
    bool HandshakeComplete() override { return !incomplete; }
    std::vector<std::u16string> GetParameters() override { return {u"Key", u"Note"}; }
    std::vector<std::u16string> GetUserParameters() override { return {u"Key"}; }
    bool IsPublicKeyCryptograph() const override { return op_ == Op::PublicKey; }

    bool incomplete = false;
    std::u16string confederateKey_;

  private:
    std::uint8_t K() const { return key_.empty() ? 0x5A : static_cast<std::uint8_t>(key_[0]); }
    std::vector<std::uint8_t> Transform(std::span<const std::uint8_t> data, bool in) {
        std::vector<std::uint8_t> out(data.begin(), data.end());
        switch (op_) {
            case Op::Xor:
                for (auto& b : out)
                    b ^= K();
                break;
            case Op::Add:
                for (auto& b : out)
                    b = static_cast<std::uint8_t>(in ? b + K() : b - K());
                break;
            case Op::PublicKey:
                // "Sealing": reverse and append a tag; opening checks and removes it.
                if (in) {
                    std::reverse(out.begin(), out.end());
                    out.push_back('#');
                } else if (!out.empty() && out.back() == '#') {
                    out.pop_back();
                    std::reverse(out.begin(), out.end());
                } else {
                    out.clear();
                }
                break;
        }
        return out;
    }

    std::u16string id_;
    Op op_;
    std::u16string key_;
    std::u16string note_;
};

// A registry with "XOR", "ADD" and the public-key stand-in under "RSA".
inline void RegisterFakeFilters(TTransportFilterFactory& factory) {
    factory.RegisterFilter(
        u"XOR", [] { return std::make_unique<FakeFilter>(u"XOR", FakeFilter::Op::Xor); });
    factory.RegisterFilter(
        u"ADD", [] { return std::make_unique<FakeFilter>(u"ADD", FakeFilter::Op::Add); });
    factory.RegisterFilter(
        u"RSA", [] { return std::make_unique<FakeFilter>(u"RSA", FakeFilter::Op::PublicKey); });
}

}  // namespace ab::test
