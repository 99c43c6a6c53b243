// Shared helpers of the game tests: small content written with our own
// writers (an arena, box opponents, an MD5 opponent), scene files, a game
// played inside the test program while a driver thread acts as the player
// (keys, mouse, close box), and screenshot reading.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "deathmatch.h"
#include "zv3dswriter.h"
#include "zvimage.h"
#include "zvimagewriters.h"
#include "zvmd5writer.h"
#include "zvwin32test.h"

namespace gametest {

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

inline std::string ExeDir() { return GetExeDir().c_str(); }
// The folder the scene files of the tests name with "path gamedata".
inline std::string DataDir() { return ExeDir() + "gamedata/"; }

inline bool FileExists(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

inline std::string ReadFile(const std::string& path) {
    std::string text;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    std::fclose(f);
    return text;
}

inline bool CopyFile(const std::string& from, const std::string& to) {
    const std::string bytes = ReadFile(from);
    if (bytes.empty()) return false;
    FILE* f = std::fopen(to.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

inline void RemoveScreenshots() {
    for (int n = 1; n <= 12; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "Skirmora_%02d.bmp", n);
        std::remove((ExeDir() + name).c_str());
    }
}

// --- content ---------------------------------------------------------------

inline zvtools::Material3ds Colour(const std::string& name, uint8_t r, uint8_t g, uint8_t b) {
    zvtools::Material3ds m;
    m.name = name;
    m.ambient[0] = (uint8_t)(r / 3), m.ambient[1] = (uint8_t)(g / 3), m.ambient[2] = (uint8_t)(b / 3);
    m.diffuse[0] = r, m.diffuse[1] = g, m.diffuse[2] = b;
    m.specular[0] = m.specular[1] = m.specular[2] = 60;
    m.shininess = 10;
    return m;
}

// An arena of half sizes hx, hy (ground plan) and hz (height) in file
// coordinates (z up), centred on the origin.  The game mirrors and stretches
// it: world x = 3 x, world z = 3 y, world y = -15 z - 50.  Every side is
// written with both windings, so that it shows from inside however the
// mirror turns the faces.
inline bool WriteArena(const std::string& path, float hx, float hy, float hz, bool pillar = true) {
    zvtools::Scene3ds scene;
    scene.materials.push_back(Colour("Walls", 200, 120, 80));
    scene.materials.push_back(Colour("Pillar", 90, 110, 220));
    const float lo[3] = {-hx, -hy, -hz}, hi[3] = {hx, hy, hz};
    scene.meshes.push_back(zvtools::BoxMesh3ds("ArenaIn", lo, hi, "Walls", 50.0f, true));
    scene.meshes.push_back(zvtools::BoxMesh3ds("ArenaOut", lo, hi, "Walls", 50.0f, false));
    if (pillar) {
        // A pillar left of the centre line that casts shadows on the floor.
        const float plo[3] = {-60.0f, -20.0f, -hz}, phi[3] = {-40.0f, 0.0f, hz};
        scene.meshes.push_back(zvtools::BoxMesh3ds("Pillar", plo, phi, "Pillar", 10.0f, false));
    }
    return zvtools::WriteScene3ds(path, scene);
}

// A standing box for an opponent without animations: half width w in the
// ground plan and height h, its foot at the origin.
inline bool WriteBoxOpponent(const std::string& path, float w, float h) {
    zvtools::Scene3ds scene;
    scene.materials.push_back(Colour("Body", 60, 200, 90));
    const float lo[3] = {-w, -w, 0.0f}, hi[3] = {w, w, h};
    scene.meshes.push_back(zvtools::BoxMesh3ds("Body", lo, hi, "Body", 20.0f, false));
    return zvtools::WriteScene3ds(path, scene);
}

// An MD5 opponent: one joint at the origin, a box of half width 30 and
// height 80 (file z up), and one animation per name, each of `frames` frames
// at 10 frames per second.  The bounds enclose the box (they are its hit
// box: deeper than the 50 units a bullet flies per frame).
inline bool WriteMD5Opponent(const std::string& dir, const std::string& base, const std::vector<std::string>& anims,
                             int frames = 5) {
    using namespace zvtools;
    MD5MeshFile mesh;
    MD5Joint root;
    root.name = "origin";
    mesh.joints.push_back(root);
    MD5Mesh m;
    m.shader = base;
    const float w = 30.0f, h = 80.0f;
    for (int c = 0; c < 8; ++c) {
        MD5Vert v;
        v.u = (c & 1) ? 1.0f : 0.0f;
        v.v = (c & 2) ? 1.0f : 0.0f;
        v.firstWeight = c;
        v.numWeights = 1;
        m.verts.push_back(v);
        MD5Weight wt;
        wt.joint = 0;
        wt.bias = 1.0f;
        wt.pos[0] = (c & 1) ? w : -w;
        wt.pos[1] = (c & 2) ? w : -w;
        wt.pos[2] = (c & 4) ? h : 0.0f;
        m.weights.push_back(wt);
    }
    const int faces[12][3] = {{0, 2, 3}, {0, 3, 1}, {4, 5, 7}, {4, 7, 6}, {0, 1, 5}, {0, 5, 4},
                              {2, 6, 7}, {2, 7, 3}, {0, 4, 6}, {0, 6, 2}, {1, 3, 7}, {1, 7, 5}};
    for (const auto& f : faces) {
        MD5Tri t;
        t.v[0] = f[0], t.v[1] = f[1], t.v[2] = f[2];
        m.tris.push_back(t);
    }
    mesh.meshes.push_back(m);
    if (!WriteTextFile(dir + base + ".md5mesh", WriteMD5Mesh(mesh))) return false;
    // The shader's texture: a plain orange image.
    std::vector<uint8_t> bgra;
    for (int i = 0; i < 16; ++i) bgra.insert(bgra.end(), {40, 140, 240, 255});
    if (!WriteTGA(dir + base + ".tga", 4, 4, bgra.data())) return false;

    MD5DefModel def;
    def.name = base;
    def.mesh = base + ".md5mesh";
    for (const std::string& name : anims) {
        MD5Anim anim;
        anim.frameRate = 10;
        MD5AnimJoint j;
        j.name = "origin";
        j.flags = 7;  // its position is animated, and stays 0: the root does not move
        anim.joints.push_back(j);
        anim.baseframe.push_back(MD5BaseJoint());
        for (int f = 0; f < frames; ++f) {
            MD5Bound b;
            b.min[0] = -w, b.min[1] = -w, b.min[2] = 0;
            b.max[0] = w, b.max[1] = w, b.max[2] = h;
            anim.bounds.push_back(b);
            anim.frames.push_back(std::vector<float>{0.0f, 0.0f, 0.0f});
        }
        const std::string file = base + "_" + name + ".md5anim";
        if (!WriteTextFile(dir + file, WriteMD5Anim(anim))) return false;
        def.anims.push_back({name, file});
    }
    return WriteTextFile(dir + base + ".def", WriteMD5Def({def}));
}

struct SceneModel {
    std::string file;
    float x = 0, y = 0, z = 0, degrees = 0;
};

struct SceneDesc {
    std::vector<std::string> paths = {"gamedata"};
    std::vector<SceneModel> models;
    float eye[3] = {0, 10, -400};
    float lookAt[3] = {0, 10, 0};
    int width = 320, height = 240;
    std::vector<std::vector<float>> lights = {{0, 60, -250}, {-300, 60, 300}};  // positions, white light
};

inline std::string SceneText(const SceneDesc& scene) {
    std::string text = "// written by the game tests\n";
    char line[256];
    for (const std::string& p : scene.paths) text += "path " + p + "\n";
    for (const SceneModel& m : scene.models) {
        std::snprintf(line, sizeof line, "model %s\n{\n    position %g %g %g %g\n}\n", m.file.c_str(), m.x, m.y, m.z,
                      m.degrees);
        text += line;
    }
    std::snprintf(line, sizeof line,
                  "display\n{\n    adapter 0\n    resolution %d %d\n    windowed 1\n    strict 0\n    performance 0\n}\n",
                  scene.width, scene.height);
    text += line;
    std::snprintf(line, sizeof line, "camera\n{\n    eye %g %g %g\n    lookat %g %g %g\n}\n", scene.eye[0], scene.eye[1],
                  scene.eye[2], scene.lookAt[0], scene.lookAt[1], scene.lookAt[2]);
    text += line;
    for (const auto& l : scene.lights) {
        std::snprintf(line, sizeof line,
                      "pointlight\n{\n    position %g %g %g\n    ambient 0.2 0.2 0.2\n    diffuse 1 1 1\n"
                      "    specular 0.3 0.3 0.3\n}\n",
                      l[0], l[1], l[2]);
        text += line;
    }
    return text;
}

inline std::string SceneFilePath() { return ExeDir() + "zvscene.txt"; }

// Writes the content every test scene uses into DataDir(): the arena
// (x in [-600, 600], z in [-750, 750], y in [-170, 70] once placed, so the
// scene box is x in [-550, 550], z in [-700, 700], y in [-120, 20]), a box
// opponent (80 x 80 x 80, its foot at its origin), and the font image.
inline void WriteCommonContent() {
    std::string mkdir = "mkdir -p '" + DataDir() + "'";
    ASSERT_EQ(std::system(mkdir.c_str()), 0);
    ASSERT_TRUE(WriteArena(DataDir() + "arena.3ds", 200, 250, 8));
    ASSERT_TRUE(WriteBoxOpponent(DataDir() + "crate.3ds", 40, 80));
    ASSERT_TRUE(CopyFile(ZV_FONT_IMAGE, DataDir() + "lucida_console.tga"));
}

// --- playing ---------------------------------------------------------------

// What the driver thread does to the running game, as a player would.
class Driver {
public:
    Driver(HWND window, std::atomic<bool>* running, const u32* frames)
        : window(window), running(running), frames(frames) {}

    bool Running() const { return running->load(); }
    // Sleeps, or less when the game ended.
    void Wait(double seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (Running() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // Frames the game finished so far (read while the game thread runs).
    u32 Frames() const { return __atomic_load_n(frames, __ATOMIC_RELAXED); }
    // Waits until n more frames were drawn (or the game ended).
    void WaitFrames(u32 n, double timeout = 20.0) {
        const u32 target = Frames() + n;
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
        while (Running() && Frames() < target && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    void KeyDown(SDL_Scancode key) { ZVTestPushKey(window, key, true); }
    void KeyUp(SDL_Scancode key) { ZVTestPushKey(window, key, false); }
    // One press: down until a whole frame has read it, then up, and one
    // more frame drawn.  At any frame rate above 2 per second a toggle
    // acts once (it waits 0.5 s before it may act again).
    void Press(SDL_Scancode key) {
        KeyDown(key);
        WaitFrames(2);
        KeyUp(key);
        WaitFrames(1);
    }
    // Holds the key until the game shows that it acted on it (as a player
    // watching the screen would), then lets it go; false when it did not.
    bool PressUntil(SDL_Scancode key, const std::function<bool()>& acted, double timeout = 15.0) {
        KeyDown(key);
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
        bool done = false;
        while (Running() && !(done = acted()) && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        KeyUp(key);
        WaitFrames(1);
        return done;
    }
    // A toggle key: held until the watched setting of the game changed.
    template <typename T>
    bool Toggle(SDL_Scancode key, const T& setting) {
        const T before = __atomic_load_n(&setting, __ATOMIC_RELAXED);
        return PressUntil(key, [&] { return __atomic_load_n(&setting, __ATOMIC_RELAXED) != before; });
    }
    void ButtonDown() { ZVTestPushMouseButton(window, SDL_BUTTON_LEFT, true); }
    void ButtonUp() { ZVTestPushMouseButton(window, SDL_BUTTON_LEFT, false); }
    void Motion(int dx, int dy) { ZVTestPushMouseMotion(window, dx, dy); }
    void CloseBox() { ZVTestClose(window); }

    HWND window;
    std::atomic<bool>* running;
    const u32* frames;
};

// One game inside the test program.  Play runs Init, then Run on this
// thread while the script plays on a driver thread; when the script returns
// without ending the game, ESC is pressed for it.
class GameSession {
public:
    GameSession() {
        Paths = Vector<String>();
        ZVTestCaptureLog(&log);
    }
    ~GameSession() { ZVTestCaptureLog(nullptr); }

    HWND Window() { return game.pCore ? static_cast<ZVCore*>(game.pCore)->hWnd : nullptr; }

    bool Play(const std::function<void(Driver&)>& script, double timeout = 60.0) {
        initResult = game.Init();
        if (initResult < 0) return false;
        if (beforeRun) beforeRun(game);
        std::atomic<bool> running(true);
        Driver driver(Window(), &running, &game.nFrames);
        std::thread thread([&] {
            driver.WaitFrames(2);  // the first frames
            script(driver);
            const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
            while (running.load() && std::chrono::steady_clock::now() < end) {
                driver.Press(SDL_SCANCODE_ESCAPE);
                driver.Wait(0.2);
            }
            if (running.load()) driver.CloseBox();  // the last resort: the window's close box
        });
        runResult = game.Run();
        running = false;
        thread.join();
        return true;
    }

    // Closes the game as its destructor would, while the log is captured.
    void Close() { game.Close(); }

    DeathMatch game;
    // Called by Play between a successful Init and Run.
    std::function<void(DeathMatch&)> beforeRun;
    std::string log;
    HRESULT initResult = E_FAIL;
    HRESULT runResult = E_FAIL;
};

// --- screenshots -----------------------------------------------------------

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> bgra;

    bool Load(const std::string& path) {
        ZVImage image;
        std::string error;
        if (!ZVImageLoadFile(path.c_str(), &image, &error)) return false;
        width = image.width;
        height = image.height;
        bgra = image.pixels;
        return true;
    }
    const uint8_t* At(int x, int y) const { return &bgra[((size_t)y * width + x) * 4]; }
    // Pixels whose colour differs by more than `tolerance` in a channel.
    size_t Differences(const Picture& other, int tolerance = 8) const {
        if (width != other.width || height != other.height) return (size_t)-1;
        size_t n = 0;
        for (size_t i = 0; i < bgra.size(); i += 4) {
            for (int c = 0; c < 3; ++c) {
                if (std::abs((int)bgra[i + c] - (int)other.bgra[i + c]) > tolerance) {
                    ++n;
                    break;
                }
            }
        }
        return n;
    }
    // Sum of brightness of the whole picture.
    double Brightness() const {
        double sum = 0;
        for (size_t i = 0; i < bgra.size(); i += 4) sum += bgra[i] + bgra[i + 1] + bgra[i + 2];
        return sum / (bgra.size() / 4 * 3.0);
    }
};

inline std::string Screenshot(int n) {
    char name[32];
    std::snprintf(name, sizeof name, "Skirmora_%02d.bmp", n);
    return ExeDir() + name;
}

}  // namespace gametest
