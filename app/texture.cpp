#include "texture.h"

#include "bitmap_image.h"
#include "file_access.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <cstdio>
#include <cstdlib>

void upload_texture(int width, int height, int channels, const unsigned char* pixels,
                    unsigned int* textureName) {
    glGenTextures(1, textureName);
    // Decoded rows are tightly packed.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, *textureName);
    // GLU resizes sides that are not powers of two while it builds the levels.
    gluBuild2DMipmaps(GL_TEXTURE_2D, channels, width, height, channels == 4 ? GL_RGBA : GL_RGB,
                      GL_UNSIGNED_BYTE, pixels);
    // Only the base level is ever sampled.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glEnable(GL_TEXTURE_2D);
}

void createTexture(const char* path, unsigned int* textureName) {
    if (!path)
        return;
    FILE* file = fopen(hostPath(path).c_str(), "r");
    if (!file) {
        printf("Textura %s nenalezena.\n", path);
        exit(1);
    }
    fclose(file);

    // A file that opens but does not decode is as fatal as a missing one: the
    // decoder has told why on standard error, and no texture may be built
    // from a missing image.
    RgbImage* image = loadBitmapImage(path);
    if (!image || !image->pixels || image->width <= 0 || image->height <= 0) {
        if (image) {
            free(image->pixels);
            free(image);
        }
        exit(1);
    }

    upload_texture(image->width, image->height, 3, image->pixels, textureName);
    free(image->pixels);
    free(image);
}
