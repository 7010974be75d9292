#include "standins/video_control/SdpDescription.h"

#include <QList>
#include <QPair>

namespace {

// "a=fmtp:<pt> key=value;key=value": the value of key, empty when it is not there.
QByteArray formatParameter(const QByteArray &parameters, const QByteArray &key)
{
    for (const QByteArray &entry : parameters.split(';')) {
        const int equals = entry.indexOf('=');
        if (equals > 0 && entry.left(equals).trimmed().toLower() == key)
            return entry.mid(equals + 1).trimmed();
    }
    return {};
}

bool addParameterSets(QByteArrayList &sets, const QByteArray &commaSeparated)
{
    for (const QByteArray &encoded : commaSeparated.split(',')) {
        if (encoded.trimmed().isEmpty())
            continue;
        if (sets.size() >= SdpDescription::kMaxParameterSets || encoded.size() > SdpDescription::kMaxParameterSetBytes * 2)
            return false;
        const QByteArray set = QByteArray::fromBase64(encoded.trimmed());
        if (set.isEmpty() || set.size() > SdpDescription::kMaxParameterSetBytes)
            return false;
        sets.append(set);
    }
    return true;
}

} // namespace

// description = *(type "=" value CRLF); a media section starts at "m=" and runs to the next one.
// m=video <port> RTP/AVP <fmt> ...; a=rtpmap:<fmt> H264/90000 | H265/90000; a=fmtp:<fmt> ...; a=control:<url>
bool SdpDescription::parse(const QByteArray &text)
{
    *this = SdpDescription();
    if (text.size() > kMaxBytes || text.count('\n') > kMaxLines || !text.startsWith("v=0"))
        return false;
    enum class Section { Session, ChosenVideo, Other };
    Section section = Section::Session;
    bool chosen = false;
    QList<int> offered; // payload types of the video medium being read
    QList<QPair<int, QByteArray>> fmtps; // format parameters of the offered payload types, in any order
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.size() < 2 || line.at(1) != '=')
            continue;
        const char type = line.at(0);
        const QByteArray value = line.mid(2);
        if (type == 'm') {
            if (chosen)
                break; // the first video medium that fits is the one played
            const QList<QByteArray> words = value.split(' ');
            section = Section::Other;
            offered.clear();
            if (words.size() >= 4 && words.at(0) == "video" && words.at(2) == "RTP/AVP") {
                for (int i = 3; i < words.size(); ++i) {
                    bool ok = false;
                    const int payload = words.at(i).toInt(&ok);
                    if (ok && payload >= 96 && payload <= 127) // dynamic: the only ones H.264 and H.265 use
                        offered.append(payload);
                }
                section = Section::ChosenVideo;
                payloadType = -1;
                codec = Codec::None;
                control.clear();
                fmtps.clear();
            }
            continue;
        }
        if (type != 'a')
            continue;
        if (section == Section::Session) {
            if (value.startsWith("control:"))
                sessionControl = value.mid(8).trimmed();
            continue;
        }
        if (section != Section::ChosenVideo)
            continue;
        if (value.startsWith("control:")) {
            control = value.mid(8).trimmed();
        } else if (value.startsWith("rtpmap:") && codec == Codec::None) {
            const int space = value.indexOf(' ');
            bool ok = false;
            const int payload = value.mid(7, space - 7).toInt(&ok);
            if (!ok || space < 0 || !offered.contains(payload))
                continue;
            const QList<QByteArray> encoding = value.mid(space + 1).trimmed().split('/');
            const QByteArray name = encoding.value(0).toUpper();
            const int rate = encoding.value(1).toInt();
            if ((name != "H264" && name != "H265") || rate <= 0)
                continue;
            codec = name == "H264" ? Codec::H264 : Codec::H265;
            payloadType = payload;
            clockRate = rate;
        } else if (value.startsWith("fmtp:")) {
            const int space = value.indexOf(' ');
            bool ok = false;
            const int payload = value.mid(5, space - 5).toInt(&ok);
            if (ok && space > 5 && offered.contains(payload) && fmtps.size() < offered.size())
                fmtps.append({ payload, value.mid(space + 1) });
        }
        chosen = codec != Codec::None;
    }
    if (codec == Codec::None)
        return false;
    QByteArray fmtp;
    for (const auto &[payload, parameters] : fmtps) {
        if (payload == payloadType)
            fmtp = parameters;
    }
    if (codec == Codec::H264) {
        packetizationMode = formatParameter(fmtp, "packetization-mode").toInt();
        if (packetizationMode > 1)
            return false;
        return addParameterSets(parameterSets, formatParameter(fmtp, "sprop-parameter-sets"));
    }
    // Decoding-order numbers in the payloads (RFC 7798 4.4) are not taken.
    if (formatParameter(fmtp, "sprop-max-don-diff").toInt() > 0)
        return false;
    return addParameterSets(parameterSets, formatParameter(fmtp, "sprop-vps"))
        && addParameterSets(parameterSets, formatParameter(fmtp, "sprop-sps"))
        && addParameterSets(parameterSets, formatParameter(fmtp, "sprop-pps"));
}
