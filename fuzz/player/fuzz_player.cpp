// The player's open, demux and decode steps on arbitrary bytes, read from memory through a custom
// AVIOContext, as fast as they decode: every input must end in "ended" or "failed", within the frame
// budget, and the player must stop cleanly.
#include "standins/video_control/StreamPlayer.h"

#include <QJsonObject>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    StreamOptions options;
    options.memoryInput = QByteArray(reinterpret_cast<const char *>(data), int(size));
    options.paced = false;
    options.connectTimeoutMs = 2000;
    options.stallTimeoutMs = 2000;

    std::mutex mutex;
    std::condition_variable over;
    bool finished = false;
    int width = 0;
    int height = 0;
    {
        StreamPlayer player(options, [&](int, const QJsonObject &info) {
            const QString event = info.value(QStringLiteral("event")).toString();
            std::lock_guard<std::mutex> lock(mutex);
            if (event == QStringLiteral("playing")) {
                width = qMax(width, info.value(QStringLiteral("width")).toInt());
                height = qMax(height, info.value(QStringLiteral("height")).toInt());
            }
            if (event == QStringLiteral("ended") || event == QStringLiteral("failed")) {
                finished = true;
                over.notify_all();
            }
        }, nullptr);
        player.setTarget(QSize(64, 48), true);
        std::unique_lock<std::mutex> lock(mutex);
        over.wait_for(lock, std::chrono::seconds(8), [&] { return finished; });
    }
    if (!finished || width > kMaxFrameSide || height > kMaxFrameSide || qint64(width) * height > kMaxFramePixels)
        std::abort();
    return 0;
}
