#include "platform/sdl_message_boxes.h"

#include <SDL.h>

#include <cstdio>

namespace {

constexpr int yesButton = 1;
constexpr int noButton = 2;

SDL_Window* boxOwner = nullptr;

void printLine(const char* caption, const char* text) {
    std::fprintf(stderr, "%s: %s", caption, text);
    const size_t length = SDL_strlen(text);
    if (length == 0 || text[length - 1] != '\n') {
        std::fputc('\n', stderr);
    }
}

// The reason the window system gives is that of the last way of showing a box
// it tried, not always the one that matters: on X11 the box itself fails for
// want of the server's core fonts, and only a fallback's failure is reported.
void printUnshownReason(const char* caption) {
    const char* driver = SDL_GetCurrentVideoDriver();
    const bool x11 = driver != nullptr && SDL_strcmp(driver, "x11") == 0;
    std::fprintf(stderr, "Cannot show the box \"%s\": %s%s\n", caption, SDL_GetError(),
                 x11 ? " (on X11 the boxes need the X server's core fonts, such as those of the "
                       "xfonts-base package)"
                     : "");
}

void showBox(const char* text, const char* caption) {
    // Errors also go to the terminal: the box may not be seen, and a user who
    // started the demo from a shell expects to find the reason there.
    printLine(caption, text);
    const SDL_MessageBoxButtonData buttons[] = {
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0,
         "OK"},
    };
    const SDL_MessageBoxData box{
        SDL_MESSAGEBOX_INFORMATION, boxOwner, caption, text, 1, buttons, nullptr};
    // A box that cannot be shown returns at once: nothing waits for a click
    // that cannot come, and the text is on stderr already.
    int pressed = -1;
    if (SDL_ShowMessageBox(&box, &pressed) != 0) {
        printUnshownReason(caption);
    }
}

QuestionAnswer askBox(const char* text, const char* caption) {
    // Yes is the default, as Return picks it; there is no Cancel, so Escape
    // picks nothing.
    const SDL_MessageBoxButtonData buttons[] = {
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, yesButton, "Yes"},
        {0, noButton, "No"},
    };
    const SDL_MessageBoxData box{SDL_MESSAGEBOX_INFORMATION | SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT,
                                 boxOwner,
                                 caption,
                                 text,
                                 2,
                                 buttons,
                                 nullptr};
    int pressed = -1;
    if (SDL_ShowMessageBox(&box, &pressed) != 0) {
        printLine(caption, text);
        printUnshownReason(caption);
        return QuestionAnswer::Failed;
    }
    switch (pressed) {
        case yesButton:
            return QuestionAnswer::Yes;
        case noButton:
            return QuestionAnswer::No;
        default:
            return QuestionAnswer::Dismissed;
    }
}

}  // namespace

void installSdlMessageBoxes() {
    setMessageHandler(showBox);
    setQuestionHandler(askBox);
}

void removeSdlMessageBoxes() {
    setMessageHandler(nullptr);
    setQuestionHandler(nullptr);
    boxOwner = nullptr;
}

void setMessageBoxOwner(SDL_Window* owner) {
    boxOwner = owner;
}
