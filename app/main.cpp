// The demo: asks whether to run full screen, opens the OpenGL window and
// draws frames until Escape, then takes everything down again.

#include <cstdint>
#include <memory>
#include <string>

#include "app/run_end.h"
#include "app/song_stream.h"
#include "platform/clock.h"
#include "platform/input.h"
#include "platform/messages.h"
#include "platform/screen_layout.h"
#include "platform/sound_card.h"
#include "platform/window.h"
#include "player/player.h"
#include "scene/frame_drawing.h"
#include "scene/gl_state.h"

namespace {

constexpr int32_t windowWidth = 640;
constexpr int32_t windowHeight = 480;
constexpr int32_t fullScreenBitsPerPixel = 32;
constexpr uint32_t frameSleepMilliseconds = 20;
constexpr int32_t outputRate = 44100;
constexpr const char* windowTitle = "Uma Vorodoze, um Vostel e uma Vado";

// The window and its GL context, up from set-up to take-down.
GlWindow demoWindow{};

struct OutputDeviceRelease {
    void operator()(xmplayer::OutputDevice* output) const { xmplayer::destroyOutputDevice(output); }
};

// The display, the cursor and the window as they were before set-up, in the
// order the set-up changed them.
void takeDownWindow(bool fullScreen) {
    if (fullScreen) {
        restoreDisplayMode(demoWindow);
    }
    showCursor(true);
    releaseGlContext(demoWindow);
    destroyWindow(demoWindow);
}

// Without a window or a context there is nothing to draw into: whatever was
// set up is taken down first, so that the message is not hidden behind a
// full-screen window, and the run ends.
RunEnd failWindow(bool fullScreen, const char* what) {
    const std::string text =
        std::string("Cannot create ") + what + ": " + windowSystemError() + "\n";
    takeDownWindow(fullScreen);
    showMessage(text.c_str(), "Error");
    return RunEnd::WindowFailed;
}

// The player's failures are told the same way, once the window is down.
RunEnd failPlayer(bool fullScreen, const char* text, const char* caption, RunEnd end) {
    takeDownWindow(fullScreen);
    showMessage(text, caption);
    return end;
}

RunEnd runDemo() {
    bool fullScreen = true;
    WindowPosition position{0, 0};
    const QuestionAnswer answer =
        askQuestion("Would You Like To Run In Fullscreen Mode?", "Start FullScreen?");
    // A question nobody could see has no answer to act on: full screen is
    // never tried on it. The question's handler has said why on stderr.
    if (answer == QuestionAnswer::Failed) {
        return RunEnd::QuestionFailed;
    }
    // Anything but No, a box closed without a button too, gives full screen.
    if (answer == QuestionAnswer::No) {
        fullScreen = false;
        const ScreenSize screen = primaryScreenSize();
        position = centredWindowPosition(screen.width, screen.height, windowWidth, windowHeight);
    }
    // From here on Ctrl+C ends the run through the take-down, which puts the
    // display mode back.
    catchStopSignals();

    requestPixelFormat();
    if (fullScreen) {
        if (!changeDisplayMode({windowWidth, windowHeight, fullScreenBitsPerPixel})) {
            return RunEnd::DisplayRefused;
        }
        showCursor(false);
    }

    const WindowRequest request{windowTitle, position.x,   position.y,
                                windowWidth, windowHeight, fullScreen};
    if (!createWindow(request, demoWindow)) {
        return failWindow(fullScreen, "the window");
    }
    if (!createGlContext(demoWindow)) {
        return failWindow(fullScreen, "the OpenGL context");
    }

    resizeScene(windowWidth, windowHeight);
    if (!initScene()) {
        return RunEnd::TextureMissing;
    }

    // The demo's one player: the sound card's output device and the song.
    const std::unique_ptr<xmplayer::OutputDevice, OutputDeviceRelease> output(
        xmplayer::createOutputDevice());
    const xmplayer::WaveDevice soundCard = soundCardDevice();
    if (output != nullptr) {
        xmplayer::setWaveDevice(*output, &soundCard);
    }
    if (output == nullptr || !xmplayer::openOutputDevice(*output, outputRate)) {
        return failPlayer(fullScreen, "Error upon initialization\n", "fcwef", RunEnd::DeviceFailed);
    }
    xmplayer::Song* loadedSong = xmplayer::loadSong(songStreamCallbacks(), nullptr, nullptr);
    if (loadedSong == nullptr) {
        xmplayer::closeOutputDevice(*output);
        return failPlayer(fullScreen, "Error loading song\n", "Error", RunEnd::SongFailed);
    }
    xmplayer::playSong(*output, loadedSong, xmplayer::RuleSet::Own);

    while (!escapePressed()) {
        drawScene();
        swapWindowBuffers(demoWindow);
        sleepMilliseconds(frameSleepMilliseconds);
    }

    takeDownWindow(fullScreen);
    // Playback stops before the device closes, so that the feeder never
    // polls a closed device.
    xmplayer::stopSong(*output);
    xmplayer::closeOutputDevice(*output);
    xmplayer::freeSong(loadedSong);
    return RunEnd::Escape;
}

}  // namespace

int main() {
    if (!startWindowSystem()) {
        const std::string text =
            std::string("Cannot open the display: ") + windowSystemError() + "\n";
        showMessage(text.c_str(), "Error");
        return exitStatusFor(RunEnd::WindowSystemFailed);
    }
    const RunEnd end = runDemo();
    // Whatever an early end left up goes now, the display mode above all.
    stopWindowSystem();
    return exitStatusFor(end);
}
