// Skirmora: start-up, frame loop, keys, on-screen texts and screenshots of
// the deathmatch game, and its main.
#include "deathmatch.h"

#include <cmath>

namespace {

const char* const kSource = "deathmatch";
const char* const kVersion = "0.30";

// Toggle keys: the time each one may act again.
enum ToggleKey { KEY_F1, KEY_F2, KEY_P, KEY_V, KEY_F, KEY_L, KEY_R, KEY_F5, KEY_F11, KEY_COUNT };
float g_fNextKeyTime[KEY_COUNT] = {};
float g_fLastInputTick = 0.0f;
// The first light circles about the vertical axis from where it first was.
float g_fLastLightTick = 0.0f;
float g_fLightAngle = 0.0f;
bool g_bLightBaseTaken = false;
Vector3 g_vLightBase;

const float kInputTick = 0.025f;
const float kLightTick = 0.025f;
const float kWorldSpeed = 1.2f;  // the world runs faster than the clock
// Cell size and left edge of the device information text, in pixels.
const u32 kInfoSize = 14;
const u32 kInfoX = 5;

String& FrameRateText() {
    static String text;
    return text;
}

bool KeyDown(const u8* keys, u32 code) { return (keys[code] & 0x80) != 0; }

}  // namespace

DeathMatch::DeathMatch()
    : pCore(nullptr),
      pGraphics(nullptr),
      pInput(nullptr),
      pPhysics(nullptr),
      bInitialised(false),
      pScene(nullptr),
      pFont(nullptr),
      nAdapter(0),
      nWidth(0),
      nHeight(0),
      bWindowed(true),
      bStrict(false),
      bPerformance(false),
      bShowInfos(true),
      bShowHelp(false),
      bRunning(true),
      bMoveLight(true),
      nLightningPath(StencilShadow),
      nFillMode(3),
      bShowSilhouette(false),
      bShowShadowVolume(false),
      nFrames(0),
      fStartTime(0.0f),
      fLastTime(0.0f) {}

DeathMatch::~DeathMatch() { Close(); }

HRESULT DeathMatch::Init() {
    CallScope scope(nullptr, "DeathMatch::Init()");
    if (bInitialised) {
        scope.ReportFailure("Don't call Init() many times", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    scope.WriteLog(ZVLOG_INFO, String("Skirmora v") + kVersion, kSource, __LINE__);

    // The scene file is looked up in the program's directory (the empty
    // entry), then replaced on the search path by the file's own entries.
    Paths.Add(String());
    Config config;
    HRESULT hr = config.Load(File::GetFullPath(Config::kSceneFile) + Config::kSceneFile);
    if (Paths.count > 0) Paths.Remove(Paths.count - 1);
    if (scope.ReportFailure("Config file loading file; verify that 'zvscene.txt' is in the ExeDir", kSource, __LINE__,
                            hr) < 0)
        return ZVE_SUBFUNCTION;
    if (scope.ReportFailure("-", kSource, __LINE__, config.CheckResolution()) < 0) return ZVE_SUBFUNCTION;
    if (scope.ReportFailure("-", kSource, __LINE__, config.CheckCamera()) < 0) return ZVE_SUBFUNCTION;
    if (scope.ReportFailure("-", kSource, __LINE__, config.CheckLights()) < 0) return ZVE_SUBFUNCTION;
    if (scope.ReportFailure("-", kSource, __LINE__, config.CheckModels()) < 0) return ZVE_SUBFUNCTION;
    nAdapter = config.adapter;
    nWidth = config.width;
    nHeight = config.height;
    bWindowed = config.windowed;
    bStrict = config.strict;
    bPerformance = config.performance;
    for (u32 i = 0; i < config.paths.count; ++i) Paths.Add(config.paths.data[i]);

    // A failed call from here on closes what was made and returns its result.
    u32 failedLine = 0;
#define ZV_INIT_CALL(call)          \
    do {                            \
        hr = (call);                \
        if (hr < 0) {               \
            failedLine = __LINE__;  \
            goto failed;            \
        }                           \
    } while (0)

    {
        scope.WriteLog(ZVLOG_INFO, "Create Core Engine...", kSource, __LINE__);
        ZV_INIT_CALL(CreateCore(&pCore));
        ZV_INIT_CALL(pCore->Init(nullptr, "Zorvane DeathMatch", nWidth, nHeight));

        scope.WriteLog(ZVLOG_INFO, "Create Graphics Engine...", kSource, __LINE__);
        ZV_INIT_CALL(pCore->CreateGraphics(&pGraphics));
        DisplaySettings display(nAdapter, bWindowed ? 1 : 0, nWidth, nHeight);
        ZV_INIT_CALL(pGraphics->SetScreenMode(&display, bPerformance, bStrict));

        scope.WriteLog(ZVLOG_INFO, "Create Physics Engine...", kSource, __LINE__);
        ZV_INIT_CALL(pCore->CreatePhysics(&pPhysics));

        IGeometry* font = nullptr;
        ZV_INIT_CALL(pGraphics->CreateGeometry("font", "lucida_console.tga", &font));
        pFont = dynamic_cast<IFont*>(font);
        if (!pFont) {
            font->Release();
            scope.WriteLog(ZVLOG_ERROR, "The geometry of the type 'font' is not a font", kSource, __LINE__);
            ZV_INIT_CALL(E_FAIL);
        }

        DrawLoadingScreen();
        ZV_INIT_CALL(pGraphics->UpdateAndRender(0.0f));
        ZV_INIT_CALL(pGraphics->SetRenderState(LIGHTNINGPATH, nLightningPath));

        scope.WriteLog(ZVLOG_INFO, "Create Input Engine...", kSource, __LINE__);
        ZV_INIT_CALL(pCore->CreateInput(&pInput));
        u32 made = 0;
        ZV_INIT_CALL(pInput->UseDevices(DEVICE_KEYBOARD | DEVICE_MOUSE, &made));
        if (made != (DEVICE_KEYBOARD | DEVICE_MOUSE))
            scope.WriteLog(ZVLOG_INFO, "IInput failed to create all devices", kSource, __LINE__);

        scope.WriteLog(ZVLOG_INFO, "Create Geometries...\n", kSource, __LINE__);
        if (config.models.count == 0) {
            scope.ReportFailure("Put at least one model; it MUST be a 3DS Scene", kSource, __LINE__, E_FAIL);
            return ZVE_SUBFUNCTION;
        }
        if (config.models.count == 1)
            scope.WriteLog(ZVLOG_INFO,
                           "There is NO Opponent in the file 'zvscene.txt' so you will be alone in the Scene\n",
                           kSource, __LINE__);

        ZV_INIT_CALL(pGraphics->CreateGeometry("3ds", config.models.data[0], &pScene));
        IPhyEntity* scene = dynamic_cast<IPhyEntity*>(pScene);
        if (!scene) {
            scope.WriteLog(ZVLOG_ERROR, "The scene geometry is not a model", kSource, __LINE__);
            ZV_INIT_CALL(E_FAIL);
        }
        BuildSceneBox(scene);

        lights = config.lights;
        for (u32 i = 0; i < lights.count; ++i) ZV_INIT_CALL(pGraphics->SetLight(i, true, &lights.data[i]));

        hr = player.Init(this, pGraphics, pFont, config.eye, config.lookAt);
        if (hr < 0) config.ReportUnusableCamera(player.vLookAt);
        ZV_INIT_CALL(hr);

        const u32 opponents = config.models.count - 1;
        ZV_INIT_CALL(monsters.Reserve(opponents, true));
        for (u32 i = 1; i <= opponents; ++i) {
            const Vector4 position = i < config.positions.count ? config.positions.data[i] : Vector4();
            ZV_INIT_CALL(monsters.data[i - 1].Init(config.models.data[i], position, &player, pPhysics));
        }
    }
#undef ZV_INIT_CALL

    bInitialised = true;
    return hr;

failed:
    scope.ReportFailure("Initialisation of Zorvane failed", kSource, failedLine, hr);
    Close();
    return hr;
}

void DeathMatch::DrawLoadingScreen() {
    pFont->DrawText2DScaled(String("Zorvane DeathMatch v") + kVersion, 0xFFFFFFFFu, 0, 0.04f, 0.05f, 0.05f, 1.0f, 0.0f);
    pFont->DrawText2DScaled("Loading ...", 0xFFFFFFFFu, 0, 0.1f, 0.1f, 0.4f, 1.0f, 0.0f);
    if (bWindowed)
        pFont->DrawText2DScaled(
            "Warning: Playing in Windowed mode is not easy\nTo go in FullScreen, press the key 'F11'\n(when the "
            "game starts)",
            0xFFFF5555u, 0, 0.028f, 0.02f, 0.55f, 1.0f, 0.0f);
    pFont->DrawText2DScaled("Arrow keys walk, the mouse aims, any mouse button shoots", 0xFFFFFFFFu, 0, 0.02f, 0.02f,
                            0.95f, 1.0f, 0.0f);
}

String DeathMatch::Banner() {
    String banner = "Zorvane v";
    banner += kVersion;
    banner += " - Skirmora: a 3DS arena deathmatch";
    return banner;
}

void DeathMatch::BuildSceneBox(IPhyEntity* scene) {
    CallScope scope(nullptr, "DeathMatch::Init()");
    // The arena is mirrored and stretched in y and lowered.
    Matrix s;
    s.SetIdentity();
    s._11 = 3.0f;
    s._22 = -15.0f;
    s._33 = 3.0f;
    s._42 = -50.0f;
    scene->SetWorldMatrix(s);

    Vector3 a, b;
    scene->GetBoundingBox(&a, &b);
    a *= s;
    b *= s;
    vSceneMin = a;
    vSceneMin.Minimize(b);
    vSceneMax = a;
    vSceneMax.Maximize(b);

    // Keep 50 units away from every side; an arena thinner than that on an
    // axis keeps only its centre there instead of an inverted box.
    const float margin = 50.0f;
    float* lo[3] = {&vSceneMin.x, &vSceneMin.y, &vSceneMin.z};
    float* hi[3] = {&vSceneMax.x, &vSceneMax.y, &vSceneMax.z};
    const char* axes[3] = {"x", "y", "z"};
    for (int i = 0; i < 3; ++i) {
        if ((double)*hi[i] - *lo[i] >= 2.0 * margin) {
            *lo[i] += margin;
            *hi[i] -= margin;
        } else {
            const float centre = (float)(((double)*lo[i] + *hi[i]) * 0.5);
            *lo[i] = *hi[i] = centre;
            scope.WriteLog(ZVLOG_WARNING,
                           String("The scene is thinner than 100 units along ") + axes[i] +
                               ": everything is kept at its centre on that axis",
                           kSource, __LINE__);
        }
    }
}

bool DeathMatch::IsOutOfScene(Vector3* point) {
    if (!point) return false;
    const Vector3 before = *point;
    point->Maximize(vSceneMin);
    point->Minimize(vSceneMax);
    return *point != before;
}

HRESULT DeathMatch::CheckBullets(Vector<Player::Bullet>* bullets) {
    for (u32 i = 0; i < monsters.count; ++i) monsters.data[i].CheckBullets(bullets);
    return S_OK;
}

HRESULT DeathMatch::Run() {
    CallScope scope(nullptr, "DeathMatch::Run()");
    if (!bInitialised || !pCore) {
        scope.ReportFailure("Not initialized. Call Init() before", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    const String banner = Banner();
    scope.WriteLog(ZVLOG_INFO, "Main Loop...\n", kSource, __LINE__);

    float t = (float)pCore->GetTime();
    fStartTime = fLastTime = t;
    float fpsStart = t;
    float frameCount = 0.0f;
    float fps = 0.0f;
    String& strFps = FrameRateText();
    HRESULT hr = S_OK;

    while (pCore->IsRunning() && bRunning) {
        hr = pCore->Update(true);
        if (hr < 0) break;
        // The pump closed the window (close box, Ctrl+C, kill): no frame more.
        if (!pCore->IsRunning()) break;
        t = (float)pCore->GetTime();

        if (t >= g_fLastInputTick + kInputTick) {
            g_fLastInputTick = t;
            strHelp = "Controls :";
            hr = InputProcess(true);
        } else {
            hr = InputProcess(false);
        }
        if (hr < 0) break;

        frameCount += 1.0f;
        if (t >= fpsStart + 1.0f) {
            fps = frameCount / (t - fpsStart);
            fpsStart = t;
            frameCount = 0.0f;
        }
        // Two decimals, truncated.
        strFps = "";
        strFps += (double)fps;
        strFps = "ZV FPS=" + strFps.SubString(0, strFps.length >= 4 ? strFps.length - 4 : 0);

        DrawTexts(banner, fps);

        if (bMoveLight && lights.count > 0) {
            Light& light = lights.data[0];
            if (t > g_fLastLightTick + kLightTick) {
                g_fLightAngle += fps > 20.0f ? 0.5f / fps : 0.03f;
                g_fLastLightTick = t;
            }
            if (!g_bLightBaseTaken) {
                g_vLightBase = light.Position;
                g_bLightBaseTaken = true;
            }
            light.Position = Vector3((float)(g_vLightBase.x * std::sin(g_fLightAngle)), g_vLightBase.y,
                                     (float)(g_vLightBase.z * std::cos(g_fLightAngle)));
            hr = pGraphics->SetLight(0, true, &light);
            if (hr < 0) break;
        }
        for (u32 i = 0; i < lights.count; ++i) {
            String index;
            index += (unsigned int)i;
            pFont->DrawText3DFacing(index, ToD3DColor(lights.data[i].Diffuse), 0, 20.0f, lights.data[i].Position);
        }

        hr = player.Update();
        if (hr < 0) break;
        for (u32 i = 0; i < monsters.count && hr >= 0; ++i) hr = monsters.data[i].Update();
        if (hr < 0) break;

        hr = pGraphics->UpdateAndRender((t - fLastTime) * kWorldSpeed);
        if (hr < 0) break;
        ++nFrames;
        fLastTime = t;
    }
    if (hr < 0) scope.ReportFailure("Error in the Main Loop", kSource, __LINE__, hr);
    return S_OK;
}

void DeathMatch::DrawTexts(const String& banner, float fps) {
    pFont->DrawText2D(FrameRateText(), 0xFFFFFF00u, 0x33000000u, kInfoSize, kInfoX, 5, 1.0f, 0.0f);
    if (bShowInfos) {
        BuildInfos(fps);
        // The adapter's name and large numbers could run off the window.
        DisplaySettings mode;
        pGraphics->GetScreenMode(&mode);
        pFont->DrawText2D(FitLinesToWidth(strInfos, kInfoSize, kInfoX, mode.nWidth), 0xFFFFFFFFu, 0x55000000u,
                          kInfoSize, kInfoX, 25, 1.0f, 0.0f);
        strInfos = "GamePlay Stats :";
        strInfos += "\nNumOpponents=";
        strInfos += (unsigned int)monsters.count;
        strInfos += "\nNumKilledMonsters=";
        strInfos += (unsigned int)player.nKills;
        strInfos += "\nNumReceivedHits=";
        strInfos += (unsigned int)player.nHitsReceived;
        strInfos += "\nNumShotBullets=";
        strInfos += (unsigned int)player.nShots;
        pFont->DrawText2D(strInfos, 0xFFCCCCFFu, 0x55000000u, 14, 5, 95, 1.0f, 0.0f);
    } else if (bShowHelp) {
        pFont->DrawText2D(strHelp, 0xFFFFFFFFu, 0x55000000u, 14, 5, 25, 1.0f, 0.0f);
    } else {
        pFont->DrawText2D("Press 'F1' for the help or 'F2' for more infos", 0xFFFFFFFFu, 0, 14, 5, 25, 1.0f, 0.0f);
    }
    if (bShowHelp) pFont->DrawText2DScaled(banner, 0xFFFFFF00u, 0xFF000000u, 0.027f, 0.01f, 0.93f, 1.0f, 0.0f);
    pFont->DrawText2DScaled("o", 0x77FFFF00u, 0, 0.05f, 0.5f, 0.5f, 1.0f, 0.0f);  // the aiming mark
}

HRESULT DeathMatch::InputProcess(bool tick) {
    CallScope scope(nullptr, "DeathMatch::InputProcess()");
    if (!pCore || !pInput) return S_FALSE;
    const float now = (float)pCore->GetTime();
    u8 keys[256];
    DIMOUSESTATE mouse;
    if (pInput->GetKeyboardState(keys) < 0 || pInput->GetMouseState(&mouse) < 0) return S_FALSE;
    if (KeyDown(keys, DIK_ESCAPE)) {
        bRunning = false;
        return S_FALSE;
    }
    if (scope.ReportFailure("-", kSource, __LINE__, player.ProcessInput(keys, &mouse)) < 0) return ZVE_SUBFUNCTION;
    if (!tick) return S_FALSE;

    // A toggle acts when its key is down and its delay since the last time
    // it acted has passed.
    auto ready = [&](ToggleKey key, u32 code) { return KeyDown(keys, code) && now > g_fNextKeyTime[key]; };
    auto done = [&](ToggleKey key, float delay) { g_fNextKeyTime[key] = now + delay; };
    auto failed = [&](HRESULT hr) { return scope.ReportFailure("-", kSource, __LINE__, hr) < 0; };

    if (ready(KEY_F11, DIK_F11)) {
        bWindowed = !bWindowed;
        DisplaySettings display(nAdapter, bWindowed ? 1 : 0, nWidth, nHeight);
        if (failed(pGraphics->SetScreenMode(&display, bPerformance, bStrict))) return ZVE_SUBFUNCTION;
        done(KEY_F11, 3.0f);
    }
    strHelp += "\n'F11' to go to ";
    strHelp += bWindowed ? "FullScreen" : "Windowed";
    strHelp += " mode";

    if (ready(KEY_F5, DIK_F5)) {
        if (failed(TakeScreenshot())) return ZVE_SUBFUNCTION;
        done(KEY_F5, 0.5f);
    }
    strHelp += "\n'F5' to take a Screenshot";

    if (ready(KEY_R, DIK_R)) {
        bMoveLight = !bMoveLight;
        done(KEY_R, 0.5f);
    }
    strHelp += "\n'R' to ";
    strHelp += bMoveLight ? "" : "un";
    strHelp += "freeze the first Light's movement";

    if (ready(KEY_L, DIK_L)) {
        nLightningPath = nLightningPath + 1 == 4 ? 1 : nLightningPath + 1;
        if (failed(pGraphics->SetRenderState(LIGHTNINGPATH, nLightningPath))) return ZVE_SUBFUNCTION;
        done(KEY_L, 0.5f);
    }
    strHelp += "\n'L' to switch between lightning code paths";

    if (ready(KEY_F, DIK_F)) {
        nFillMode = nFillMode + 1 == 4 ? 1 : nFillMode + 1;
        done(KEY_F, 0.5f);
        pGraphics->SetRenderState(FILLMODE, nFillMode);
    }
    strHelp += "\n'F' to switch between filling modes";

    if (ready(KEY_V, DIK_V)) {
        bShowShadowVolume = !bShowShadowVolume;
        const u32 value = (bShowSilhouette ? 2u : 0u) + (bShowShadowVolume ? 1u : 0u);
        if (failed(pGraphics->SetRenderState(SHADOWDEBUG, value))) return ZVE_SUBFUNCTION;
        done(KEY_V, 0.5f);
    }
    strHelp += "\n'V' to ";
    strHelp += bShowShadowVolume ? "not " : "";
    strHelp += "draw the Shadow Volume";

    if (ready(KEY_P, DIK_P)) {
        bShowSilhouette = !bShowSilhouette;
        const u32 value = (bShowSilhouette ? 2u : 0u) + (bShowShadowVolume ? 1u : 0u);
        if (failed(pGraphics->SetRenderState(SHADOWDEBUG, value))) return ZVE_SUBFUNCTION;
        done(KEY_P, 0.5f);
    }
    strHelp += "\n'P' to ";
    strHelp += bShowSilhouette ? "not " : "";
    strHelp += "draw the Possible Silhouette";

    strHelp += "\nFor the camera : Use the arrow keys and the Mouse\nPress any button to shot and 'Enter' to reset";

    if (ready(KEY_F2, DIK_F2)) {
        bShowInfos = !bShowInfos;
        if (bShowInfos) bShowHelp = false;
        done(KEY_F2, 0.5f);
    }
    strHelp += "\n'F2' to show more infos about the Device";

    if (ready(KEY_F1, DIK_F1)) {
        bShowHelp = !bShowHelp;
        if (bShowHelp) bShowInfos = false;
        done(KEY_F1, 0.5f);
    }
    strHelp += "\n'F1' to hide this help";
    return S_OK;
}

HRESULT DeathMatch::TakeScreenshot() {
    CallScope scope(nullptr, "DeathMatch::InputProcess()");
    // The first number whose file exists in no search directory.
    const String exeDir = GetExeDir();
    Paths.Add(exeDir);
    String name;
    for (u32 n = 1;; ++n) {
        name = "Skirmora_";
        if (n < 10) name += "0";
        name += (unsigned int)n;
        name += ".bmp";
        if (File::GetFullPath(name).IsEmpty()) break;
    }
    if (Paths.count > 0) Paths.Remove(Paths.count - 1);
    return pGraphics->SaveScreenshot(exeDir + name);
}

HRESULT DeathMatch::BuildInfos(float fps) {
    strInfos = "";
    DisplaySettings mode;
    if (pGraphics) pGraphics->GetScreenMode(&mode);
    strInfos += (unsigned int)mode.nWidth;
    strInfos += "x";
    strInfos += (unsigned int)mode.nHeight;
    strInfos += " ";
    strInfos += mode.strDeviceType;
    strInfos += " - ";
    strInfos += mode.strDescription;
    strInfos += "\n";
    strInfos += mode.strFormats;

    const GraphicsStats stats = pGraphics ? pGraphics->GetStats() : GraphicsStats{0, 0};
    strInfos.floatFormat[2] = '2';  // two decimals from now on
    strInfos += "\n";
    strInfos += (unsigned int)stats.nDrawCalls;
    strInfos += " Draws, ";
    strInfos += (double)stats.nPrimitives * 0.001;
    strInfos += " KPrims, ";
    strInfos += (double)stats.nPrimitives * fps * 0.001;
    strInfos += " KPrims/s";
    switch (nLightningPath) {
    case NoLightning: strInfos += ", NoLightning"; break;
    case SimpleLighting: strInfos += ", SimpleLighting"; break;
    case StencilShadow: strInfos += ", StencilShadow"; break;
    default: break;
    }
    strInfos += "\nPress 'F1' for the help and 'F2' to hide this infos";
    return S_OK;
}

HRESULT DeathMatch::Close() {
    if (!pCore) return S_FALSE;
    CallScope scope(nullptr, "DeathMatch::Close()");
    if (pGraphics) {
        const float elapsed = fLastTime - fStartTime;
        const double average = (nFrames == 0 || elapsed == 0.0f) ? 0.0 : (double)nFrames / elapsed;
        String message = "Average FPS == ";
        message += average;
        scope.WriteLog(ZVLOG_INFO, message, kSource, __LINE__);
    }
    scope.WriteLog(ZVLOG_INFO, "End Of the App; Release...", kSource, __LINE__);

    for (u32 i = 0; i < monsters.count; ++i) {
        if (monsters.data[i].pModel) monsters.data[i].pModel->Release();
        monsters.data[i].pModel = nullptr;
    }
    if (pScene) pScene->Release();
    pScene = nullptr;
    if (pFont) pFont->Release();
    pFont = nullptr;
    if (pGraphics) pGraphics->Release();
    pGraphics = nullptr;
    if (pInput) pInput->Release();
    pInput = nullptr;
    if (pPhysics) pPhysics->Release();
    pPhysics = nullptr;
    while (pCore->Release() != 0) {
    }
    pCore = nullptr;
    scope.WriteLog(ZVLOG_INFO, "EOF", kSource, __LINE__);
    return S_OK;
}

#ifndef ZV_DEATHMATCH_NO_MAIN
int main() {
    DeathMatch game;
    if (game.Init() < 0) return -1;
    if (game.Run() < 0) return -1;
    return 0;
}
#endif
