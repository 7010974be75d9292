#include "dispatch/PageNamedPathPolicy.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>

namespace {

constexpr int kMaxSegmentBytes = 255; // a file or folder name on common file systems

QStringList extensionsOf(PageNamed kind)
{
    static const QStringList recordings { "mp4", "mkv", "ts" };
    static const QStringList images { "jpg", "jpeg", "png", "bmp" };
    switch (kind) {
    case PageNamed::RecordingFile:
        return recordings;
    case PageNamed::ImageFile:
        return images;
    case PageNamed::DownloadFile:
        return recordings + images;
    case PageNamed::ExportFile:
        return { "txt", "log", "json", "bin" };
    case PageNamed::AudioFile:
        return { "wav", "aac" };
    default:
        return {};
    }
}

bool isOutput(PageNamed kind)
{
    return !extensionsOf(kind).isEmpty();
}

bool hasControlCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

// "rtsp" of "rtsp://...": letters, digits, "+", "-" and "." after a letter, before the first colon; a
// single letter is a drive letter, not a scheme.
QString schemeOf(const QString &address)
{
    const int colon = address.indexOf(QLatin1Char(':'));
    if (colon < 2)
        return QString();
    for (int i = 0; i < colon; ++i) {
        const QChar c = address.at(i);
        const bool letter = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
        const bool other = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+') || c == QLatin1Char('-')
            || c == QLatin1Char('.');
        if (!letter && (i == 0 || !other))
            return QString();
    }
    return address.left(colon).toLower();
}

// A name Windows takes for a device ("nul.mp4" is the null device), or one it would silently shorten
// ("clip.mp4." and "clip.mp4 " are "clip.mp4").
bool isWindowsSpecial(const QString &segment)
{
    static const QRegularExpression device(QStringLiteral("^(con|prn|aux|nul|com[0-9]|lpt[0-9])(\\..*)?$"),
        QRegularExpression::CaseInsensitiveOption);
    return segment.endsWith(QLatin1Char('.')) || segment.endsWith(QLatin1Char(' ')) || device.match(segment).hasMatch();
}

bool isInside(const QString &path, const QString &place)
{
    return !place.isEmpty() && (path == place || path.startsWith(place + QLatin1Char('/')));
}

} // namespace

PageNamedPathPolicy::PageNamedPathPolicy(MediaPlaces places)
    : m_mediaPlaces(std::move(places))
{
}

PathCheck PageNamedPathPolicy::check(const VideoCommand &command, QJsonObject &request) const
{
    for (const PageNamedMember &named : command.named) {
        if (!named.member)
            break;
        const QString key = QLatin1String(named.member);
        const auto found = request.constFind(key);
        if (found == request.constEnd())
            continue;
        const bool output = isOutput(named.kind);
        if (!found.value().isString())
            return { output || named.kind == PageNamed::LocalPath ? PathRefusal::NameNotAllowed : PathRefusal::AddressNotAllowed,
                named.member };
        QString value = found.value().toString();
        PathRefusal refusal = PathRefusal::None;
        if (output)
            refusal = checkOutput(named.kind, &value);
        else if (named.kind == PageNamed::LocalPath)
            refusal = value.isEmpty() ? PathRefusal::None : checkLocal(&value);
        else
            refusal = checkAddress(named.kind, &value);
        if (refusal != PathRefusal::None)
            return { refusal, named.member };
        request.insert(key, value);
    }
    return {};
}

// An output name: "clip.mp4" or "camera 1/2024/clip.mp4", inside the save directory.
PathRefusal PageNamedPathPolicy::checkOutput(PageNamed kind, QString *value) const
{
    QString name = *value;
    name.replace(QLatin1Char('\\'), QLatin1Char('/')); // a Windows separator is a separator everywhere
    // A colon starts a scheme, a drive letter or an alternate data stream.
    if (name.isEmpty() || name.size() > kMaxNameLength || hasControlCharacter(name) || name.contains(QLatin1Char(':'))
        || name.startsWith(QLatin1Char('/')))
        return PathRefusal::NameNotAllowed;
    const QStringList segments = name.split(QLatin1Char('/'));
    if (segments.size() > kMaxNameDepth)
        return PathRefusal::NameNotAllowed;
    for (const QString &segment : segments) {
        if (segment.isEmpty() || segment == QLatin1String(".") || segment == QLatin1String("..")
            || segment.toUtf8().size() > kMaxSegmentBytes || isWindowsSpecial(segment))
            return PathRefusal::NameNotAllowed;
    }
    const QString &file = segments.last();
    const int dot = file.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || !extensionsOf(kind).contains(file.mid(dot + 1).toLower()))
        return PathRefusal::ExtensionNotAllowed;

    if (!QDir().mkpath(m_mediaPlaces.saveDirectory))
        return PathRefusal::SaveDirectoryUnavailable;
    QString at = QFileInfo(m_mediaPlaces.saveDirectory).canonicalFilePath();
    if (at.isEmpty())
        return PathRefusal::SaveDirectoryUnavailable;
    for (int i = 0; i < segments.size(); ++i) {
        at += QLatin1Char('/') + segments[i];
        const QFileInfo info(at); // lstat: a link is seen as a link, dangling or not
        if (info.isSymLink())
            return PathRefusal::LinkInTheWay;
        const bool last = i == segments.size() - 1;
        if (last)
            return info.exists() ? PathRefusal::NameExists : (*value = at, PathRefusal::None);
        if (!info.exists()) {
            if (!QDir().mkdir(at))
                return PathRefusal::SaveDirectoryUnavailable;
        } else if (!info.isDir()) {
            return PathRefusal::SaveDirectoryUnavailable;
        }
    }
    return PathRefusal::NameNotAllowed; // no segments: not reached
}

PathRefusal PageNamedPathPolicy::checkAddress(PageNamed kind, QString *value) const
{
    const QString address = *value;
    if (address.isEmpty())
        return PathRefusal::None; // reaches nothing: the stand-in paints its pattern
    if (address.size() > kMaxAddressLength || hasControlCharacter(address))
        return PathRefusal::AddressNotAllowed;
    const bool stream = kind == PageNamed::StreamAddress;
    const QString scheme = schemeOf(address);
    if (stream && scheme == QLatin1String("pattern"))
        return PathRefusal::None;
    if (stream && scheme.isEmpty())
        return checkLocal(value);
    if (stream && scheme == QLatin1String("file")) {
        const QUrl url(address, QUrl::StrictMode);
        if (!url.isValid() || !url.isLocalFile())
            return PathRefusal::FileNotAllowed;
        *value = url.toLocalFile();
        return checkLocal(value);
    }
    static const QStringList schemes { "rtsp", "rtsps", "http", "https" };
    if (!schemes.contains(scheme))
        return PathRefusal::AddressNotAllowed;
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return PathRefusal::AddressNotAllowed;
    // Nothing a page names makes the library listen for connections.
    const QUrlQuery query(url);
    for (const auto &item : query.queryItems()) {
        if (item.first.compare(QLatin1String("listen"), Qt::CaseInsensitive) == 0)
            return PathRefusal::AddressNotAllowed;
    }
    return PathRefusal::None;
}

// A local input: inside the save directory or a media directory, before and after links are followed. The
// answer is the same whether or not the path exists.
PathRefusal PageNamedPathPolicy::checkLocal(QString *value) const
{
    QString path = *value;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (hasControlCharacter(path) || path.size() > kMaxAddressLength)
        return PathRefusal::FileNotAllowed;
    if (QDir::isRelativePath(path))
        path = m_mediaPlaces.saveDirectory + QLatin1Char('/') + path;
    path = QDir::cleanPath(path);
    QStringList places;
    QStringList canonicalPlaces;
    QStringList roots = m_mediaPlaces.mediaDirectories;
    roots.append(m_mediaPlaces.saveDirectory);
    for (const QString &place : qAsConst(roots)) {
        places << QDir::cleanPath(QDir(place).absolutePath());
        canonicalPlaces << QFileInfo(place).canonicalFilePath();
    }
    auto insideAny = [](const QString &candidate, const QStringList &roots) {
        return std::any_of(roots.begin(), roots.end(), [&](const QString &root) { return isInside(candidate, root); });
    };
    if (!insideAny(path, places) && !insideAny(path, canonicalPlaces))
        return PathRefusal::FileNotAllowed;
    // Where links lead: from the path itself, or from the nearest folder of it that exists (a missing file
    // behind a link out of the places answers as an existing one would).
    QString existing = path;
    while (!QFileInfo::exists(existing) && existing != QDir::rootPath() && !existing.isEmpty())
        existing = QFileInfo(existing).path();
    const QString canonical = QFileInfo(existing).canonicalFilePath();
    if (canonical.isEmpty() || !insideAny(canonical, canonicalPlaces))
        return PathRefusal::FileNotAllowed;
    *value = path;
    return PathRefusal::None;
}

QString PageNamedPathPolicy::reasonOf(PathRefusal refusal)
{
    switch (refusal) {
    case PathRefusal::None:
        return QString();
    case PathRefusal::NameNotAllowed:
        return QStringLiteral("name not allowed");
    case PathRefusal::ExtensionNotAllowed:
        return QStringLiteral("extension not allowed");
    case PathRefusal::NameExists:
        return QStringLiteral("name exists");
    case PathRefusal::LinkInTheWay:
        return QStringLiteral("link in the way");
    case PathRefusal::SaveDirectoryUnavailable:
        return QStringLiteral("save directory unavailable");
    case PathRefusal::AddressNotAllowed:
        return QStringLiteral("address not allowed");
    case PathRefusal::FileNotAllowed:
        return QStringLiteral("file not allowed");
    }
    return QString();
}

QString PageNamedPathPolicy::refusalAnswer(const QJsonObject &request, const PathCheck &refused)
{
    QJsonObject answer;
    if (request.contains(QLatin1String("sequence")))
        answer.insert(QLatin1String("sequence"), request.value(QLatin1String("sequence")));
    if (request.contains(QLatin1String("uuid")))
        answer.insert(QLatin1String("uuid"), request.value(QLatin1String("uuid")));
    answer.insert(QLatin1String("errorCode"), int(refused.refusal));
    answer.insert(QLatin1String("errorModule"), QString());
    answer.insert(QLatin1String("reason"), reasonOf(refused.refusal));
    answer.insert(QLatin1String("member"), QLatin1String(refused.member));
    return QString::fromUtf8(QJsonDocument(answer).toJson());
}
