#include "scene/frame_drawing.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <array>

#include "scene/gl_state.h"

SceneAnimation sceneAnimation;

namespace {

struct Colour {
    GLfloat red, green, blue;
};

constexpr Colour red{1.0f, 0.0f, 0.0f};
constexpr Colour green{0.0f, 1.0f, 0.0f};
constexpr Colour blue{0.0f, 0.0f, 1.0f};

// The pyramid's base corners; the apex (0, apexY, 0) moves.
struct Corner {
    Colour colour;
    GLfloat x, y, z;
};

// Four side faces, each the red apex followed by two base corners.
constexpr std::array<std::array<Corner, 2>, 4> pyramidFaces{{
    {{{green, -1.0f, -1.0f, 1.0f}, {blue, 1.0f, -1.0f, 1.0f}}},    // front
    {{{blue, 1.0f, -1.0f, 1.0f}, {green, 1.0f, -1.0f, -1.0f}}},    // right
    {{{green, 1.0f, -1.0f, -1.0f}, {blue, -1.0f, -1.0f, -1.0f}}},  // back
    {{{blue, -1.0f, -1.0f, -1.0f}, {green, -1.0f, -1.0f, 1.0f}}},  // left
}};

constexpr Colour c1{0.008f, 0.37f, 0.53f};
constexpr Colour c2{0.26f, 0.43f, 0.23f};
constexpr Colour c3{0.64f, 0.16f, 0.02f};
constexpr Colour c4{0.43f, 0.23f, 0.34f};

// A cube corner: which of the low (false) or high (true) coordinates each
// axis takes.
struct CubeVertex {
    Colour colour;
    bool highX, highY, highZ;
};

constexpr bool L = false;
constexpr bool H = true;

constexpr std::array<std::array<CubeVertex, 4>, 6> cubeFaces{{
    {{{c1, L, L, H}, {c2, H, L, H}, {c3, H, H, H}, {c4, L, H, H}}},  // z high
    {{{c3, L, L, L}, {c1, L, H, L}, {c2, H, H, L}, {c4, H, L, L}}},  // z low
    {{{c2, L, H, L}, {c3, L, H, H}, {c4, H, H, H}, {c1, H, H, L}}},  // y high
    {{{c2, L, L, L}, {c1, H, L, L}, {c4, H, L, H}, {c3, L, L, H}}},  // y low
    {{{c3, H, L, L}, {c1, H, H, L}, {c4, H, H, H}, {c2, H, L, H}}},  // x high
    {{{c4, L, L, L}, {c1, L, L, H}, {c3, L, H, H}, {c2, L, H, L}}},  // x low
}};

void setColour(const Colour& colour) {
    glColor3f(colour.red, colour.green, colour.blue);
}

// Neither body gives texture coordinates: both take the current one, and
// with it one texel of the texture that modulates their colours.
void drawPyramid(const SceneAnimation& state) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, state.cameraZ);
    glRotatef(state.angle, 0.0f, 0.1f, 0.0f);
    glBegin(GL_TRIANGLES);
    for (const auto& face : pyramidFaces) {
        setColour(red);
        glVertex3f(0.0f, state.apexY, 0.0f);
        for (const Corner& corner : face) {
            setColour(corner.colour);
            glVertex3f(corner.x, corner.y, corner.z);
        }
    }
    glEnd();
}

void drawCube(const SceneAnimation& state) {
    glLoadIdentity();
    glTranslatef(0.0f, state.cubeY, state.cameraZ);
    glRotatef(state.angle, 0.3f, 0.5f, 0.7f);
    const auto coordinate = [&](bool high) { return high ? state.cubeMax : state.cubeMin; };
    glBegin(GL_QUADS);
    for (const auto& face : cubeFaces) {
        for (const CubeVertex& vertex : face) {
            setColour(vertex.colour);
            glVertex3f(coordinate(vertex.highX), coordinate(vertex.highY),
                       coordinate(vertex.highZ));
        }
    }
    glEnd();
}

// No colour is set: the one the cube's last vertex left modulates the texture.
// The quadric lives only for the one sphere, so nothing outlives the frame or
// depends on the context's end.
void drawBall(const SceneAnimation& state) {
    glLoadIdentity();
    GLUquadric* quadric = gluNewQuadric();
    if (quadric == nullptr) {
        return;
    }
    glBindTexture(GL_TEXTURE_2D, textureName);
    gluQuadricNormals(quadric, GLU_SMOOTH);
    gluQuadricTexture(quadric, GL_TRUE);
    glTranslatef(0.0f, state.ballY, -10.0f);
    glRotatef(state.angle, 0.0f, 1.0f, 0.0f);
    gluSphere(quadric, 0.5, 50, 50);
    gluDeleteQuadric(quadric);
}

}  // namespace

bool drawSceneFrame(SceneAnimation& state, FrameTimer& timer) {
    drawPyramid(state);
    if (state.cubeVisible != 0) {
        drawCube(state);
    }
    if (advanceChoreography(state, timer)) {
        drawBall(state);
        advanceBall(state);
    }
    return true;
}

bool drawScene() {
    return drawSceneFrame(sceneAnimation, sceneTimer);
}
