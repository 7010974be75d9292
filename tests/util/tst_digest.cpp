#include "util/CBase64.h"
#include "util/Sha256.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QtTest>

using namespace private_encrypt_space;

namespace {

QByteArray sha256HexOf(const QByteArray &data)
{
    char hex[65];
    return QByteArray(sha256Hex(data.constData(), data.size(), hex));
}

QByteArray hmacOf(const QByteArray &key, const QByteArray &message)
{
    std::uint8_t mac[kSha256DigestSize];
    hmacSha256(reinterpret_cast<const std::uint8_t *>(key.constData()), key.size(),
        reinterpret_cast<const std::uint8_t *>(message.constData()), message.size(), mac);
    return QByteArray(reinterpret_cast<const char *>(mac), sizeof mac);
}

QByteArray decodeBase64(const QByteArray &text)
{
    QByteArray out(text.size() * 3 / 4 + 1, '\xee');
    const std::size_t n
        = CBase64::decode(reinterpret_cast<unsigned char *>(out.data()), text.constData(), text.size());
    // The counting pass must agree with the writing pass, and nothing past the count is touched.
    if (n != CBase64::decodedLength(text.constData(), text.size()) || out.at(int(n)) != '\xee')
        return "<length mismatch>";
    return out.left(int(n));
}

// Bytes that exercise every byte value and are not periodic in 64.
QByteArray patternBytes(int length)
{
    QByteArray data(length, '\0');
    for (int i = 0; i < length; ++i)
        data[i] = char((i * 7 + i / 13) & 0xff);
    return data;
}

} // namespace

class TestDigest : public QObject
{
    Q_OBJECT

private slots:
    void sha256KnownDigests_data();
    void sha256KnownDigests();
    void sha256MatchesOracleAtEveryPaddingBoundary();
    void sha256StreamingInPiecesEqualsOneShot();
    void hmacRfc4231_data();
    void hmacRfc4231();
    void hmacMatchesOracleForKeyLengths();
    void base64Decode_data();
    void base64Decode();
    void base64RoundTripsOracleEncoding();
};

void TestDigest::sha256KnownDigests_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("digest");
    QTest::newRow("empty") << QByteArray()
                           << QByteArray("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    QTest::newRow("abc") << QByteArray("abc")
                         << QByteArray("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    QTest::newRow("55 bytes") << QByteArray(
        55, 'a') << QByteArray("9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
    QTest::newRow("56 bytes") << QByteArray("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")
                              << QByteArray(
                                     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    QTest::newRow("64 bytes") << QByteArray(
        64, 'a') << QByteArray("ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
    QTest::newRow("million a") << QByteArray(
        1000000, 'a') << QByteArray("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

void TestDigest::sha256KnownDigests()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, digest);
    QCOMPARE(sha256HexOf(input), digest);
}

void TestDigest::sha256MatchesOracleAtEveryPaddingBoundary()
{
    for (int length = 0; length <= 3 * 64 + 1; ++length) {
        const QByteArray data = patternBytes(length);
        QCOMPARE(sha256HexOf(data), QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
    }
}

void TestDigest::sha256StreamingInPiecesEqualsOneShot()
{
    const QByteArray data = patternBytes(5000);
    const QByteArray expected = QCryptographicHash::hash(data, QCryptographicHash::Sha256);
    for (int piece : {1, 3, 63, 64, 65, 1000}) {
        Sha256Context context;
        sha256Start(context);
        for (int offset = 0; offset < data.size(); offset += piece) {
            const int n = qMin(piece, data.size() - offset);
            sha256Update(context, reinterpret_cast<const std::uint8_t *>(data.constData()) + offset, n);
        }
        std::uint8_t digest[kSha256DigestSize];
        sha256Finish(context, digest);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(digest), sizeof digest), expected);
    }
}

void TestDigest::hmacRfc4231_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("mac"); // hex; a shorter one is compared as a prefix (case 5 truncates)
    QByteArray key4;
    for (char c = 1; c <= 25; ++c)
        key4.append(c);
    QTest::newRow("case 1") << QByteArray(20, '\x0b') << QByteArray("Hi There")
                            << QByteArray("b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
    QTest::newRow("case 2") << QByteArray("Jefe") << QByteArray("what do ya want for nothing?")
                            << QByteArray("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    QTest::newRow("case 3") << QByteArray(20, '\xaa') << QByteArray(50, '\xdd')
                            << QByteArray("773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe");
    QTest::newRow("case 4") << key4 << QByteArray(50, '\xcd')
                            << QByteArray("82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b");
    QTest::newRow("case 5") << QByteArray(20, '\x0c') << QByteArray("Test With Truncation")
                            << QByteArray("a3b6167473100ee06e0c796c2955552b");
    QTest::newRow("case 6") << QByteArray(131, '\xaa')
                            << QByteArray("Test Using Larger Than Block-Size Key - Hash Key First")
                            << QByteArray("60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
    QTest::newRow("case 7") << QByteArray(131, '\xaa')
                            << QByteArray(
                                   "This is a test using a larger than block-size key and a larger than "
                                   "block-size data. The key needs to be hashed before being used by the "
                                   "HMAC algorithm.")
                            << QByteArray("9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2");
}

void TestDigest::hmacRfc4231()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, mac);
    QCOMPARE(hmacOf(key, message).toHex().left(mac.size()), mac);
}

void TestDigest::hmacMatchesOracleForKeyLengths()
{
    const QByteArray message = patternBytes(200);
    for (int keyLength : {0, 1, 32, 63, 64, 65, 128, 200}) {
        const QByteArray key = patternBytes(keyLength + 1).mid(1);
        QCOMPARE(
            hmacOf(key, message), QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha256));
    }
}

void TestDigest::base64Decode_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("output");
    QTest::newRow("line break between groups") << QByteArray("QUJD\nREVG") << QByteArray("ABCDEF");
    QTest::newRow("foreign bytes inside groups") << QByteArray(" Q\tU-J\r\nD.") << QByteArray("ABC");
    QTest::newRow("bytes above 0x7f skipped") << QByteArray("\xc3Q\x80UJ\xff"
                                                            "D")
                                              << QByteArray("ABC");
    QTest::newRow("two bytes with =") << QByteArray("QUI=") << QByteArray("AB");
    QTest::newRow("two bytes without =") << QByteArray("QUI") << QByteArray("AB");
    QTest::newRow("one byte with ==") << QByteArray("QQ==") << QByteArray("A");
    QTest::newRow("one byte without =") << QByteArray("QQ") << QByteArray("A");
    QTest::newRow("lone character gives nothing") << QByteArray("Q") << QByteArray();
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("= first or second is skipped") << QByteArray("=Q=UJD") << QByteArray("ABC");
    QTest::newRow("= third ends decoding") << QByteArray("QQ==QUJD") << QByteArray("A");
    QTest::newRow("= fourth ends decoding") << QByteArray("QUI=QUJD") << QByteArray("AB");
    QTest::newRow("= after a full group ends nothing early")
        << QByteArray("QUJD=REVG") << QByteArray("ABCDEF");
    QTest::newRow("every bit pattern") << QByteArray("AP8A/w==") << QByteArray("\x00\xff\x00\xff", 4);
}

void TestDigest::base64Decode()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, output);
    QCOMPARE(decodeBase64(input), output);
}

void TestDigest::base64RoundTripsOracleEncoding()
{
    for (int length = 0; length <= 100; ++length) {
        const QByteArray data = patternBytes(length);
        QByteArray encoded = data.toBase64();
        for (int i = 76; i < encoded.size(); i += 78)
            encoded.insert(i, "\r\n");
        QCOMPARE(decodeBase64(encoded), data);
        QCOMPARE(decodeBase64(data.toBase64(QByteArray::OmitTrailingEquals)), data);
    }
}

QTEST_APPLESS_MAIN(TestDigest)
#include "tst_digest.moc"
