// The database metadata a connection reads once after its handshake: quoting characters, the
// command limit and the transaction and row-set capabilities, taken from the first row of the
// metadata query by column name.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ab {

class TDBXDatabaseMetaData {
  public:
    // Access to the first row of the answer: the column count, and a column's value by name
    // (nullopt when there is no such column).
    struct Row {
        int columnCount = 0;
        std::function<bool(std::u16string_view column)> hasColumn;
        std::function<std::u16string(std::u16string_view column)> getString;
        std::function<std::int32_t(std::u16string_view column)> getInt32;
        std::function<bool(std::u16string_view column)> getBoolean;
    };

    TDBXDatabaseMetaData() = default;
    // Reads the columns; the extended ones only when the answer has more than 9 columns.
    explicit TDBXDatabaseMetaData(const Row& row);

    std::u16string QuoteChar;
    std::u16string ProcedureQuoteChar;
    std::int32_t MaxCommands = 0;
    bool SupportsTransactions = false;
    bool SupportsNestedTransactions = false;
    bool SupportsRowSetSize = false;
    std::u16string QuotePrefix;
    std::u16string QuoteSuffix;
    bool SupportsLowerCaseIdentifiers = false;
    bool SupportsUpperCaseIdentifiers = false;
    bool SupportsSPReturnCode = false;
    bool SupportsParameterMetadata = false;
    bool SupportsCatalogFunctions = false;
    bool SupportsCatalogs = false;
    bool SupportsSchemas = false;
    // "4.0" for an answer with more than 9 columns, "3.0" otherwise.
    std::u16string MetaDataVersion = u"3.0";
};

}  // namespace ab
