/* The Windows build's stb_image: Debian ships the library for Linux only, so
   the header's implementation is compiled here, once. */
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
