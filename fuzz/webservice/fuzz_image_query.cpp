// The image channel's query handling: field extraction and the package store, fed with any query text.
// Each input is one request; the store lives across inputs, as it does across requests.
#include "webservice/PackageStore.h"
#include "webservice/QueryFields.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static PackageStore store;
    const QString query = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const QString piece = QueryFields::value(query, QStringLiteral("data"));
    const QString group = QueryFields::value(query, QStringLiteral("sequence"));
    QueryFields::intValue(query, QStringLiteral("iterations"));
    if (QueryFields::isLastPiece(query))
        store.take(group);
    else if (!piece.isEmpty())
        store.append(group, piece.toLatin1());
    if (store.totalBytes() > PackageStore::kMaxTotalBytes || store.totalBytes() < 0)
        std::abort();
    return 0;
}
