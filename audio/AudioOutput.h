// The audio output service: one callback-driven 44100 Hz 16-bit stereo stream on a sound device.
// All operations are for the window thread; the callback runs on the service's own audio thread.
#pragma once

struct FSOUND_STREAM;

/// Fills lengthBytes / 4 interleaved little-endian signed 16-bit stereo frames into buffer.
/// Runs on the audio thread; its result is ignored.
using FSOUND_STREAMCALLBACK = signed char (*)(FSOUND_STREAM* stream, void* buffer, int lengthBytes,
                                              void* userData);

/// Output type 0 plays to no device (the paced null output); any other type plays to the chosen device.
bool FSOUND_SetOutput(int outputType);
/// Device latency in milliseconds added to the stream's own buffering.
bool FSOUND_SetBufferSize(int milliseconds);
/// Index into the device list, 0..FSOUND_GetNumDrivers()−1.
bool FSOUND_SetDriver(int driverIndex);
bool FSOUND_SetHWND(void* window);
/// Opens (or reopens) the output; a running stream is stopped first and stays valid for a later play.
bool FSOUND_Init(int mixRate, int maxChannels, unsigned flags);
void FSOUND_Close();
/// lengthBytes / 4 frames per callback block. Returns null on failure.
FSOUND_STREAM* FSOUND_Stream_Create(FSOUND_STREAMCALLBACK callback, int lengthBytes, unsigned mode,
                                    int sampleRate, void* userData);
/// Starts the callbacks (stopping any other playing stream first); returns the channel used, or −1 on
/// failure. Without a usable device the paced null output calls the callback in real time instead.
int FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream);
/// Returns only when no callback of this stream runs any more.
bool FSOUND_Stream_Stop(FSOUND_STREAM* stream);
bool FSOUND_Stream_Close(FSOUND_STREAM* stream);
/// Share of real time spent in the callback, in percent, smoothed. Polled regularly, it also notices
/// a device that has stopped playing and carries on with the paced null output.
float FSOUND_GetCPUUsage();
int FSOUND_GetNumDrivers();
/// Readable device name, or null for an index out of range.
const char* FSOUND_GetDriverName(int driverIndex);

namespace audio {

/// True while the paced null output stands in for a device that is missing or failed to open.
bool usingNullOutput();
/// Readable name of the device that plays now ("" when nothing plays); valid until the next call.
const char* currentDeviceName();

} // namespace audio
