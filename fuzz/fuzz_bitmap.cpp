// Feeds arbitrary bytes to the bitmap decoder; a decoded picture is read
// through once so that a wrong size shows up under AddressSanitizer.
#include "bitmap_image.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = (setErrorMessages(false), true);
    (void)quiet;
    RgbImage* image = decodeBitmapBytes(data, size);
    if (image) {
        size_t bytes = size_t(image->width) * size_t(image->height) * 3;
        volatile unsigned sum = 0;
        for (size_t i = 0; i < bytes; i += 4093)
            sum = sum + image->pixels[i];
        sum = sum + image->pixels[bytes - 1];
        free(image->pixels);
        free(image);
    }
    return 0;
}
