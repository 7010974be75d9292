#include "window/WindowAnswerText.h"

namespace {

QChar hexDigit(uint value)
{
    return QLatin1Char(char(value < 10 ? '0' + value : 'a' + value - 10));
}

// \u and four lower-case hexadecimal digits.
void appendEscape(QString &out, ushort unit)
{
    out += QLatin1String("\\u");
    for (int shift = 12; shift >= 0; shift -= 4)
        out += hexDigit((unit >> shift) & 0xf);
}

} // namespace

void WindowAnswerText::appendString(QString &out, const QString &text)
{
    out += QLatin1Char('"');
    const ushort *unit = text.utf16();
    const ushort *const end = unit + text.size();
    for (; unit != end; ++unit) {
        const ushort u = *unit;
        if (u >= 0x20 && u != '"' && u != '\\' && (u < 0xd800 || u > 0xdfff)) {
            out += QChar(u);
            continue;
        }
        switch (u) {
        case '"': out += QLatin1String("\\\""); continue;
        case '\\': out += QLatin1String("\\\\"); continue;
        case '\b': out += QLatin1String("\\b"); continue;
        case '\f': out += QLatin1String("\\f"); continue;
        case '\n': out += QLatin1String("\\n"); continue;
        case '\r': out += QLatin1String("\\r"); continue;
        case '\t': out += QLatin1String("\\t"); continue;
        default: break;
        }
        if (u < 0x20) {
            appendEscape(out, u);
        } else if (u < 0xdc00 && unit + 1 != end && unit[1] >= 0xdc00 && unit[1] <= 0xdfff) {
            // A surrogate pair is one character, written as it is.
            out += QChar(u);
            out += QChar(*++unit);
        } else {
            // A lone surrogate has no UTF-8 form: it is written as an escape.
            appendEscape(out, u);
        }
    }
    out += QLatin1Char('"');
}

QString WindowAnswerText::compose(
    const QString &sequence, const QString &uuid, int errorModule, int errorCode, const QString &version)
{
    QString out;
    out.reserve(64 + sequence.size() + uuid.size() + version.size());
    out += QLatin1String("{\"errorCode\":");
    out += QString::number(errorCode);
    out += QLatin1String(",\"errorModule\":");
    out += QString::number(errorModule);
    if (!version.isNull()) {
        out += QLatin1String(",\"localServiceVersion\":");
        appendString(out, version);
    }
    out += QLatin1String(",\"sequence\":");
    appendString(out, sequence);
    out += QLatin1String(",\"uuid\":");
    appendString(out, uuid);
    out += QLatin1Char('}');
    return out;
}
