#pragma once
// What pages can make the video stand-in spend. Each bound is checked before the resource is taken;
// beyond it the command is answered, or the stream stopped, with an error code of VideoControlTesting.h.

// Cells in one window ("windowNum", or the cells of a layout); more answers VCT_ERROR_NO_SUCH_CELL.
constexpr int kMaxCellsPerWindow = 64;

// Streams decoded at once, over every window: each holds a decoder, its frames and two threads. A full
// window of cells may play; a VC_Play past this answers VCT_ERROR_TOO_MANY_PLAYERS (the pattern is not
// counted: it decodes nothing).
constexpr int kMaxDecodingPlayers = kMaxCellsPerWindow;

// The frames of every stream decoded at once, in pixels (width x height of each stream's frames, summed):
// a full window of 1080p cells. A 1080p player holds some 16 MiB, so this keeps the decoders near 1 GiB
// together; four 8K streams fit, or sixteen 4K ones. A stream whose frames do not fit beside the others
// (its size is checked when the stream says it, and again when a frame of another size comes) ends
// "failed" with VCT_ERROR_TOO_MANY_PIXELS; a stream keeps its share until its cell is stopped.
constexpr long long kMaxDecodedPixels = kMaxCellsPerWindow * 1920LL * 1080;

// Frame size: a side longer than 8192 pixels, or more pixels than an 8K UHD frame (7680 x 4320), is
// refused before the decoder allocates a frame: "failed" with VCT_ERROR_FRAME_TOO_LARGE. An 8K frame
// costs some 50 MiB per decoded picture and a decoder holds several; the players' bound keeps the total.
constexpr int kMaxFrameSide = 8192;
constexpr long long kMaxFramePixels = 7680LL * 4320;

inline bool frameTooLarge(int width, int height)
{
    return width > kMaxFrameSide || height > kMaxFrameSide || (long long)width * height > kMaxFramePixels;
}

// Reconnecting: the page's interval (100 ms to 60 s) is the first wait; every further attempt without a
// steady picture doubles it, up to 30 s (or the page's interval when that is longer). A stream that has
// played for 10 s starts again from the page's interval.
constexpr int kMinReconnectIntervalMs = 100;
constexpr int kMaxReconnectIntervalMs = 60000;
constexpr int kMaxReconnectBackoffMs = 30000;
constexpr int kSteadyPlayMs = 10000;

// Files play at their own pace. A timestamp step that goes back, or forward by more than 10 s, is a jump:
// it counts as one frame at the stream's rate. Steps shorter than 1/240 s count as 1/240 s, so that no
// pattern of timestamps makes a file decode faster than 240 frames a second.
constexpr long long kMaxPacingStepUs = 10LL * 1000 * 1000;
constexpr long long kMinPacingStepUs = 1000 * 1000 / 240;

// Recordings: a file stops at 2 GiB of stream (with the container's framing and index on top it stays
// below the 4 GiB every file system takes), and before the disk it is on has less than 1 GiB free;
// startSave is refused when the disk is already below that. Either stop raises the stream event
// "saveStopped" with its error code, and the file is closed properly.
constexpr long long kDefaultMaxRecordingBytes = 2LL * 1024 * 1024 * 1024;
constexpr long long kDefaultMinFreeDiskBytes = 1LL * 1024 * 1024 * 1024;
// How often, in bytes written, the free space is looked at again.
constexpr long long kFreeDiskCheckBytes = 1024 * 1024;
