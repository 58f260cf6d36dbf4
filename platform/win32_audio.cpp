#include <windows.h>
// Needs the types of windows.h.
#include <mmsystem.h>

#include <cstdint>
#include <new>
#include <string>

#include "platform/sound_card.h"
#include "platform/thread_priority.h"
#include "platform/wrapping_count.h"

namespace {

constexpr int pollMilliseconds = 5;

std::string lastError;

struct WaveOut {
    HWAVEOUT handle;
    WAVEHDR header;  // the one header that loops over the ring
    bool headerPrepared;
    // The device counts bytes in 32 bits; the feeder, the only reader while
    // the ring plays, polls far more often than they wrap.
    WrappingCount position;
};

void noteError(const char* what, MMRESULT result) {
    char text[MAXERRORLENGTH] = {};
    if (waveOutGetErrorTextA(result, text, sizeof text) != MMSYSERR_NOERROR) {
        text[0] = '\0';
    }
    lastError = std::string(what) + " failed (" + std::to_string(result) + "): " + text;
}

void* openWaveOut(void* /*context*/, int32_t rate) {
    if (rate <= 0) {
        lastError = "no sound at " + std::to_string(rate) + " frames per second";
        return nullptr;
    }
    auto* device = new (std::nothrow) WaveOut{};
    if (device == nullptr) {
        lastError = "out of memory";
        return nullptr;
    }
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = static_cast<DWORD>(rate);
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = static_cast<DWORD>(rate) * 4;
    format.cbSize = 0;
    const MMRESULT result = waveOutOpen(&device->handle, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL);
    if (result != MMSYSERR_NOERROR) {
        noteError("waveOutOpen", result);
        delete device;
        return nullptr;
    }
    lastError.clear();
    return device;
}

// Stops the device and lets go of the ring; the position starts again at 0.
void resetWaveOut(void* opened) {
    auto* device = static_cast<WaveOut*>(opened);
    waveOutReset(device->handle);
    if (device->headerPrepared) {
        waveOutUnprepareHeader(device->handle, &device->header, sizeof device->header);
        device->headerPrepared = false;
    }
    device->header = WAVEHDR{};
    device->position = WrappingCount{};
}

void playWaveOutLoop(void* opened, const int16_t* ring, uint32_t byteCount) {
    auto* device = static_cast<WaveOut*>(opened);
    resetWaveOut(device);
    // The system's headers take a writable pointer but only read the
    // samples of an output buffer.
    device->header.lpData = reinterpret_cast<LPSTR>(const_cast<int16_t*>(ring));
    device->header.dwBufferLength = byteCount;
    device->header.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
    device->header.dwLoops = 0xFFFFFFFF;
    if (waveOutPrepareHeader(device->handle, &device->header, sizeof device->header) !=
        MMSYSERR_NOERROR) {
        return;
    }
    device->headerPrepared = true;
    waveOutWrite(device->handle, &device->header, sizeof device->header);
}

uint64_t waveOutBytesPlayed(void* opened) {
    auto* device = static_cast<WaveOut*>(opened);
    MMTIME time{};
    time.wType = TIME_BYTES;
    uint32_t bytes = device->position.last;
    if (waveOutGetPosition(device->handle, &time, sizeof time) == MMSYSERR_NOERROR) {
        // A device may answer in another unit than the one asked for; four
        // bytes a frame wrap along with the byte count.
        if (time.wType == TIME_BYTES) {
            bytes = time.u.cb;
        } else if (time.wType == TIME_SAMPLES) {
            bytes = time.u.sample * 4;
        }
    }
    return extendCount(device->position, bytes);
}

void closeWaveOut(void* opened) {
    auto* device = static_cast<WaveOut*>(opened);
    resetWaveOut(device);
    waveOutClose(device->handle);
    delete device;
}

void raiseFeederPriority(void* /*device*/) {
    raiseThreadPriority();
}

}  // namespace

xmplayer::WaveDevice soundCardDevice() {
    return xmplayer::WaveDevice{openWaveOut,      playWaveOutLoop,    waveOutBytesPlayed,
                                resetWaveOut,     closeWaveOut,       nullptr,
                                pollMilliseconds, raiseFeederPriority};
}

const char* soundCardError() {
    return lastError.c_str();
}
