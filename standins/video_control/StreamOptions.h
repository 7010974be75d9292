#pragma once

#include "standins/video_control/PlayerLimits.h"

#include <QByteArray>
#include <QString>

// What a player is asked to play and how long it waits. The durations have their production values here;
// tests shorten them through the testing header.
struct StreamOptions
{
    QString url; // file path, file:, rtsp:, http:, https:; credentials may be in it
    QString user; // put into the address when it has none of its own
    QString password;
    QByteArray memoryInput; // played in place of url when not empty (a whole file in memory)
    bool tcp = true; // RTSP over TCP ("transport" "tcp", the default) or UDP ("udp")
    bool paced = true; // files play at their frame rate; off, as fast as they decode
    int connectTimeoutMs = 5000; // opening the stream, before "failed" (or a reconnect)
    int stallTimeoutMs = 3000; // no packet for this long: "stalled"
    int reconnectAttempts = 0; // after a loss; -1: without end
    int reconnectIntervalMs = 1000;
    bool fit = true; // keep the aspect ratio inside the cell ("fit"), or stretch to it ("fill")
    long long maxRecordingBytes = kDefaultMaxRecordingBytes;
    long long minFreeDiskBytes = kDefaultMinFreeDiskBytes;
};
