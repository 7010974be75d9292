#pragma once

#include <QFlags>

// What the response writer must know about the request it answers.
enum class ResponseFlag {
    Http10 = 1, // the request was HTTP/1.0
    Http11 = 2, // the request was HTTP/1.1
    KeepAlive = 4, // the connection may carry another request
};
Q_DECLARE_FLAGS(ResponseFlags, ResponseFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(ResponseFlags)
