#pragma once

#include "dispatch/MediaPlaces.h"
#include "video/VideoCommand.h"

#include <QJsonObject>
#include <QString>

// Why a page-named file or address was refused: the answer's "errorCode" and "reason". The reasons never
// say whether a local path exists outside the save and media directories, and never repeat the value.
enum class PathRefusal {
    None = 0,
    NameNotAllowed = 40, // "name not allowed": absolute, "..", a drive letter or UNC path, a scheme, empty,
                         // control characters, a Windows device name, too long or too deep
    ExtensionNotAllowed = 41, // "extension not allowed"
    NameExists = 42, // "name exists": outputs never overwrite
    LinkInTheWay = 43, // "link in the way": a symbolic link on the way to an output
    SaveDirectoryUnavailable = 44, // "save directory unavailable": it cannot be made, or a folder on the way is a file
    AddressNotAllowed = 45, // "address not allowed": not rtsp, rtsps, http or https (or "pattern:")
    FileNotAllowed = 46, // "file not allowed": a local input outside the save and media directories
};

// The outcome of a check: the first refused member and why, or None.
struct PathCheck
{
    PathRefusal refusal = PathRefusal::None;
    const char *member = nullptr;
};

// The one check of the members a video command's row names (VideoCommand::named), made before the library
// is called; no command handles a page-named file or address by hand.
//
// Outputs ("path" of startSave, capture, ...) are a file name, optionally with sub-folders, inside the save
// directory: new, no link on the way, an extension of the member's kind. The member is replaced by the file's
// absolute place, so the library writes exactly there. Inputs are stream addresses (rtsp, rtsps, http, https)
// or local files inside the save or media directories; a relative local name is taken in the save directory.
class PageNamedPathPolicy
{
public:
    static constexpr int kMaxNameLength = 1024; // characters of an output name, sub-folders included
    static constexpr int kMaxNameDepth = 8; // sub-folders and the file
    static constexpr int kMaxAddressLength = 4096;

    explicit PageNamedPathPolicy(MediaPlaces places = MediaPlaces());

    // Checks every member the row names; on success output and local members are rewritten in place.
    PathCheck check(const VideoCommand &command, QJsonObject &request) const;

    static QString reasonOf(PathRefusal refusal);
    // The refusal's answer in the video form: "sequence" and "uuid" of the request, "errorCode",
    // "errorModule" "" and "reason"; "member" names the refused member.
    static QString refusalAnswer(const QJsonObject &request, const PathCheck &refused);

    const MediaPlaces &places() const { return m_mediaPlaces; }

private:
    PathRefusal checkOutput(PageNamed kind, QString *value) const;
    PathRefusal checkAddress(PageNamed kind, QString *value) const;
    PathRefusal checkLocal(QString *value) const;

    MediaPlaces m_mediaPlaces;
};
