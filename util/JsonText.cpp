#include "util/JsonText.h"

#include "base/HexDigit.h"

#include <QSet>
#include <QString>
#include <QVarLengthArray>

#include <cstring>
#include <memory>

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

// The closing quote of the string whose first character is at `at` (end when there is none). Plain runs are
// skipped by memchr: a quote is escaped exactly when an odd number of backslashes stands right before it.
const char *closingQuote(const char *at, const char *end)
{
    while (at < end) {
        const auto *quote = static_cast<const char *>(std::memchr(at, '"', size_t(end - at)));
        if (!quote)
            return end;
        const char *before = quote;
        while (before > at && before[-1] == '\\')
            --before;
        // Backslashes before `at` belong to what was skipped already and end with a quote, so none count.
        if ((quote - before) % 2 == 0)
            return quote;
        at = quote + 1;
    }
    return end;
}

// One member name as it stands in the text, quotes excluded.
struct Name
{
    const char *begin;
    const char *end;
    bool escaped;

    QString text() const { return escaped ? nameOf(begin, end) : QString::fromUtf8(begin, int(end - begin)); }

    // Unescaped names are compared as bytes: UTF-8 read by Qt gives the same characters for the same
    // bytes, and different characters for different well-formed bytes (malformed ones the parser refuses).
    bool sameAs(const Name &other) const
    {
        if (!escaped && !other.escaped)
            return end - begin == other.end - other.begin && std::memcmp(begin, other.begin, size_t(end - begin)) == 0;
        return text() == other.text();
    }
};

// Names of the objects open at once, innermost last. A small object's names are compared one by one, in
// place; past kLinearNames an object's names go into a hash set, so that no text costs quadratic time.
class OpenObjects
{
public:
    static constexpr int kLinearNames = 16;

    void open(bool object) { m_frames.append(Frame { object, object, m_names.size(), nullptr }); }

    void close()
    {
        if (m_frames.isEmpty())
            return;
        m_names.resize(m_frames.last().firstName);
        m_frames.removeLast();
    }

    // After a comma, an object expects a name again.
    void comma()
    {
        if (!m_frames.isEmpty() && m_frames.last().object)
            m_frames.last().expectingName = true;
    }

    bool expectingName() const { return !m_frames.isEmpty() && m_frames.last().expectingName; }

    // Records the name the innermost object expects; true when that object has it already.
    bool repeats(const Name &name)
    {
        Frame &frame = m_frames.last();
        frame.expectingName = false;
        if (frame.hashed)
            return !insertHashed(frame, name.text());
        for (int i = frame.firstName; i < m_names.size(); ++i)
            if (m_names[i].sameAs(name))
                return true;
        m_names.append(name);
        if (m_names.size() - frame.firstName > kLinearNames) {
            frame.hashed = std::make_shared<QSet<QString>>();
            for (int i = frame.firstName; i < m_names.size(); ++i)
                frame.hashed->insert(m_names[i].text());
            m_names.resize(frame.firstName);
        }
        return false;
    }

private:
    struct Frame
    {
        bool object; // an array's frame has no names
        bool expectingName;
        int firstName; // its names in m_names start here (while not hashed)
        std::shared_ptr<QSet<QString>> hashed;
    };

    static bool insertHashed(Frame &frame, const QString &name)
    {
        const int before = frame.hashed->size();
        frame.hashed->insert(name);
        return frame.hashed->size() > before;
    }

    QVarLengthArray<Frame, 16> m_frames;
    QVarLengthArray<Name, 32> m_names;
};

} // namespace

bool JsonText::repeatsAMemberName(const QByteArray &text)
{
    OpenObjects open;
    const char *at = text.constData();
    const char *const end = at + text.size();
    while (at < end) {
        const char c = *at++;
        switch (c) {
        case '{':
            open.open(true);
            break;
        case '[':
            open.open(false);
            break;
        case '}':
        case ']':
            open.close();
            break;
        case ',':
            open.comma();
            break;
        case '"': {
            const char *const begin = at;
            const char *const stop = closingQuote(at, end);
            at = stop + (stop < end ? 1 : 0);
            if (!open.expectingName())
                break; // a value
            const bool escaped = std::memchr(begin, '\\', size_t(stop - begin)) != nullptr;
            if (open.repeats(Name { begin, stop, escaped }))
                return true;
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
