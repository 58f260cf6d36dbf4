#include <windows.h>
// Needs the types of windows.h.
#include <mmsystem.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/pull_audio.h"
#include "platform/thread_priority.h"

namespace {

// Six buffers of about 23 ms at 44100 Hz: a pause or a jump is heard within
// a seventh of a second, and a busy machine still keeps up.
constexpr int32_t bufferFrames = 1024;
constexpr std::size_t bufferCount = 6;
constexpr DWORD stopCheckMilliseconds = 50;

std::string errorText(const char* what, MMRESULT result) {
    char text[MAXERRORLENGTH] = {};
    if (waveOutGetErrorTextA(result, text, sizeof text) != MMSYSERR_NOERROR) {
        text[0] = '\0';
    }
    return std::string(what) + " failed (" + std::to_string(result) + "): " + text;
}

}  // namespace

// The device plays a queue of buffers; each one it has finished is filled
// again by a feeder thread of its own, woken by the device's event, and
// queued behind the others.
struct PullAudioDevice::WaveOut {
    HWAVEOUT handle = nullptr;
    HANDLE bufferDone = nullptr;
    std::array<WAVEHDR, bufferCount> headers{};
    std::vector<int16_t> samples = std::vector<int16_t>(2 * bufferFrames * bufferCount);
    std::size_t nextDone = 0;  // buffers finish in the order they were queued
    bool queued = false;       // the first fill waits for the first start
    Fill fill = nullptr;
    void* context = nullptr;
    std::mutex filling;
    std::atomic<bool> stopping{false};
    std::thread feeder;

    void refill(WAVEHDR& header) {
        {
            const std::lock_guard<std::mutex> lock(filling);
            fill(context, reinterpret_cast<int16_t*>(header.lpData), bufferFrames);
        }
        waveOutWrite(handle, &header, sizeof header);
    }

    void feed() {
        raiseThreadPriority();
        while (!stopping.load()) {
            WaitForSingleObject(bufferDone, stopCheckMilliseconds);
            while (!stopping.load() && (headers[nextDone].dwFlags & WHDR_DONE) != 0) {
                refill(headers[nextDone]);
                nextDone = (nextDone + 1) % bufferCount;
            }
        }
    }
};

PullAudioDevice::~PullAudioDevice() {
    close();
}

bool PullAudioDevice::open(int32_t rate, Fill fill, void* context, std::string& error) {
    close();
    if (rate <= 0) {
        error = "no sound at " + std::to_string(rate) + " frames per second";
        return false;
    }
    auto* device = new WaveOut;
    device->fill = fill;
    device->context = context;
    device->bufferDone = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (device->bufferDone == nullptr) {
        error = "CreateEventA failed (" + std::to_string(GetLastError()) + ")";
        delete device;
        return false;
    }
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = static_cast<DWORD>(rate);
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = static_cast<DWORD>(rate) * 4;
    const MMRESULT result =
        waveOutOpen(&device->handle, WAVE_MAPPER, &format,
                    reinterpret_cast<DWORD_PTR>(device->bufferDone), 0, CALLBACK_EVENT);
    if (result != MMSYSERR_NOERROR) {
        error = errorText("waveOutOpen", result);
        CloseHandle(device->bufferDone);
        delete device;
        return false;
    }
    // Paused until the caller starts it: buffers queued meanwhile wait.
    waveOutPause(device->handle);
    for (std::size_t i = 0; i < bufferCount; ++i) {
        WAVEHDR& header = device->headers[i];
        header.lpData = reinterpret_cast<LPSTR>(device->samples.data() + 2 * bufferFrames * i);
        header.dwBufferLength = bufferFrames * 4;
        waveOutPrepareHeader(device->handle, &header, sizeof header);
    }
    waveOut_ = device;
    return true;
}

void PullAudioDevice::setPaused(bool paused) {
    if (waveOut_ == nullptr) {
        return;
    }
    if (paused) {
        waveOutPause(waveOut_->handle);
        return;
    }
    // The first start queues every buffer, filled now, and only then lets
    // the feeder take over the ones the device finishes.
    if (!waveOut_->queued) {
        for (WAVEHDR& header : waveOut_->headers) {
            waveOut_->refill(header);
        }
        waveOut_->queued = true;
        waveOut_->feeder = std::thread([device = waveOut_] { device->feed(); });
    }
    waveOutRestart(waveOut_->handle);
}

void PullAudioDevice::lock() {
    if (waveOut_ != nullptr) {
        waveOut_->filling.lock();
    }
}

void PullAudioDevice::unlock() {
    if (waveOut_ != nullptr) {
        waveOut_->filling.unlock();
    }
}

void PullAudioDevice::close() {
    if (waveOut_ == nullptr) {
        return;
    }
    waveOut_->stopping.store(true);
    SetEvent(waveOut_->bufferDone);
    if (waveOut_->feeder.joinable()) {
        waveOut_->feeder.join();
    }
    // The device hands every buffer back before its headers go.
    waveOutReset(waveOut_->handle);
    for (WAVEHDR& header : waveOut_->headers) {
        waveOutUnprepareHeader(waveOut_->handle, &header, sizeof header);
    }
    waveOutClose(waveOut_->handle);
    CloseHandle(waveOut_->bufferDone);
    delete waveOut_;
    waveOut_ = nullptr;
}
