#include "transport/StatusReasonTable.h"

#include "transport/HttpResponseStatus.h"

#include <QHash>

namespace {

const QHash<int, QByteArray> &reasonPhrases()
{
    static const QHash<int, QByteArray> table = {
#define LS_HTTP_STATUS_PHRASE(code, name, phrase) {code, QByteArrayLiteral(phrase)},
        LS_HTTP_RESPONSE_STATUSES(LS_HTTP_STATUS_PHRASE)
#undef LS_HTTP_STATUS_PHRASE
    };
    return table;
}

} // namespace

QByteArray StatusReasonTable::phrase(int statusCode)
{
    return reasonPhrases().value(statusCode);
}

int StatusReasonTable::size()
{
    return reasonPhrases().size();
}
