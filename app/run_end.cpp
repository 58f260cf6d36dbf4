#include "app/run_end.h"

int exitStatusFor(RunEnd end) {
    switch (end) {
        case RunEnd::Escape:
        case RunEnd::DisplayRefused:
        case RunEnd::TextureMissing:
            return 0;
        case RunEnd::WindowSystemFailed:
        case RunEnd::QuestionFailed:
        case RunEnd::WindowFailed:
        case RunEnd::DeviceFailed:
        case RunEnd::SongFailed:
            return -1;
    }
    return -1;
}
