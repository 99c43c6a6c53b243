// Test helpers of the viewer: a stand-in model kind ("zvt", by its file
// extension) that records what the viewer asks of it, a stand-in geometry
// that is no model ("zvg"), and a fixture that writes the viewer's files
// beside the test program (the viewer reads them from its own folder) and
// runs a Viewer in this process.
#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "viewer.h"
#include "zvimage.h"
#include "zv3dswriter.h"
#include "zvcommdlg.h"
#include "zvwin32test.h"

namespace viewertest {

// What the stand-in models were asked, process-wide (one test at a time).
struct ModelLog {
    std::vector<u32> requested;                      // AddAnimation ids
    std::vector<std::string> commands;               // SendCommand: "command|parameter"
    int updates = 0;
    u32 numAnimations = 5;                           // of the next models made
    Vector3 boxMin = Vector3(-1.0f, 0.5f, -1.0f);    // of the next models made
    Vector3 boxMax = Vector3(1.0f, 3.0f, 1.0f);
    Matrix world = Matrix().SetIdentity();           // of the next models made, before the viewer places them
    float driftPerUpdate = 0.0f;                     // x added to the world matrix by each Update
    std::function<void(int)> onUpdate;               // called with the update count
    void Clear() { *this = ModelLog(); }
};

inline ModelLog& Models() {
    static ModelLog log;
    return log;
}

// A model of the type "zvt": any number of animations, one playing at a
// time; "LoadAnimation" adds one.  Each Update moves it along x by the
// log's drift, as an animation with root motion would.
class FakeModel : public IModel, public IPhyEntity {
public:
    u32 AddRef() override { return ++nRef; }
    u32 Release() override {
        if (nRef == 0) return 0;
        if (--nRef > 0) return nRef;
        delete this;
        return 0;
    }
    const String& GetName() override {
        static String name("FakeModel");
        return name;
    }
    HRESULT Update(float) override {
        ModelLog& log = Models();
        ++log.updates;
        world._41 = (float)((double)world._41 + log.driftPerUpdate);
        if (log.onUpdate) log.onUpdate(log.updates);
        return S_OK;
    }
    HRESULT Render() override { return S_OK; }
    HRESULT Reset() override { return S_FALSE; }
    HRESULT SendCommand(const String& command, String* parameter) override {
        Models().commands.push_back(std::string(command.c_str()) + "|" + (parameter ? parameter->c_str() : ""));
        if (command == "LoadAnimation") {
            ++numAnimations;
            return S_OK;
        }
        return E_FAIL;
    }
    HRESULT GetTypeAndCommand(String* outType, String* outCommand) override {
        if (outType) *outType = type;
        if (outCommand) *outCommand = command;
        return S_OK;
    }
    HRESULT AddAnimation(const String&, float) override { return E_FAIL; }
    HRESULT AddAnimation(u32 id, float) override {
        Models().requested.push_back(id);
        playing = (i32)id;
        return S_OK;
    }
    u32 GetNumAnimations() override { return numAnimations; }
    String GetAnimationName(u32 id) override {
        if (id >= numAnimations) return String();
        String name = "anim";
        name += (unsigned int)id;
        return name;
    }
    bool IsAnimationPlaying(u32 id) override { return (i32)id == playing; }
    HRESULT GetBuffers(GeometryBuffers* out) override {
        if (!out) return E_FAIL;
        *out = GeometryBuffers{nullptr, nullptr, 0};
        return S_OK;
    }
    void GetBoundingBox(Vector3* min, Vector3* max) override {
        *min = boxMin;
        *max = boxMax;
    }
    void SetWorldMatrix(Matrix m) override { world = m; }
    void GetWorldMatrix(Matrix* out) override { *out = world; }

    static HRESULT Create(const String& type, const String& command, IGraphics* graphics, IGeometry** out) {
        FakeModel* m = new FakeModel;
        m->type = type;
        m->command = command;
        m->pGraphics = graphics;
        m->numAnimations = Models().numAnimations;
        m->boxMin = Models().boxMin;
        m->boxMax = Models().boxMax;
        m->world = Models().world;
        m->AddRef();
        *out = m;
        return S_OK;
    }

    u32 nRef = 0;
    IGraphics* pGraphics = nullptr;
    String type, command;
    u32 numAnimations = 0;
    i32 playing = -1;
    Vector3 boxMin, boxMax;
    Matrix world;

protected:
    ~FakeModel() override {
        if (pGraphics) {
            pGraphics->RemoveGeometry(this);
            pGraphics->Release();
        }
    }
};

// A geometry of the type "zvg" that is no model.
class FakeGeometry : public IGeometry {
public:
    u32 AddRef() override { return ++nRef; }
    u32 Release() override {
        if (nRef == 0) return 0;
        if (--nRef > 0) return nRef;
        delete this;
        return 0;
    }
    const String& GetName() override {
        static String name("FakeGeometry");
        return name;
    }
    HRESULT Update(float) override { return S_OK; }
    HRESULT Render() override { return S_OK; }
    HRESULT Reset() override { return S_FALSE; }
    HRESULT SendCommand(const String&, String*) override { return E_FAIL; }
    HRESULT GetTypeAndCommand(String* type, String* command) override {
        if (type) *type = "zvg";
        if (command) *command = strCommand;
        return S_OK;
    }
    static HRESULT Create(const String&, const String& command, IGraphics* graphics, IGeometry** out) {
        FakeGeometry* g = new FakeGeometry;
        g->strCommand = command;
        g->pGraphics = graphics;
        g->AddRef();
        *out = g;
        return S_OK;
    }
    u32 nRef = 0;
    IGraphics* pGraphics = nullptr;
    String strCommand;

protected:
    ~FakeGeometry() override {
        if (pGraphics) {
            pGraphics->RemoveGeometry(this);
            pGraphics->Release();
        }
    }
};

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline bool WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return (bool)out;
}

// The folder of the test program, where the viewer looks for its files.
inline std::string ExeDir() { return std::string(GetExeDir().c_str()); }

// A scene file: display 320 x 240 windowed, a camera, one point light, the
// given models (each "entry" or "entry|x y z angle") and "path" entries.
inline std::string SceneText(const std::vector<std::string>& models, const std::string& paths = "") {
    std::string text = paths;
    for (const std::string& m : models) {
        size_t bar = m.find('|');
        text += "model " + m.substr(0, bar) + "\n";
        if (bar != std::string::npos) text += "{\n    position " + m.substr(bar + 1) + "\n}\n";
    }
    text +=
        "display\n{\n    adapter 0\n    resolution 320 240\n    windowed 1\n    strict 0\n    performance 0\n}\n"
        "camera\n{\n    eye 0 10 -40\n    lookat 0 10 0\n}\n"
        "pointlight\n{\n    position 30 40 -30\n    ambient 0.2 0.2 0.2\n    diffuse 1 0.5 0.25\n"
        "    specular 0 0 0\n}\n";
    return text;
}

// A coloured box from min to max in the file's coordinates (z up).
inline bool WriteBox3ds(const std::string& path, const float min[3], const float max[3], uint8_t r, uint8_t g,
                        uint8_t b) {
    zvtools::Scene3ds scene;
    zvtools::Material3ds mat;
    mat.name = "paint";
    mat.ambient[0] = r;
    mat.ambient[1] = g;
    mat.ambient[2] = b;
    mat.diffuse[0] = r;
    mat.diffuse[1] = g;
    mat.diffuse[2] = b;
    mat.specular[0] = mat.specular[1] = mat.specular[2] = 0;
    mat.shininess = 20;
    scene.materials.push_back(mat);
    scene.meshes.push_back(zvtools::BoxMesh3ds("box", min, max, "paint"));
    return zvtools::WriteScene3ds(path, scene);
}

// A flat grey floor for "scene.3ds" and a coloured box as a model, both
// around their origin.
inline bool WriteBox3ds(const std::string& path, float size, uint8_t r, uint8_t g, uint8_t b) {
    const float min[3] = {-size, -size, -size};
    const float max[3] = {size, size, size};
    return WriteBox3ds(path, min, max, r, g, b);
}

// Runs a Viewer in this process with the files the test wrote beside it.
class ViewerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZVTestResetViewer();
        Paths = Vector<String>();
        Models().Clear();
        ZVTestClearOpenFileAnswers();
        dir = ExeDir();
        for (int n = 1; n <= 12; ++n) std::remove(ShotName(n).c_str());
        ASSERT_TRUE(CopyFontImage());
        ASSERT_TRUE(WriteBox3ds(dir + "scene.3ds", 50.0f, 128, 128, 128));
        ZVTestCaptureLog(&log);
    }
    void TearDown() override {
        viewer.reset();
        ZVTestCaptureLog(nullptr);
        ZVTestClearOpenFileAnswers();
        Models().Clear();
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        for (int n = 1; n <= 12; ++n) std::remove(ShotName(n).c_str());
    }

    bool CopyFontImage() {
        std::string image = ReadFile(ZV_FONT_IMAGE);
        return !image.empty() && WriteFile(dir + "lucida_console.tga", image);
    }
    std::string ShotName(int n) {
        char name[32];
        std::snprintf(name, sizeof(name), "Lumivex_%02d.bmp", n);
        return dir + name;
    }
    // The world height of the loaded model after the viewer placed it.
    float ModelHeight() {
        Matrix world;
        dynamic_cast<IPhyEntity*>(viewer->pModel)->GetWorldMatrix(&world);
        return world._42;
    }
    // Draws one frame with the scene moved far out of view and reads back its
    // screenshot: the loaded model alone on the background.
    void ShootModelAlone(ZVImage* image) {
        Matrix away;
        away.SetIdentity();
        away._42 = -1000.0f;
        dynamic_cast<IPhyEntity*>(viewer->pScene)->SetWorldMatrix(away);
        ASSERT_GE(viewer->pGraphics->UpdateAndRender(0.0f), 0) << log;
        const std::string shot = ShotName(1);
        std::remove(shot.c_str());
        ASSERT_GE(viewer->pGraphics->SaveScreenshot(shot.c_str()), 0) << log;
        std::string error;
        ASSERT_TRUE(ZVImageLoadFile(shot.c_str(), image, &error)) << error;
    }
    // Writes the scene file and starts a viewer (command line may be null).
    HRESULT Start(const char* commandLine, const std::vector<std::string>& sceneModels = {"scene.3ds"}) {
        EXPECT_TRUE(WriteFile(dir + "zvscene.txt", SceneText(sceneModels)));
        viewer.reset(new Viewer);
        return viewer->Init(nullptr, commandLine);
    }
    HWND Window() { return static_cast<ZVCore*>(viewer->pCore)->hWnd; }
    void Pump() { viewer->pCore->Update(true); }
    void Key(u8 dik, bool down) {
        ZVTestPushKey(Window(), DikToScancode(dik), down);
        Pump();
    }
    // Presses the keys, runs one input tick, releases them again.
    HRESULT Tap(std::initializer_list<u8> keys) {
        for (u8 k : keys) Key(k, true);
        HRESULT hr = viewer->InputProcess();
        for (u8 k : keys) Key(k, false);
        return hr;
    }
    static SDL_Scancode DikToScancode(u8 dik) {
        switch (dik) {
        case DIK_ESCAPE: return SDL_SCANCODE_ESCAPE;
        case DIK_NUMPAD0: return SDL_SCANCODE_KP_0;
        case DIK_NUMPAD1: return SDL_SCANCODE_KP_1;
        case DIK_NUMPAD2: return SDL_SCANCODE_KP_2;
        case DIK_NUMPAD3: return SDL_SCANCODE_KP_3;
        case DIK_NUMPAD4: return SDL_SCANCODE_KP_4;
        case DIK_NUMPAD5: return SDL_SCANCODE_KP_5;
        case DIK_NUMPAD6: return SDL_SCANCODE_KP_6;
        case DIK_NUMPAD7: return SDL_SCANCODE_KP_7;
        case DIK_NUMPAD8: return SDL_SCANCODE_KP_8;
        case DIK_NUMPAD9: return SDL_SCANCODE_KP_9;
        case DIK_LSHIFT: return SDL_SCANCODE_LSHIFT;
        case DIK_RSHIFT: return SDL_SCANCODE_RSHIFT;
        case DIK_LCONTROL: return SDL_SCANCODE_LCTRL;
        case DIK_RCONTROL: return SDL_SCANCODE_RCTRL;
        case DIK_UP: return SDL_SCANCODE_UP;
        case DIK_DOWN: return SDL_SCANCODE_DOWN;
        case DIK_LEFT: return SDL_SCANCODE_LEFT;
        case DIK_RIGHT: return SDL_SCANCODE_RIGHT;
        case DIK_PRIOR: return SDL_SCANCODE_PAGEUP;
        case DIK_RETURN: return SDL_SCANCODE_RETURN;
        case DIK_NUMPADENTER: return SDL_SCANCODE_KP_ENTER;
        case DIK_F1: return SDL_SCANCODE_F1;
        case DIK_F2: return SDL_SCANCODE_F2;
        case DIK_F5: return SDL_SCANCODE_F5;
        case DIK_F7: return SDL_SCANCODE_F7;
        case DIK_F11: return SDL_SCANCODE_F11;
        case DIK_SPACE: return SDL_SCANCODE_SPACE;
        case DIK_R: return SDL_SCANCODE_R;
        case DIK_L: return SDL_SCANCODE_L;
        case DIK_F: return SDL_SCANCODE_F;
        case DIK_V: return SDL_SCANCODE_V;
        case DIK_P: return SDL_SCANCODE_P;
        default: ADD_FAILURE() << "no scan code for DIK " << (int)dik; return SDL_SCANCODE_UNKNOWN;
        }
    }

    std::string dir;
    std::string log;
    std::unique_ptr<Viewer> viewer;
};

}  // namespace viewertest
