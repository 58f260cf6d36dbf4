// The viewport and projection, the fixed render state and the one texture.
#pragma once

#include <GL/gl.h>

#include <cstdint>

#include "image/bitmap_loader.h"

// The texture made from "Texture.bmp"; bound for the whole run and bound again
// before the ball is drawn.
extern GLuint textureName;

// Viewport over the whole size and a 45-degree perspective projection with
// near plane 0.1 and far plane 100; leaves the modelview matrix current and
// reset. A height of 0 is taken as 1.
void resizeScene(int32_t width, int32_t height);

// Loads the texture, then sets texturing, smooth shading, the clear values and
// the less-or-equal depth test. Returns false, setting nothing else, when the
// texture could not be loaded.
bool initScene();

// Loads "Texture.bmp" from the working directory into textureName. True when
// the image loaded, whether or not OpenGL accepted the upload.
bool loadTexture();

// The bitmap named, or null: silently when the file cannot be opened for
// reading, after the bitmap loader's message when it is not a usable bitmap.
RgbImage* loadImageFile(const char* name);
