/* The Windows build's stb_image and stb_image_write: Debian ships the library
   for Linux only, so the headers' implementations are compiled here, once. */
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
