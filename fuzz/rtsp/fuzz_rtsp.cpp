// A server's bytes, fed to the connection reader in pieces whose sizes the input chooses: message bodies
// go to the description parser, their challenges to the authenticator, interleaved frames to an H.264 or
// H.265 depacketizer and the receiver report's counters. No unit may pass its bounds, the reader may
// never hold more than one message or frame in the making, an answer to a challenge is one line, whatever
// the challenge held, and the receiver report keeps its size.
#include "standins/video_control/RtcpReceiverReport.h"
#include "standins/video_control/RtpDepacketizer.h"
#include "standins/video_control/RtspAuthenticator.h"
#include "standins/video_control/RtspReader.h"
#include "standins/video_control/SdpDescription.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const bool h265 = (data[0] & 1) != 0;
    const int piece = 1 + data[1];
    data += 2;
    size -= 2;
    constexpr int kMostBuffered = RtspReader::kMaxHeaderBytes + 4 + RtspReader::kMaxBodyBytes + 65536;
    RtspReader reader;
    RtpDepacketizer depacketizer(h265 ? RtpDepacketizer::Codec::H265 : RtpDepacketizer::Codec::H264, 96);
    RtspReader::Message message;
    RtspReader::Frame frame;
    AccessUnit unit;
    RtcpReceiverReport receiver(1, "cname"); // RR 32 bytes, SDES 4 + 12
    constexpr int kReportBytes = 48;
    for (std::size_t at = 0; at < size; at += std::size_t(piece)) {
        const int count = int(std::min<std::size_t>(std::size_t(piece), size - at));
        reader.append(reinterpret_cast<const char *>(data + at), count);
        for (RtspReader::Item item; (item = reader.next(message, frame)) != RtspReader::Item::NeedMore;) {
            if (item == RtspReader::Item::Refused)
                return 0;
            if (item == RtspReader::Item::Message) {
                RtspAuthenticator authenticator("user\"\\", "password");
                if (authenticator.take(message.fields) == RtspAuthenticator::Taken::Answer) {
                    const QByteArray line = authenticator.authorization("DESCRIBE", "rtsp://camera/stream");
                    if (!line.endsWith("\r\n") || line.indexOf('\r') != line.size() - 2 || line.indexOf('\n') != line.size() - 1)
                        std::abort();
                }
                SdpDescription description;
                if (description.parse(message.body) && description.parameterSets.size() > SdpDescription::kMaxParameterSets)
                    std::abort();
            } else {
                receiver.packetArrived(frame.data.constData(), frame.data.size(), 90000, RtcpReceiverReport::Clock::now());
                depacketizer.push(frame.data.constData(), frame.data.size());
                const QByteArray report = receiver.compound(RtcpReceiverReport::Clock::now());
                if (!report.isEmpty() && report.size() != kReportBytes)
                    std::abort();
            }
            while (depacketizer.next(unit)) {
                if (unit.data.size() > RtpDepacketizer::kMaxAccessUnitBytes || !unit.data.startsWith(QByteArray("\0\0\0\1", 4)))
                    std::abort();
            }
        }
        if (reader.buffered() > kMostBuffered)
            std::abort();
    }
    SdpDescription whole;
    whole.parse(QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size)));
    return 0;
}
