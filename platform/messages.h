// Message boxes as the program's code sees them. The text and caption go to a
// handler: the windowing layer installs one that shows a real box, tests
// install one that records what would have been shown.
#pragma once

// Dismissed: the box was shown but closed without a button, by the window
// manager say. Failed: no box could be shown at all; the handler has written
// the question to stderr, and the reason where it has one.
enum class QuestionAnswer { Yes, No, Dismissed, Failed };

using MessageHandler = void (*)(const char* text, const char* caption);
using QuestionHandler = QuestionAnswer (*)(const char* text, const char* caption);

// Shows an OK box, in front of the program's window while that is up, and
// returns once it is dismissed, or at once when no box can be shown.
void showMessage(const char* text, const char* caption);
// Shows a Yes/No question box.
QuestionAnswer askQuestion(const char* text, const char* caption);

// Replace the handlers; null restores the default, which writes to stderr
// (and answers Failed to questions).
void setMessageHandler(MessageHandler handler);
void setQuestionHandler(QuestionHandler handler);
