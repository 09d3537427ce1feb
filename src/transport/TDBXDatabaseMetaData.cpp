// The database metadata read after connecting.
#include "transport/TDBXDatabaseMetaData.h"

#include "transport/TransportConstants.h"

namespace ab {
namespace C = TransportConstants;

TDBXDatabaseMetaData::TDBXDatabaseMetaData(const Row& row) {
    QuoteChar = row.getString(C::QuoteChar);
    ProcedureQuoteChar = row.getString(C::ProcedureQuoteChar);
    MaxCommands = row.getInt32(C::MaxCommands);
    SupportsTransactions = row.getBoolean(C::SupportsTransactions);
    SupportsNestedTransactions = row.getBoolean(C::SupportsNestedTransactions);
    SupportsRowSetSize = row.getBoolean(C::SupportsRowSetSize);
    if (row.columnCount <= 9)
        return;
    MetaDataVersion = u"4.0";
    QuotePrefix = row.getString(C::QuotePrefix);
    QuoteSuffix = row.getString(C::QuoteSuffix);
    SupportsLowerCaseIdentifiers = row.getBoolean(C::SupportsLowerCaseIdentifiers);
    SupportsUpperCaseIdentifiers = row.getBoolean(C::SupportsUpperCaseIdentifiers);
    SupportsSPReturnCode = row.getBoolean(C::SupportsSPReturnCode);
    auto optional = [&](std::u16string_view column, bool& field) {
        if (row.hasColumn(column))
            field = row.getBoolean(column);
    };
    optional(C::SupportsParameterMetadata, SupportsParameterMetadata);
    optional(C::SupportsCatalogFunctions, SupportsCatalogFunctions);
    optional(C::SupportsCatalogs, SupportsCatalogs);
    optional(C::SupportsSchemas, SupportsSchemas);
}

}  // namespace ab
