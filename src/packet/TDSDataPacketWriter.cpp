// The binary data packet writer.
#include "packet/TDSDataPacketWriter.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include "packet/EDBClient.h"
#include "platform/MemoryAdvice.h"

namespace ab {
namespace {

std::uint32_t LoadLE(const std::uint8_t* p, std::size_t width) {
    std::uint32_t v = 0;
    for (std::size_t i = width; i-- > 0;)
        v = (v << 8) | p[i];
    return v;
}

std::uint64_t MaxForPrefix(std::uint32_t width) {
    return width == 1 ? 0xFF : width == 2 ? 0xFFFF : dsMaxBlobLength;
}

}  // namespace

void TDSDataPacketWriter::Fail(int code) {
    phase_ = Phase::Finished;
    buf_ = {};
    capacity_ = 0;
    throw EDBClient(code);
}

void TDSDataPacketWriter::Require(bool condition, int code) {
    if (!condition)
        Fail(code);
}

void TDSDataPacketWriter::Reserve(std::size_t more) {
    const std::size_t used = buf_.size();
    if (more <= capacity_ - used)
        return;
    if (more > std::numeric_limits<std::size_t>::max() / 2 - used)
        Fail(DBERR_NOMEMORY);
    const std::size_t shortfall = used + more - capacity_;
    const std::size_t step = growByCapacity_ ? std::min(capacity_, MaxDoublingStep) : GrowthStep;
    growByCapacity_ = !growByCapacity_;
    const std::size_t newCapacity = capacity_ + std::max(step, shortfall);
    try {
        buf_.reserve(newCapacity);
    } catch (const std::bad_alloc&) {
        Fail(DBERR_NOMEMORY);
    } catch (const std::length_error&) {
        Fail(DBERR_NOMEMORY);
    }
    AdviseLargeBuffer(buf_.data() + used, newCapacity - used);
    capacity_ = newCapacity;
}

void TDSDataPacketWriter::Append(const void* data, std::size_t n) {
    Reserve(n);
    const auto* p = static_cast<const std::uint8_t*>(data);
    buf_.insert(buf_.end(), p, p + n);
}

void TDSDataPacketWriter::AppendZeros(std::size_t n) {
    Reserve(n);
    buf_.resize(buf_.size() + n, 0);
}

void TDSDataPacketWriter::AppendU16(std::uint16_t v) {
    const std::uint8_t b[2] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
    Append(b, 2);
}

void TDSDataPacketWriter::AppendU32(std::uint32_t v) {
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                               static_cast<std::uint8_t>(v >> 16),
                               static_cast<std::uint8_t>(v >> 24)};
    Append(b, 4);
}

std::uint16_t TDSDataPacketWriter::ReadU16(std::size_t at) const {
    return static_cast<std::uint16_t>(LoadLE(&buf_[at], 2));
}

std::uint32_t TDSDataPacketWriter::ReadU32(std::size_t at) const {
    return LoadLE(&buf_[at], 4);
}

void TDSDataPacketWriter::PatchU16(std::size_t at, std::uint16_t v) {
    buf_[at] = static_cast<std::uint8_t>(v);
    buf_[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void TDSDataPacketWriter::PatchU32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        buf_[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void TDSDataPacketWriter::Init_Sequential(std::uint32_t version, std::uint16_t columns) {
    Require(phase_ == Phase::Idle, DBERR_NA);
    Require(version <= dsPacketVersion, DBERR_DATAPACKETMISMATCH);
    buf_.clear();
    capacity_ = 0;
    growByCapacity_ = false;
    try {
        buf_.reserve(InitialCapacity);
    } catch (const std::bad_alloc&) {
        Fail(DBERR_NOMEMORY);
    }
    capacity_ = InitialCapacity;
    AppendZeros(dsHeaderSize);
    PatchU32(dsHdrSignature, dsPacketSignature);
    PatchU16(dsHdrLevel, dsLevelBasic);
    PatchU32(dsHdrHeaderSize, static_cast<std::uint32_t>(dsHeaderSize));
    PatchU16(dsHdrColumnCount, columns);
    PatchU32(dsHdrFlags, dsFlagSequential);
    columnsAnnounced_ = columns;
    columnTypes_.clear();
    // The packet-property count stands after the last item written; each descriptor and column
    // property overwrites it and reserves it again.
    packetPropCountAt_ = buf_.size();
    AppendZeros(2);
    phase_ = Phase::Columns;
}

void TDSDataPacketWriter::AddColumnDesc(const TDSDataPacketFldDesc& desc) {
    Require(phase_ == Phase::Columns, DBERR_NA);
    Require(columnTypes_.size() < columnsAnnounced_, DBERR_NA);
    Require(desc.Name != szROWSTATE, DBERR_NA);
    const std::uint32_t code = TypeCodeOf(desc.TypeWord);
    Require(code <= dsfldMaxCode, DBERR_NA);
    Require(desc.Name.size() <= dsMaxColumnNameLength, DBERR_INVALIDPARAM);
    if (code > dsfldMaxBasicCode)
        PatchU16(dsHdrLevel, dsLevelExtendedTypes);
    buf_.resize(packetPropCountAt_);  // overwrite the reserved count
    AppendU8(static_cast<std::uint8_t>(desc.Name.size()));
    Append(desc.Name.data(), desc.Name.size());
    AppendU32(desc.TypeWord);
    AppendU16(desc.Attributes);
    columnPropCountAt_ = buf_.size();
    AppendU16(0);
    packetPropCountAt_ = buf_.size();
    AppendU16(0);
    columnTypes_.push_back(desc.TypeWord);
}

void TDSDataPacketWriter::AppendProperty(std::string_view name, std::uint32_t typeWord,
                                         std::span<const std::uint8_t> value) {
    const auto found = LayoutOf(typeWord);
    Require(found.has_value(), DBERR_INVALIDFLDTYPE);
    const TFieldLayout layout = *found;
    Require(!name.empty() && name.size() <= 0xFF, DBERR_INVALIDPARAM);
    std::span<const std::uint8_t> body;
    std::uint32_t prefix = 0;
    switch (layout.kind) {
        case TFieldLayout::Fixed:
            Require(value.size() >= layout.size, DBERR_INVALIDPARAM);
            body = value.first(layout.size);
            break;
        case TFieldLayout::Varying:
            Require(value.size() >= layout.size, DBERR_INVALIDPARAM);
            body = value.subspan(layout.size);
            Require(body.size() <= MaxForPrefix(layout.size), DBERR_INVALIDPARAM);
            prefix = static_cast<std::uint32_t>(body.size());
            break;
        case TFieldLayout::Array: {
            Require(value.size() >= 4, DBERR_INVALIDPARAM);
            const std::uint64_t count = LoadLE(value.data(), 4);
            Require(count * layout.size <= value.size() - 4, DBERR_INVALIDPARAM);
            body = value.first(4 + count * layout.size);  // count and elements as given
            break;
        }
    }
    AppendU8(static_cast<std::uint8_t>(name.size()));
    Append(name.data(), name.size());
    AppendU32(typeWord);
    if (layout.kind == TFieldLayout::Varying) {
        const std::uint8_t b[4] = {
            static_cast<std::uint8_t>(prefix), static_cast<std::uint8_t>(prefix >> 8),
            static_cast<std::uint8_t>(prefix >> 16), static_cast<std::uint8_t>(prefix >> 24)};
        Append(b, layout.size);
    }
    Append(body.data(), body.size());
}

void TDSDataPacketWriter::AddAttribute(TPcktAttrArea area, std::string_view name,
                                       std::uint32_t typeWord,
                                       std::span<const std::uint8_t> value) {
    Require(phase_ != Phase::Idle && phase_ != Phase::Finished && !deferred_, DBERR_NA);
    Require(phase_ != Phase::Rows || ReadU32(dsHdrRowCount) == 0, DBERR_NA);
    if (area == fldAttrArea) {
        Require(phase_ == Phase::Columns && !columnTypes_.empty(), DBERR_NA);
        Require(!value.empty(), DBERR_INVALIDPARAM);
        buf_.resize(packetPropCountAt_);
        AppendProperty(name, typeWord, value);
        PatchU16(columnPropCountAt_, static_cast<std::uint16_t>(ReadU16(columnPropCountAt_) + 1));
        packetPropCountAt_ = buf_.size();
        AppendU16(0);
        return;
    }
    Require(area == pcktAttrArea, DBERR_INVALIDPARAM);
    Require(phase_ == Phase::Columns || phase_ == Phase::PacketProperties, DBERR_NA);
    Require(columnTypes_.size() == columnsAnnounced_, DBERR_NA);
    phase_ = Phase::PacketProperties;
    if (value.empty()) {
        packetPropsEnded_ = true;
        return;
    }
    Require(!packetPropsEnded_, DBERR_NA);
    AppendProperty(name, typeWord, value);
    PatchU16(packetPropCountAt_, static_cast<std::uint16_t>(ReadU16(packetPropCountAt_) + 1));
}

void TDSDataPacketWriter::RecordRowOffset() {
    if (rowOffsetRecorded_)
        return;
    rowOffsetRecorded_ = true;
    if (buf_.size() <= 0xFFFF) {
        PatchU16(dsHdrRowOffset, static_cast<std::uint16_t>(buf_.size()));
        PatchU32(dsHdrFlags, ReadU32(dsHdrFlags) | dsFlagRowOffset);
    }
}

void TDSDataPacketWriter::BeginRow(std::span<const std::uint8_t> value) {
    Require(columnTypes_.size() == columnsAnnounced_, DBERR_NA);
    if (!columnTypesChecked_) {
        for (std::uint32_t t : columnTypes_)
            Require(LayoutOf(t).has_value(), DBERR_INVALIDFLDTYPE);
        columnTypesChecked_ = true;
    }
    Require(value.size() == 1, DBERR_INVALIDPARAM);
    phase_ = Phase::Rows;
    RecordRowOffset();
    AppendU8(value[0]);
    bitmapAt_ = buf_.size();
    AppendZeros((columnTypes_.size() + 3) / 4);
    nextColumn_ = 1;
    if (columnTypes_.empty()) {
        nextColumn_ = 0;
        PatchU32(dsHdrRowCount, ReadU32(dsHdrRowCount) + 1);
    }
}

void TDSDataPacketWriter::PutColumnValue(std::uint32_t typeWord,
                                         std::span<const std::uint8_t> value) {
    const TFieldLayout layout = *LayoutOf(typeWord);  // checked when the first row began
    switch (layout.kind) {
        case TFieldLayout::Fixed:
            Require(value.size() >= layout.size, DBERR_INVALIDPARAM);
            Append(value.data(), layout.size);
            break;
        case TFieldLayout::Varying: {
            Require(value.size() <= MaxForPrefix(layout.size), DBERR_INVALIDPARAM);
            const auto n = static_cast<std::uint32_t>(value.size());
            const std::uint8_t b[4] = {
                static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
            Reserve(layout.size + value.size());  // prefix and bytes in one growth step
            Append(b, layout.size);
            Append(value.data(), value.size());
            break;
        }
        case TFieldLayout::Array: {
            Require(value.size() >= 4, DBERR_INVALIDPARAM);
            const std::uint64_t count = LoadLE(value.data(), 4);
            Require(count * layout.size <= value.size() - 4, DBERR_INVALIDPARAM);
            Append(value.data(), 4 + count * layout.size);
            break;
        }
    }
}

void TDSDataPacketWriter::PutField(TPcktFldStatus status, std::span<const std::uint8_t> value) {
    Require(phase_ == Phase::Columns || phase_ == Phase::PacketProperties || phase_ == Phase::Rows,
            DBERR_NA);
    Require(!deferred_, DBERR_NA);
    if (nextColumn_ == 0) {
        Require(status == fldIsChanged, DBERR_INVALIDPARAM);
        BeginRow(value);
        return;
    }
    const std::size_t j = nextColumn_ - 1;
    switch (status) {
        case fldIsNull:
            buf_[bitmapAt_ + j / 4] |= static_cast<std::uint8_t>(1u << (2 * (j % 4)));
            break;
        case fldIsUnChanged:
            buf_[bitmapAt_ + j / 4] |= static_cast<std::uint8_t>(1u << (2 * (j % 4) + 1));
            break;
        case fldIsChanged:
            PutColumnValue(columnTypes_[j], value);
            break;
        default:
            Fail(DBERR_INVALIDPARAM);
    }
    if (++nextColumn_ > columnTypes_.size()) {
        nextColumn_ = 0;
        PatchU32(dsHdrRowCount, ReadU32(dsHdrRowCount) + 1);
    }
}

void TDSDataPacketWriter::PutFieldDeferred(std::size_t length) {
    Require(phase_ == Phase::Rows && !deferred_ && !columnTypes_.empty() &&
                nextColumn_ == columnTypes_.size(),
            DBERR_NA);
    const std::uint32_t typeWord = columnTypes_[nextColumn_ - 1];
    const auto layout = LayoutOf(typeWord);
    Require(layout && layout->kind == TFieldLayout::Varying, DBERR_INVALIDPARAM);
    Require(length <= MaxForPrefix(layout->size), DBERR_INVALIDPARAM);
    const auto n = static_cast<std::uint32_t>(length);
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                               static_cast<std::uint8_t>(n >> 16),
                               static_cast<std::uint8_t>(n >> 24)};
    Append(b, layout->size);
    nextColumn_ = 0;
    PatchU32(dsHdrRowCount, ReadU32(dsHdrRowCount) + 1);
    deferred_ = true;
}

std::vector<std::uint8_t> TDSDataPacketWriter::GetDataPacket() {
    Require(phase_ != Phase::Idle && phase_ != Phase::Finished, DBERR_NA);
    Require(columnTypes_.size() == columnsAnnounced_ && nextColumn_ == 0, DBERR_NA);
    RecordRowOffset();
    phase_ = Phase::Finished;
    capacity_ = 0;
    return std::move(buf_);
}

}  // namespace ab
