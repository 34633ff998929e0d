#pragma once

// Makes a mipmapped, linearly filtered texture from the bitmap file at path
// (backslashes are directory separators) and stores its name in *textureName.
// A file that is missing or does not decode ends the program with status 1.
// A null path does nothing.
void createTexture(const char* path, unsigned int* textureName);
