// Draws frames of the scene into a real GL context on a private X display and
// checks pixels where the projection puts the bodies.
#include <GL/gl.h>
#include <SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/messages.h"
#include "scene/frame_drawing.h"
#include "scene/gl_state.h"
#include "tests/scene/fake_clock.h"
#include "tests/scene/private_display.h"

// Mesa's GL driver and the D-Bus library that SDL loads keep allocations for
// the life of the process; only their leaks are not reported.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libGLX_mesa.so\n"
           "leak:swrast_dri.so\n"
           "leak:libgallium\n"
           "leak:libLLVM\n"
           "leak:libdbus\n";
}

namespace {

constexpr int screenWidth = 640;
constexpr int screenHeight = 480;

struct Rgb {
    int red, green, blue;
};

std::ostream& operator<<(std::ostream& out, const Rgb& c) {
    return out << "(" << c.red << ", " << c.green << ", " << c.blue << ")";
}

int distance(const Rgb& a, const Rgb& b) {
    return std::max(
        {std::abs(a.red - b.red), std::abs(a.green - b.green), std::abs(a.blue - b.blue)});
}

Rgb scaled(double red, double green, double blue) {
    return {static_cast<int>(std::lround(red * 255.0)),
            static_cast<int>(std::lround(green * 255.0)),
            static_cast<int>(std::lround(blue * 255.0))};
}

struct Point3 {
    double x, y, z;
};

Point3 mix(const Point3& a, double wa, const Point3& b, double wb, const Point3& c, double wc) {
    return {a.x * wa + b.x * wb + c.x * wc, a.y * wa + b.y * wb + c.y * wc,
            a.z * wa + b.z * wb + c.z * wc};
}

struct Pixel {
    int x, y;  // y counts from the top of the window
};

// Where a point in eye coordinates lands with the 45-degree, 4:3 projection.
Pixel project(const Point3& p) {
    const double f = 1.0 / std::tan(22.5 * M_PI / 180.0);
    const double aspect = static_cast<double>(screenWidth) / screenHeight;
    const double ndcX = f / aspect * p.x / -p.z;
    const double ndcY = f * p.y / -p.z;
    const int column = static_cast<int>(std::floor((ndcX + 1.0) / 2.0 * screenWidth));
    const int rowFromBottom = static_cast<int>(std::floor((ndcY + 1.0) / 2.0 * screenHeight));
    return {column, screenHeight - 1 - rowFromBottom};
}

// The back buffer as drawn, before any swap.
class FrameImage {
  public:
    FrameImage() : pixels(static_cast<size_t>(screenWidth * screenHeight * 3)) {
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, screenWidth, screenHeight, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    }

    Rgb at(Pixel p) const {
        const size_t row = static_cast<size_t>(screenHeight - 1 - p.y);
        const size_t index = (row * screenWidth + static_cast<size_t>(p.x)) * 3;
        return {pixels[index], pixels[index + 1], pixels[index + 2]};
    }

  private:
    std::vector<uint8_t> pixels;
};

std::vector<std::string> shownMessages;

void recordMessage(const char* text, const char* caption) {
    shownMessages.push_back(std::string(caption) + ": " + text);
}

class WorkingDirectory {
  public:
    explicit WorkingDirectory(const std::filesystem::path& path)
        : previous(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
    }
    ~WorkingDirectory() { std::filesystem::current_path(previous); }

  private:
    std::filesystem::path previous;
};

std::filesystem::path freshDirectory(const std::string& name) {
    const std::filesystem::path path = std::filesystem::path(::testing::TempDir()) /
                                       ("scene_render_" + std::to_string(getpid()) + "_" + name);
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return path;
}

// A bottom-up 24-bit bitmap with a 40-byte header; rows padded to 4 bytes.
void writeBitmap(const std::filesystem::path& path, int width, int height,
                 const std::vector<Rgb>& pixels) {
    const int rowBytes = (width * 3 + 3) / 4 * 4;
    const uint32_t imageBytes = static_cast<uint32_t>(rowBytes * height);
    std::vector<uint8_t> out;
    const auto put = [&](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            out.push_back(static_cast<uint8_t>(value >> (8 * i)));
        }
    };
    out.push_back('B');
    out.push_back('M');
    put(54 + imageBytes, 4);
    put(0, 4);
    put(54, 4);
    put(40, 4);
    put(static_cast<uint32_t>(width), 4);
    put(static_cast<uint32_t>(height), 4);
    put(1, 2);
    put(24, 2);
    put(0, 4);
    put(imageBytes, 4);
    put(2835, 4);
    put(2835, 4);
    put(0, 4);
    put(0, 4);
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const Rgb& c = pixels[static_cast<size_t>(row * width + column)];
            out.push_back(static_cast<uint8_t>(c.blue));
            out.push_back(static_cast<uint8_t>(c.green));
            out.push_back(static_cast<uint8_t>(c.red));
        }
        for (int pad = width * 3; pad < rowBytes; ++pad) {
            out.push_back(0);
        }
    }
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
}

// One window with a GL context on a private display for the whole suite,
// set up as the demo sets it up.
struct RenderSession {
    std::unique_ptr<PrivateDisplay> display;
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    std::string skipReason;
    bool sceneReady = false;
};

RenderSession* session = nullptr;

class SceneRendering : public ::testing::Test {
  public:
    static void SetUpTestSuite() {
        session = new RenderSession;
        session->display = std::make_unique<PrivateDisplay>(800, 600);
        if (!session->display->available()) {
            session->skipReason = "no X display for GL: " + session->display->reason();
            return;
        }
        if (SDL_Init(SDL_INIT_VIDEO) != 0) {
            session->skipReason = std::string("SDL cannot use the display: ") + SDL_GetError();
            return;
        }
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
        session->window = SDL_CreateWindow("scene", 0, 0, screenWidth, screenHeight,
                                           SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        if (session->window == nullptr) {
            session->skipReason = std::string("no GL window: ") + SDL_GetError();
            return;
        }
        session->context = SDL_GL_CreateContext(session->window);
        if (session->context == nullptr) {
            session->skipReason = std::string("no GL context: ") + SDL_GetError();
            return;
        }
        WorkingDirectory assets(std::filesystem::path(PROJECT_SOURCE_DIR) / "assets");
        resizeScene(screenWidth, screenHeight);
        session->sceneReady = initScene();
    }

    // The context, the window and the display connection are left to the
    // end of the process: closing them unloads Mesa's driver, after which
    // its own leaks could no longer be told apart from the program's. The
    // X server ends with the process.
    static void TearDownTestSuite() {}

  protected:
    void SetUp() override {
        if (!session->skipReason.empty()) {
            GTEST_SKIP() << session->skipReason;
        }
        ASSERT_TRUE(session->sceneReady) << "initScene failed with the project's Texture.bmp";
        FakeClock::set(0);
        shownMessages.clear();
        setMessageHandler(recordMessage);
    }

    void TearDown() override { setMessageHandler(nullptr); }

    // Draws one frame of the given state, with a timer that stands still so
    // that the sine adds no turn, and returns the picture.
    static FrameImage draw(SceneAnimation state) {
        FrameTimer timer(FakeClock::read);
        drawSceneFrame(state, timer);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        return FrameImage();
    }
};

TEST_F(SceneRendering, SetUpGivesProjectionDepthTestAndTexture) {
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], screenWidth);
    EXPECT_EQ(viewport[3], screenHeight);
    GLfloat projection[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    const double f = 1.0 / std::tan(22.5 * M_PI / 180.0);
    EXPECT_NEAR(projection[0], f * 3.0 / 4.0, 1e-5);
    EXPECT_NEAR(projection[5], f, 1e-5);
    EXPECT_NEAR(projection[10], -(100.0 + 0.1) / (100.0 - 0.1), 1e-5);
    GLint value = 0;
    glGetIntegerv(GL_MATRIX_MODE, &value);
    EXPECT_EQ(value, GL_MODELVIEW);
    glGetIntegerv(GL_DEPTH_FUNC, &value);
    EXPECT_EQ(value, GL_LEQUAL);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    glGetIntegerv(GL_SHADE_MODEL, &value);
    EXPECT_EQ(value, GL_SMOOTH);
    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[0] + clear[1] + clear[2], 0.0f);
    EXPECT_EQ(clear[3], 0.5f);

    glGetIntegerv(GL_TEXTURE_BINDING_2D, &value);
    EXPECT_EQ(static_cast<GLuint>(value), textureName);
    GLint texWidth = 0, texHeight = 0, texFormat = 0, minFilter = 0, magFilter = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &texWidth);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &texHeight);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &texFormat);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
    EXPECT_EQ(texWidth, 256);
    EXPECT_EQ(texHeight, 256);
    EXPECT_TRUE(texFormat == 3 || texFormat == GL_RGB) << texFormat;  // asked for as 3
    EXPECT_EQ(minFilter, GL_LINEAR);
    EXPECT_EQ(magFilter, GL_LINEAR);
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &value);
    EXPECT_EQ(value, 4);
}

TEST_F(SceneRendering, MissingTextureFailsSilentlyAndMalformedOneAfterTheLoadersMessage) {
    const GLuint loaded = textureName;
    const std::filesystem::path empty = freshDirectory("missing");
    {
        WorkingDirectory here(empty);
        EXPECT_FALSE(initScene());
        EXPECT_TRUE(shownMessages.empty());
        std::ofstream("Texture.bmp", std::ios::binary) << "This is not a bitmap at all.";
        EXPECT_FALSE(initScene());
        ASSERT_EQ(shownMessages.size(), 1u);
        EXPECT_EQ(shownMessages[0].rfind("Error: ", 0), 0u) << shownMessages[0];
    }
    EXPECT_EQ(textureName, loaded);
    std::filesystem::remove_all(empty);
}

// Rows of 3 x 5 bytes are not a multiple of 4: the upload must read them
// packed, with no row starting inside the one before.
TEST_F(SceneRendering, TextureOfWidthNotDivisibleByFourUploadsPackedRows) {
    const GLuint loaded = textureName;
    const int width = 5;
    const int height = 3;
    std::vector<Rgb> pixels;
    for (int i = 0; i < width * height; ++i) {
        pixels.push_back({i * 16, 255 - i * 8, (i * 37) % 256});
    }
    const std::filesystem::path folder = freshDirectory("odd");
    writeBitmap(folder / "Texture.bmp", width, height, pixels);
    {
        WorkingDirectory here(folder);
        ASSERT_TRUE(loadTexture());
    }
    std::vector<uint8_t> uploaded(static_cast<size_t>(width * height * 3));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, uploaded.data());
    for (size_t i = 0; i < pixels.size(); ++i) {
        const Rgb got{uploaded[i * 3], uploaded[i * 3 + 1], uploaded[i * 3 + 2]};
        EXPECT_EQ(distance(got, pixels[i]), 0) << "texel " << i << " " << got;
    }
    GLint alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 4);

    glDeleteTextures(1, &textureName);
    textureName = loaded;
    glBindTexture(GL_TEXTURE_2D, textureName);
    std::filesystem::remove_all(folder);
}

// A standing pyramid near the end of the approach: red apex, green and blue
// base corners, colours interpolated across the front face.
SceneAnimation standingPyramid() {
    SceneAnimation state;
    state.cameraZ = -4.8f;
    state.apexY = 0.5f;
    state.spin = 1.0f;
    return state;
}

void expectPyramidCorners(const FrameImage& image) {
    const Point3 apex{0.0, 0.5, -4.8};
    const Point3 left{-1.0, -1.0, -3.8};  // green
    const Point3 right{1.0, -1.0, -3.8};  // blue
    struct Sample {
        Point3 where;
        Rgb expected;
        const char* name;
    };
    const Sample samples[] = {
        {mix(apex, 0.8, left, 0.1, right, 0.1), scaled(0.8, 0.1, 0.1), "near the red apex"},
        {mix(apex, 0.1, left, 0.8, right, 0.1), scaled(0.1, 0.8, 0.1), "near the green corner"},
        {mix(apex, 0.1, left, 0.1, right, 0.8), scaled(0.1, 0.1, 0.8), "near the blue corner"},
        {mix(apex, 0.34, left, 0.33, right, 0.33), scaled(0.34, 0.33, 0.33), "in the middle"},
    };
    for (const Sample& sample : samples) {
        const Rgb got = image.at(project(sample.where));
        EXPECT_LE(distance(got, sample.expected), 12)
            << sample.name << ": " << got << " instead of " << sample.expected;
    }
    EXPECT_EQ(distance(image.at({5, 5}), {0, 0, 0}), 0) << "the background is black";
    EXPECT_EQ(distance(image.at(project({0.0, 0.8, -4.8})), {0, 0, 0}), 0) << "above the apex";
}

TEST_F(SceneRendering, PyramidShowsItsCornerColoursWhereTheProjectionPutsThem) {
    glTexCoord2f(0.0f, 0.0f);  // as at program start, before any ball
    expectPyramidCorners(draw(standingPyramid()));
}

TEST_F(SceneRendering, CubeShowsItsFourVertexColoursOnTheFrontFace) {
    SceneAnimation state;
    state.cameraZ = -3.0f;
    state.cubeVisible = 1;
    state.cubeY = 0.0f;
    state.cubeMin = -0.3f;
    state.cubeMax = 0.3f;
    state.spin = 1.0f;
    const FrameImage image = draw(state);
    const std::array<Rgb, 4> colours{scaled(0.008, 0.37, 0.53), scaled(0.26, 0.43, 0.23),
                                     scaled(0.64, 0.16, 0.02), scaled(0.43, 0.23, 0.34)};
    // The face at z = cubeMax, counter-clockwise from the low corner.
    const std::array<Point3, 4> corners{
        {{-0.3, -0.3, -2.7}, {0.3, -0.3, -2.7}, {0.3, 0.3, -2.7}, {-0.3, 0.3, -2.7}}};
    for (size_t i = 0; i < corners.size(); ++i) {
        const Point3 near{corners[i].x * 0.85, corners[i].y * 0.85, -2.7};
        const Rgb got = image.at(project(near));
        EXPECT_LE(distance(got, colours[i]), 25) << "corner " << i << ": " << got;
        for (size_t other = 0; other < colours.size(); ++other) {
            if (other != i) {
                EXPECT_LT(distance(got, colours[i]), distance(got, colours[other]))
                    << "corner " << i << " looks like colour " << other;
            }
        }
    }
}

SceneAnimation ballAtRest() {
    SceneAnimation state;
    state.cameraZ = -15.0f;
    state.phase = 12.0f;
    state.cubeVisible = 1;
    state.cubeY = -1.0f;
    state.cubeMin = -0.5f;
    state.cubeMax = -0.5f;
    state.apexY = -1.0f;
    state.ballY = -1.0f;
    state.spin = 120.0f;
    state.holdFrames = 100;
    return state;
}

// The ball is unlit and takes the colour the cube's last vertex left, c2,
// times the texture: a white pole towards the viewer with coloured gores.
TEST_F(SceneRendering, BallIsTexturedAndTintedByTheCubesLastColour) {
    const FrameImage image = draw(ballAtRest());
    const Pixel centre = project({0.0, -1.0, -10.0});
    const Rgb tint = scaled(0.26, 0.43, 0.23);
    EXPECT_LE(distance(image.at(centre), tint), 4) << image.at(centre);

    const double radius = 0.5 / 10.0 / std::tan(22.5 * M_PI / 180.0) * screenHeight / 2.0;
    std::vector<Rgb> distinct;
    for (int step = 0; step < 36; ++step) {
        const double turn = step * 2.0 * M_PI / 36.0;
        const Pixel p{centre.x + static_cast<int>(std::lround(0.7 * radius * std::cos(turn))),
                      centre.y + static_cast<int>(std::lround(0.7 * radius * std::sin(turn)))};
        const Rgb got = image.at(p);
        EXPECT_LE(got.red, tint.red + 3) << got;
        EXPECT_LE(got.green, tint.green + 3) << got;
        EXPECT_LE(got.blue, tint.blue + 3) << got;
        EXPECT_GT(got.red + got.green + got.blue, 30) << "a hole in the ball at step " << step;
        bool known = false;
        for (const Rgb& seen : distinct) {
            known = known || distance(seen, got) <= 12;
        }
        if (!known) {
            distinct.push_back(got);
        }
    }
    EXPECT_GE(distinct.size(), 4u) << "the gores should show several colours";
    const Pixel above{centre.x, centre.y - static_cast<int>(radius * 1.5)};
    EXPECT_EQ(distance(image.at(above), {0, 0, 0}), 0) << image.at(above);
}

// After a ball frame, the pyramid and the cube take the texel at the
// sphere's last texture coordinate; the texture keeps it white, so the
// bodies keep their colours.
TEST_F(SceneRendering, BodiesKeepTheirColoursAfterTheBall) {
    draw(ballAtRest());
    GLfloat coordinate[4];
    glGetFloatv(GL_CURRENT_TEXTURE_COORDS, coordinate);
    SCOPED_TRACE(::testing::Message()
                 << "texture coordinate (" << coordinate[0] << ", " << coordinate[1] << ")");
    expectPyramidCorners(draw(standingPyramid()));
}

TEST(SceneImageFile, NullOrMissingNameGivesNoImageAndNoMessage) {
    shownMessages.clear();
    setMessageHandler(recordMessage);
    EXPECT_EQ(loadImageFile(nullptr), nullptr);
    EXPECT_EQ(loadImageFile("/nonexistent/folder/Texture.bmp"), nullptr);
    EXPECT_TRUE(shownMessages.empty());
    setMessageHandler(nullptr);
}

}  // namespace
