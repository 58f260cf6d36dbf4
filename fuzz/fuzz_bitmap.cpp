// Feeds arbitrary bytes to the bitmap loader as a file's contents. Any image
// it returns is read whole, so that a short or stray result shows up too.
#include <cstdlib>

#include "image/bitmap_loader.h"
#include "platform/messages.h"

namespace {

void ignoreMessage(const char*, const char*) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    setMessageHandler(ignoreMessage);
    RgbImage* image = loadBitmapImageFromMemory(data, size);
    if (image != nullptr) {
        if (image->width <= 0 || image->height <= 0 || image->data == nullptr) {
            std::abort();
        }
        const size_t bytes = static_cast<size_t>(image->width) * image->height * 3;
        volatile uint8_t sum = 0;
        for (size_t i = 0; i < bytes; ++i) {
            sum = sum + image->data[i];
        }
        std::free(image->data);
        std::free(image);
    }
    return 0;
}
