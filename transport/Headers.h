#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QMultiHash>

// The name of a header field: compares and hashes without regard to ASCII case, keeps the bytes as sent.
class HeaderName
{
public:
    HeaderName() = default;
    HeaderName(const QByteArray &name)
        : m_name(name)
    {
    }

    const QByteArray &bytes() const { return m_name; }

    friend bool operator==(const HeaderName &a, const HeaderName &b);
    friend uint qHash(const HeaderName &name, uint seed);

private:
    QByteArray m_name;
};

// A multi-map of header fields. Names compare case-insensitively, values exactly; one name may hold
// several values. Iteration follows the hash order, not the order of arrival. Names and values are kept
// as given, except that trailing spaces and tabs of a value are cut.
class Headers
{
public:
    using Map = QMultiHash<HeaderName, QByteArray>;
    using const_iterator = Map::const_iterator;

    // One more value for the name.
    void add(const QByteArray &name, const QByteArray &value);
    // Replaces the value most recently added for the name, or adds it.
    void set(const QByteArray &name, const QByteArray &value);
    // Removes every value of the name; returns how many there were.
    int remove(const QByteArray &name);
    void clear() { m_fields.clear(); }

    bool contains(const QByteArray &name) const { return m_fields.contains(HeaderName(name)); }
    // Whether the name holds this value (values compare exactly).
    bool contains(const QByteArray &name, const QByteArray &value) const;
    // Every value of the name, the most recently added first.
    QList<QByteArray> values(const QByteArray &name) const { return m_fields.values(HeaderName(name)); }
    // The value most recently added for the name, or defaultValue.
    QByteArray value(const QByteArray &name, const QByteArray &defaultValue = QByteArray()) const;

    int size() const { return m_fields.size(); }
    bool isEmpty() const { return m_fields.isEmpty(); }
    const_iterator begin() const { return m_fields.cbegin(); }
    const_iterator end() const { return m_fields.cend(); }

    friend bool operator==(const Headers &a, const Headers &b) { return a.m_fields == b.m_fields; }
    friend bool operator!=(const Headers &a, const Headers &b) { return !(a == b); }

private:
    Map m_fields;
};

Q_DECLARE_METATYPE(Headers)
