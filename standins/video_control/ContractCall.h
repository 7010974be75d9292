#pragma once

#include "standins/video_control/StandInEvent.h"
#include "standins/video_control/VideoControlTesting.h"

#include <QJsonObject>
#include <QString>
#include <QVector>

class LibraryState;
class QWidget;
struct StandInWidgetState;

// One call of the document family as its handler sees it. The library's state lock is held while a
// handler runs: it changes state and answers, and leaves events in events, raised once the lock is
// released.
struct ContractCall
{
    const QString &function; // "VC_Pause"
    QWidget *widget; // as passed: null for the shapes without one, maybe a widget the library never knew
    bool known; // widget was initialised: state is its own, and its views repaint
    StandInWidgetState &state; // the widget's, or a scratch state that is thrown away
    const QJsonObject &request;
    LibraryState &library;
    QVector<StandInEvent> &events;

    // Repaints the widget's views (GUI thread, where library calls are made).
    void repaint() const;
};

using ContractHandler = QJsonObject (*)(ContractCall &call);

// {"errorCode": code}
QJsonObject errorAnswer(VctError code);
// The request without the envelope members a set function does not store ("cmd", "uuid", "sequence").
QJsonObject withoutEnvelope(QJsonObject request);
// An address without its user name and password: nothing the library answers or raises repeats them.
QString withoutCredentials(const QString &address);
// A request as it may be shown again: no "password", no credentials in its "url".
QJsonObject shownRequest(QJsonObject request);
