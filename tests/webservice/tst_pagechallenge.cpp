#include "webservice/PageChallenge.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QtTest>

namespace {

// The digest a page computes, built with Qt's own SHA-256 and HMAC. The two texts are cut where the
// service's fixed buffers cut them: 1023 and 127 characters.
QString pageDigest(const QByteArray &user, const QByteArray &challenge, int iterations, int random)
{
    const QByteArray keyText = (user + QByteArray::number(iterations) + challenge).left(1023);
    const QByteArray key = QCryptographicHash::hash(keyText, QCryptographicHash::Sha256).toHex();
    const QByteArray message
        = ("GET/DEVAPI/Security/sessionLogin/capabilities" + user + QByteArray::number(random)).left(127);
    return QString::fromLatin1(
        QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha256).toHex());
}

} // namespace

class TestPageChallenge : public QObject
{
    Q_OBJECT

private slots:
    void check_data();
    void check();
};

void TestPageChallenge::check_data()
{
    QTest::addColumn<QString>("sessionID");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("challenge");
    QTest::addColumn<int>("iterations");
    QTest::addColumn<int>("random");
    QTest::addColumn<int>("result");

    const QString digest = pageDigest("admin", "a1b2c3d4", 100, 12345678);
    QTest::newRow("correct digest") << digest << "admin"
                                    << "a1b2c3d4" << 100 << 12345678 << 0;
    QTest::newRow("upper-case hex") << digest.toUpper() << "admin"
                                    << "a1b2c3d4" << 100 << 12345678 << -1;
    QTest::newRow("trailing character") << digest + "0"
                                        << "admin"
                                        << "a1b2c3d4" << 100 << 12345678 << -1;
    QTest::newRow("one character short") << digest.left(63) << "admin"
                                         << "a1b2c3d4" << 100 << 12345678 << -1;
    QTest::newRow("empty digest") << QString() << "admin"
                                  << "a1b2c3d4" << 100 << 12345678 << -1;
    QTest::newRow("other random") << digest << "admin"
                                  << "a1b2c3d4" << 100 << 12345679 << -1;
    QTest::newRow("other challenge") << digest << "admin"
                                     << "a1b2c3d5" << 100 << 12345678 << -1;
    QTest::newRow("negative random written with its sign") << pageDigest("admin", "c", 7, -42) << "admin"
                                                           << "c" << 7 << -42 << 0;
    QTest::newRow("Latin-1 user") << pageDigest("j\xf6rg", "c", 1, 2) << QString::fromLatin1("j\xf6rg") << "c"
                                  << 1 << 2 << 0;

    // The message text holds 127 characters: a long user is cut there but stays whole in the key text.
    const QByteArray longUser(200, 'u');
    QTest::newRow("user cut in the message only")
        << pageDigest(longUser, "chal", 3, 9) << QString::fromLatin1(longUser) << "chal" << 3 << 9 << 0;
    QTest::newRow("digest of the uncut message fails") << QString::fromLatin1(
        QMessageAuthenticationCode::hash("GET/DEVAPI/Security/sessionLogin/capabilities" + longUser + "9",
            QCryptographicHash::hash(longUser + "3chal", QCryptographicHash::Sha256).toHex(),
            QCryptographicHash::Sha256)
            .toHex()) << QString::fromLatin1(longUser) << "chal"
                                                       << 3 << 9 << -1;
    // The key text holds 1023 characters: the challenge falls off the end of a very long user.
    const QByteArray veryLongUser(1100, 'v');
    QTest::newRow("key text cut at 1023") << pageDigest(veryLongUser, "ignored", 3, 9)
                                          << QString::fromLatin1(veryLongUser) << "other" << 3 << 9 << 0;
}

void TestPageChallenge::check()
{
    QFETCH(QString, sessionID);
    QFETCH(QString, user);
    QFETCH(QString, challenge);
    QFETCH(int, iterations);
    QFETCH(int, random);
    QFETCH(int, result);
    QCOMPARE(verifyPageChallenge(sessionID, user, challenge, iterations, random), result);
}

QTEST_APPLESS_MAIN(TestPageChallenge)
#include "tst_pagechallenge.moc"
