// Fuzz target: row decoding -- stepping to every field and reading it in every form.
#include <cstdint>
#include <span>

#include "dbx/TDBXRowBuffer.h"
#include "dbx/TDBXStreamReader.h"
#include "platform/Exception.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ab;
    TDBXRowBuffer row(0);
    row.SetRowBytes(std::span<const std::uint8_t>(data, size));
    for (int ordinal = 0; ordinal < 24; ++ordinal) {
        try {
            row.GoToField(ordinal);
        } catch (const Exception&) {
            break;
        }
        const auto reads = {
            +[](TDBXRowBuffer& r) { r.IsNull(), r.IsBlobHeader(), r.IsLastParameterBlobSegment(); },
            +[](TDBXRowBuffer& r) { r.ReadString(); },
            +[](TDBXRowBuffer& r) { r.ReadInt64(); },
            +[](TDBXRowBuffer& r) { r.ReadDouble(); },
            +[](TDBXRowBuffer& r) { r.ReadSingle(); },
            +[](TDBXRowBuffer& r) { r.ReadTimestamp(); },
            +[](TDBXRowBuffer& r) { r.ReadJSON(); },
            +[](TDBXRowBuffer& r) { r.ReadInlineBytes(); },
            +[](TDBXRowBuffer& r) { r.ReadBytes()->ReadAll(); },
        };
        for (auto read : reads) {
            try {
                read(row);
            } catch (const Exception&) {
            }
        }
    }
    try {
        row.SetRowStart(0, 0);
        row.RowEnd(16);
    } catch (const Exception&) {
    }
    return 0;
}
