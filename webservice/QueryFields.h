#pragma once

#include <QString>

// Fields of the URL queries of the image channel and of the page check.
//
// The value of key K is the text after the first "&K=", cut at the next "&"; a missing key gives
// the empty text. A key is only found behind an "&": a query that begins with "K=" has no field K.
class QueryFields
{
public:
    static QString value(const QString &query, const QString &key);

    // The last piece of a packed request carries "&isLast=true" anywhere in its query.
    static bool isLastPiece(const QString &query);

    // A decimal integer field; 0 when it is missing or not a number.
    static int intValue(const QString &query, const QString &key);
};
