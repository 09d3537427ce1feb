// TDBXJSonReader: table member parsing, row stepping over data blocks, next and close requests.
#include "dbx/TDBXJSonReader.h"

#include "dbx/DbxConstants.h"
#include "dbx/TDBXError.h"
#include "dbx/TDBXJSonStreamReader.h"
#include "dbx/TDBXJSonStreamWriter.h"
#include "dbx/TDBXStreamReader.h"
#include "platform/Text.h"

namespace ab {

namespace {

using Tok = TDBXTokens;

// Column flags of the older form, translated to value-type flags.
int TranslateColumnFlags(int flags) {
    int out = TDBXValueTypeFlags::ExtendedType;
    if (flags & 0x01)
        out |= 0x02;
    if (flags & 0x02)
        out |= 0x04;
    if (flags & 0x08)
        out |= 0x01;
    if (flags & 0x40)
        out |= 0x08;
    return out;
}

}  // namespace

TDBXJSonReader::TDBXJSonReader(TDBXJSonStreamWriter& writer, TDBXJSonStreamReader& reader,
                               Fields fields, std::vector<TDBXValueType> columns)
    : writer_(writer), reader_(reader), fields_(fields), columns_(std::move(columns)) {
    rows_.SetClient(&writer_, &reader_, false, fields_.rowHandle);
    rows_.SetCommandHandle(fields_.commandHandle);
}

std::unique_ptr<TDBXJSonReader> TDBXJSonReader::ReadTable(TDBXJSonStreamWriter& writer,
                                                          TDBXJSonStreamReader& reader) {
    Fields fields;
    std::vector<TDBXValueType> columns;
    reader.Next(Tok::TokenArrayStart);
    for (;;) {
        reader.Next(Tok::TokenObjectStart);
        const int key = reader.ReadStringCode();
        reader.Next(Tok::TokenNameSeparator);
        if (key == TDBXStringCodes::Fields) {
            reader.Next(Tok::TokenArrayStart);
            fields.commandHandle = reader.ReadInt();
            reader.NextValueSeparator();
            fields.updateable = reader.ReadBoolean();
            int token = reader.Next();
            if (token == Tok::TokenValueSeparator) {
                fields.rowHandle = reader.ReadInt();
                token = reader.Next();
            }
            if (token == Tok::TokenValueSeparator) {
                fields.numberFormat = reader.ReadInt();
                token = reader.Next();
            }
            if (token == Tok::TokenValueSeparator) {
                fields.valueTypeFlags = reader.ReadBoolean();
                token = reader.Next();
            }
            if (token != Tok::TokenArrayEnd)
                reader.FailUnexpectedToken(Tok::TokenArrayEnd, token);
            reader.Next(Tok::TokenObjectEnd);
        } else if (key == TDBXStringCodes::Columns) {
            reader.Next(Tok::TokenArrayStart);
            const std::int32_t count = reader.ReadInt();
            columns.clear();
            // Entries are read as they come; the announced count only bounds the loop.
            for (std::int32_t i = 0; i < count; ++i) {
                reader.NextValueSeparator();
                reader.Next(Tok::TokenArrayStart);
                TDBXValueType column;
                column.SetName(reader.ReadString());
                reader.NextValueSeparator();
                column.SetDataType(reader.ReadInt());
                reader.NextValueSeparator();
                column.SetSubType(reader.ReadInt());
                reader.NextValueSeparator();
                column.SetPrecision(reader.ReadLong());
                reader.NextValueSeparator();
                column.SetScale(reader.ReadInt());
                reader.NextValueSeparator();
                column.SetSize(reader.ReadLong());
                reader.NextValueSeparator();
                column.SetValueTypeFlags(reader.ReadInt());
                int token = reader.Next();
                if (token == Tok::TokenValueSeparator) {
                    column.SetParameterDirection(reader.ReadInt());
                    token = reader.Next();
                }
                if (token != Tok::TokenArrayEnd)
                    reader.FailUnexpectedToken(Tok::TokenArrayEnd, token);
                column.SetOrdinal(i);
                columns.push_back(std::move(column));
            }
            reader.Next(Tok::TokenArrayEnd);
            reader.Next(Tok::TokenObjectEnd);
        } else {
            reader.SkipToEndOfObject();
        }
        const int token = reader.Next();
        if (token == Tok::TokenArrayEnd)
            break;
        if (token != Tok::TokenValueSeparator)
            reader.FailUnexpectedToken(Tok::TokenArrayEnd, token);
    }
    for (auto& column : columns) {
        if (!fields.valueTypeFlags)
            column.SetValueTypeFlags(TranslateColumnFlags(column.GetValueTypeFlags()));
        column.ClearModified();
        column.SetReadOnly();
    }
    return std::make_unique<TDBXJSonReader>(writer, reader, fields, std::move(columns));
}

void TDBXJSonReader::ReadBlock() {
    std::vector<std::uint8_t> bytes;
    const std::int32_t count = reader_.ReadDataBlock(bytes);
    lastBlock_ = count <= 0;
    rows_.SetRowBytes(bytes);
    nextRowAt_ = 0;
}

const TDBXValueType& TDBXJSonReader::GetValueType(int ordinal) const {
    if (ordinal < 0 || ordinal >= ColumnCount())
        throw TDBXError(TDBXErrorCodes::InvalidOrdinal,
                        Format(u"Invalid Ordinal:  %d", {IntToStr(ordinal)}));
    return columns_[static_cast<std::size_t>(ordinal)];
}

int TDBXJSonReader::GetOrdinal(std::u16string_view name) const {
    for (int i = 0; i < ColumnCount(); ++i) {
        if (columns_[static_cast<std::size_t>(i)].GetName() == name)
            return i;
    }
    return -1;
}

bool TDBXJSonReader::Next() {
    onRow_ = false;
    if (closed_)
        return false;
    for (;;) {
        if (nextRowAt_ < rows_.RowBytes().size()) {
            rows_.SetRowStart(nextRowAt_, rowNumber_ + 1);
            const std::size_t end = rows_.RowEnd(ColumnCount());
            if (end == nextRowAt_)
                throw TDBXError(TDBXErrorCodes::None, u"Unexpected header");
            nextRowAt_ = end;
            ++rowNumber_;
            onRow_ = true;
            return true;
        }
        if (lastBlock_)
            return false;
        writer_.WriteClientNextObject(fields_.rowHandle, rowNumber_ + 1, fields_.commandHandle);
        writer_.Flush();
        ReadBlock();
    }
}

TDBXRowBuffer& TDBXJSonReader::Field(int ordinal) {
    GetValueType(ordinal);
    if (!onRow_)
        throw TDBXError(TDBXErrorCodes::EOF_);
    rows_.GoToField(ordinal);
    return rows_;
}

bool TDBXJSonReader::IsNull(int ordinal) {
    return Field(ordinal).IsNull();
}

std::u16string TDBXJSonReader::GetWideString(int ordinal) {
    TDBXRowBuffer& row = Field(ordinal);
    return row.IsNull() ? std::u16string() : row.ReadString();
}

bool TDBXJSonReader::GetBoolean(int ordinal) {
    TDBXRowBuffer& row = Field(ordinal);
    return !row.IsNull() && row.ReadBoolean();
}

std::int32_t TDBXJSonReader::GetInt32(int ordinal) {
    TDBXRowBuffer& row = Field(ordinal);
    return row.IsNull() ? 0 : row.ReadInt32();
}

std::int64_t TDBXJSonReader::GetInt64(int ordinal) {
    TDBXRowBuffer& row = Field(ordinal);
    return row.IsNull() ? 0 : row.ReadInt64();
}

double TDBXJSonReader::GetDouble(int ordinal) {
    TDBXRowBuffer& row = Field(ordinal);
    return row.IsNull() ? 0 : row.ReadDouble();
}

std::unique_ptr<TDBXStreamReader> TDBXJSonReader::GetStream(int ordinal) {
    return Field(ordinal).ReadBytes();
}

void TDBXJSonReader::Close() {
    if (closed_)
        return;
    closed_ = true;
    onRow_ = false;
    writer_.WriteReaderCloseObject(fields_.rowHandle, fields_.commandHandle);
}

}  // namespace ab
