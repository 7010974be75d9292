#include "util/JsonText.h"

#include "base/HexDigit.h"

#include <QSet>
#include <QString>
#include <QVector>

namespace {

// A member name as Qt will read it: its escapes turned into the characters they stand for (UTF-16, so
// that "\u00e9" and a raw "é" compare equal).
QString nameOf(const char *begin, const char *end)
{
    QString name;
    const char *plain = begin;
    for (const char *at = begin; at < end; ++at) {
        if (*at != '\\')
            continue;
        name += QString::fromUtf8(plain, int(at - plain));
        if (++at >= end)
            break;
        switch (*at) {
        case 'b': name += QLatin1Char('\b'); break;
        case 'f': name += QLatin1Char('\f'); break;
        case 'n': name += QLatin1Char('\n'); break;
        case 'r': name += QLatin1Char('\r'); break;
        case 't': name += QLatin1Char('\t'); break;
        case 'u': {
            int unit = 0;
            for (int i = 1; i <= 4 && at + i < end; ++i)
                unit = unit * 16 + qMax(0, Base::hexDigitValue(static_cast<unsigned char>(at[i])));
            name += QChar(ushort(unit));
            at += qMin<std::ptrdiff_t>(4, end - at - 1);
            break;
        }
        default: name += QLatin1Char(*at); break; // \" \\ \/
        }
        plain = at + 1;
    }
    name += QString::fromUtf8(plain, int(end - plain));
    return name;
}

} // namespace

bool JsonText::repeatsAMemberName(const QByteArray &text)
{
    // One frame per open object or array; an array's frame has no names.
    struct Frame
    {
        bool object = false;
        bool expectingName = false;
        QSet<QString> names;
    };
    QVector<Frame> open;
    const char *at = text.constData();
    const char *const end = at + text.size();
    while (at < end) {
        const char c = *at++;
        switch (c) {
        case '{':
            open.append(Frame { true, true, {} });
            break;
        case '[':
            open.append(Frame {});
            break;
        case '}':
        case ']':
            if (!open.isEmpty())
                open.removeLast();
            break;
        case ',':
            if (!open.isEmpty() && open.last().object)
                open.last().expectingName = true;
            break;
        case '"': {
            const char *begin = at;
            bool escaped = false;
            while (at < end && *at != '"') {
                if (*at == '\\') {
                    escaped = true;
                    ++at;
                }
                ++at;
            }
            const char *stop = qMin(at, end);
            ++at; // the closing quote
            if (open.isEmpty() || !open.last().expectingName)
                break; // a value
            Frame &frame = open.last();
            frame.expectingName = false;
            const QString name = escaped ? nameOf(begin, stop) : QString::fromUtf8(begin, int(stop - begin));
            if (frame.names.contains(name))
                return true;
            frame.names.insert(name);
            break;
        }
        default:
            break;
        }
    }
    return false;
}

QJsonDocument JsonText::parse(const QByteArray &text)
{
    if (repeatsAMemberName(text))
        return QJsonDocument();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    return error.error == QJsonParseError::NoError ? document : QJsonDocument();
}
