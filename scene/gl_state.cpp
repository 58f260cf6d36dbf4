#include "scene/gl_state.h"

#include <GL/glu.h>

#include <cstdio>
#include <cstdlib>

GLuint textureName = 0;

void resizeScene(int32_t width, int32_t height) {
    // A zero height would make the aspect ratio infinite and the projection
    // degenerate; the window never has one, but a caller might pass it.
    if (height == 0) {
        height = 1;
    }
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, static_cast<double>(width) / static_cast<double>(height),
                   static_cast<double>(0.1f), 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

bool initScene() {
    if (!loadTexture()) {
        return false;
    }
    glEnable(GL_TEXTURE_2D);
    glShadeModel(GL_SMOOTH);
    glClearColor(0.0f, 0.0f, 0.0f, 0.5f);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    return true;
}

bool loadTexture() {
    bool loaded = false;
    RgbImage* image = loadImageFile("Texture.bmp");
    if (image != nullptr) {
        loaded = true;
        glGenTextures(1, &textureName);
        glBindTexture(GL_TEXTURE_2D, textureName);
        // The rows are packed without padding; OpenGL's default unpack
        // alignment of 4 would read them with a longer stride, past the end
        // of the pixels, unless 3 x width is a multiple of 4.
        const bool packedRows = image->width % 4 != 0;
        if (packedRows) {
            glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        }
        glTexImage2D(GL_TEXTURE_2D, 0, 3, image->width, image->height, 0, GL_RGB, GL_UNSIGNED_BYTE,
                     image->data);
        if (packedRows) {
            glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        }
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    }
    if (image != nullptr) {
        if (image->data != nullptr) {
            std::free(image->data);
        }
        std::free(image);
    }
    return loaded;
}

RgbImage* loadImageFile(const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    std::FILE* file = std::fopen(name, "r");
    if (file == nullptr) {
        return nullptr;
    }
    std::fclose(file);
    return loadBitmapImage(name);
}
