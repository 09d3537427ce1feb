// Fuzz target: a returned table -- its member, its data blocks with next requests, every field.
#include <cstdint>

#include "dbx/TDBXJSonReader.h"
#include "dbx/TDBXJSonStreamReader.h"
#include "dbx/TDBXJSonStreamWriter.h"
#include "dbx/TDBXStreamReader.h"
#include "platform/Exception.h"
#include "support/MemoryChannel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ab;
    test::BufferChannel channel({data, data + size});
    TDBXJSonStreamWriter writer(&channel, 8192);
    TDBXJSonStreamReader reader(&channel, 256);
    writer.Open();
    reader.Open();
    try {
        auto table = TDBXJSonReader::ReadTable(writer, reader);
        table->ReadFirstBlock();
        for (int rows = 0; rows < 10000 && table->Next(); ++rows) {
            for (int c = 0; c < table->ColumnCount(); ++c) {
                try {
                    table->IsNull(c);
                    table->GetWideString(c);
                    table->GetInt64(c);
                } catch (const Exception&) {
                }
                try {
                    table->GetDouble(c);
                } catch (const Exception&) {
                }
                try {
                    table->GetStream(c)->ReadAll();
                } catch (const Exception&) {
                }
            }
        }
        table->Close();
    } catch (const Exception&) {
    }
    return 0;
}
