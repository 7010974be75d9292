#pragma once

// Status codes with their reason phrases: one list for the enumeration and the phrase table.
#define LS_HTTP_RESPONSE_STATUSES(X)                                                                         \
    X(100, Continue, "Continue")                                                                             \
    X(101, SwitchingProtocols, "Switching Protocols")                                                        \
    X(102, Processing, "Processing")                                                                         \
    X(103, Checkpoint, "Checkpoint")                                                                         \
    X(200, Ok, "OK")                                                                                         \
    X(201, Created, "Created")                                                                               \
    X(202, Accepted, "Accepted")                                                                             \
    X(203, NonAuthoritativeInformation, "Non-Authoritative Information")                                     \
    X(204, NoContent, "No Content")                                                                          \
    X(205, ResetContent, "Reset Content")                                                                    \
    X(206, PartialContent, "Partial Content")                                                                \
    X(207, MultiStatus, "Multi-Status")                                                                      \
    X(208, AlreadyReported, "Already Reported")                                                              \
    X(226, ImUsed, "IM Used")                                                                                \
    X(300, MultipleChoices, "Multiple Choices")                                                              \
    X(301, MovedPermanently, "Moved Permanently")                                                            \
    X(302, Found, "Found")                                                                                   \
    X(303, SeeOther, "See Other")                                                                            \
    X(304, NotModified, "Not Modified")                                                                      \
    X(305, UseProxy, "Use Proxy")                                                                            \
    X(306, SwitchProxy, "Switch Proxy")                                                                      \
    X(307, TemporaryRedirect, "Temporary Redirect")                                                          \
    X(308, ResumeIncomplete, "Resume Incomplete")                                                            \
    X(400, BadRequest, "Bad Request")                                                                        \
    X(401, Unauthorized, "Unauthorized")                                                                     \
    X(402, PaymentRequired, "Payment Required")                                                              \
    X(403, Forbidden, "Forbidden")                                                                           \
    X(404, NotFound, "Not Found")                                                                            \
    X(405, MethodNotAllowed, "Method Not Allowed")                                                           \
    X(406, NotAcceptable, "Not Acceptable")                                                                  \
    X(407, ProxyAuthenticationRequired, "Proxy Authentication Required")                                     \
    X(408, RequestTimeout, "Request Timeout")                                                                \
    X(409, Conflict, "Conflict")                                                                             \
    X(410, Gone, "Gone")                                                                                     \
    X(411, LengthRequired, "Length Required")                                                                \
    X(412, PreconditionFailed, "Precondition Failed")                                                        \
    X(413, RequestEntityTooLarge, "Request Entity Too Large")                                                \
    X(414, RequestUriTooLong, "Request-URI Too Long")                                                        \
    X(415, UnsupportedMediaType, "Unsupported Media Type")                                                   \
    X(416, RequestedRangeNotSatisfiable, "Requested Range Not Satisfiable")                                  \
    X(417, ExpectationFailed, "Expectation Failed")                                                          \
    X(418, ImATeapot, "I'm a teapot")                                                                        \
    X(422, UnprocessableEntity, "Unprocessable Entity")                                                      \
    X(423, Locked, "Locked")                                                                                 \
    X(424, FailedDependency, "Failed Dependency")                                                            \
    X(425, UnorderedCollection, "Unordered Collection")                                                      \
    X(426, UpgradeRequired, "Upgrade Required")                                                              \
    X(428, PreconditionRequired, "Precondition Required")                                                    \
    X(429, TooManyRequests, "Too Many Requests")                                                             \
    X(431, RequestHeaderFieldsTooLarge, "Request Header Fields Too Large")                                   \
    X(444, NoResponse, "No Response")                                                                        \
    X(449, RetryWith, "Retry With")                                                                          \
    X(499, ClientClosedRequest, "Client Closed Request")                                                     \
    X(500, InternalServerError, "Internal Server Error")                                                     \
    X(501, NotImplemented, "Not Implemented")                                                                \
    X(502, BadGateway, "Bad Gateway")                                                                        \
    X(503, ServiceUnavailable, "Service Unavailable")                                                        \
    X(504, GatewayTimeout, "Gateway Timeout")                                                                \
    X(505, HttpVersionNotSupported, "HTTP Version Not Supported")                                            \
    X(506, VariantAlsoNegotiates, "Variant Also Negotiates")                                                 \
    X(507, InsufficientStorage, "Insufficient Storage")                                                      \
    X(508, LoopDetected, "Loop Detected")                                                                    \
    X(509, BandwidthLimitExceeded, "Bandwidth Limit Exceeded")                                               \
    X(510, NotExtended, "Not Extended")

// A status code; the numeric value is the code itself.
enum class HttpResponseStatus : int {
#define LS_HTTP_STATUS_ENUMERATOR(code, name, phrase) name = code,
    LS_HTTP_RESPONSE_STATUSES(LS_HTTP_STATUS_ENUMERATOR)
#undef LS_HTTP_STATUS_ENUMERATOR
};
