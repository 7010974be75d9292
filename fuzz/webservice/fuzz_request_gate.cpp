// The request gate on any header fields: one "Name: value" a line. Whatever the fields, the gate decides,
// and a preflight answer built from them keeps its own lines: nothing a peer sends starts a new one.
#include "transport/Headers.h"
#include "webservice/RequestGate.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const RequestGate loopback;
    static const RequestGate widened({true, {QStringLiteral("nvr.local")}, {QStringLiteral("https://cloud.example.com"), QStringLiteral("null")}});
    static const RequestGate any({false, {}, {QStringLiteral("*")}});
    Headers headers;
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    for (const QByteArray &line : input.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon > 0)
            headers.add(line.left(colon), line.mid(colon + 1).trimmed());
    }
    for (const RequestGate *gate : {&loopback, &widened, &any}) {
        if (gate->check(headers) == RequestGate::Verdict::Allowed && RequestGate::isPreflight("OPTIONS", headers)) {
            const QByteArray answer = RequestGate::preflightAnswer(headers);
            const int lines = answer.count("\r\n");
            if (!answer.endsWith("\r\n\r\n") || lines < 8 || lines > 9 || answer.count('\n') != lines
                || answer.count('\r') != lines)
                std::abort();
        }
    }
    return 0;
}
