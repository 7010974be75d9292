#include "transport/Headers.h"

namespace {

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

QByteArray withoutTrailingBlanks(const QByteArray &value)
{
    int size = value.size();
    while (size > 0 && (value.at(size - 1) == ' ' || value.at(size - 1) == '\t'))
        --size;
    return size == value.size() ? value : value.left(size);
}

} // namespace

bool operator==(const HeaderName &a, const HeaderName &b)
{
    const int size = a.m_name.size();
    if (size != b.m_name.size())
        return false;
    const char *x = a.m_name.constData();
    const char *y = b.m_name.constData();
    for (int i = 0; i < size; ++i) {
        if (asciiLower(x[i]) != asciiLower(y[i]))
            return false;
    }
    return true;
}

// The hash is taken over the lower-cased name, so names equal but for case land in one bucket.
uint qHash(const HeaderName &name, uint seed)
{
    uint hash = seed ^ 0x9e3779b9u;
    for (const char c : name.m_name)
        hash = hash * 31u + uchar(asciiLower(c));
    return hash;
}

void Headers::add(const QByteArray &name, const QByteArray &value)
{
    m_fields.insert(HeaderName(name), withoutTrailingBlanks(value));
}

void Headers::set(const QByteArray &name, const QByteArray &value)
{
    m_fields.replace(HeaderName(name), withoutTrailingBlanks(value));
}

int Headers::remove(const QByteArray &name)
{
    return m_fields.remove(HeaderName(name));
}

bool Headers::contains(const QByteArray &name, const QByteArray &value) const
{
    return m_fields.contains(HeaderName(name), value);
}

QByteArray Headers::value(const QByteArray &name, const QByteArray &defaultValue) const
{
    return m_fields.value(HeaderName(name), defaultValue);
}
