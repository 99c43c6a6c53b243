// Lumivex, the model viewer: start-up, frame loop, input and model choice.
#include "viewer.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zvcommdlg.h"
#include "zvconsole.h"

namespace {

const char* const kSource = "viewer";

// Input ticks, toggles and the first light's circling.
const float kInputTick = 0.025f;
const float kToggleDelay = 0.5f;
const float kScreenModeDelay = 3.0f;
const float kCameraStep = 10.0f;
const float kCameraTurn = 0.07f;
// The animations run at three quarters of the clock's speed.
const float kAnimationSpeed = 0.75f;
// Cell size of the texts in pixels, and the left edges of the information
// (or help) text and of the animation text.
const u32 kTextSize = 14;
const u32 kInfoX = 5;
const u32 kAnimsX = 200;

// The toggle keys, in the order InputProcess handles them.
enum ToggleKey { kF11, kF7, kF5, kSpace, kR, kL, kF, kV, kP, kF2, kF1, kToggleCount };

// Process-wide state: there is one Viewer per program.
struct ProcessState {
    float fNextKeyTime[kToggleCount];
    float fLastInputTick;
    float fLastLightTick;
    float fLightAngle;
    Vector3 vLightBase;
    bool bLightBaseTaken;
};
ProcessState g_state = {};
String g_strFps;

bool Down(const u8* keys, u32 code) { return (keys[code] & 0x80) != 0; }

// The part after the last '\', '/' or '.', lower-cased (all of it without any).
String ExtensionOf(const String& s) {
    i32 at = s.FindLastOf("\\/.", (i32)s.length);
    String ext = at < 0 ? s : s.SubString((u32)at + 1, s.length);
    ext.ToLower();
    return ext;
}

// A camera coordinate cut toward zero: "%d" while the whole part fits an
// int, else the float's own digits (a float that large is a whole number),
// "inf", "-inf" or "nan".
void AppendWhole(String& text, float value) {
    if (value > -2147483649.0 && value < 2147483648.0) {
        text += TruncToInt(value);
    } else if (std::isnan(value)) {
        text += "nan";
    } else if (std::isinf(value)) {
        text += value < 0.0f ? "-inf" : "inf";
    } else {
        String digits;
        std::strcpy(digits.floatFormat, "%.0f");
        digits += (double)value;
        text += digits;
    }
}

String UnsignedText(u32 value) {
    String s;
    s += (unsigned int)value;
    return s;
}

// A whole console line holding nothing but an integer (blanks around it).
bool ParseIndex(const std::string& line, long* value) {
    const char* text = line.c_str();
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (end == text || errno == ERANGE) return false;
    while (*end == ' ' || *end == '\t' || *end == '\r') ++end;
    if (*end != '\0') return false;
    *value = v;
    return true;
}

// Raises a model that reaches below the plane y = 0 onto it.  The lowest
// point is that of its box as the model stands in the world: the box's eight
// corners through the world matrix, which may turn and scale the model (a
// model's own axes need not be the world's).  A model whose lowest point is
// on or above the plane stays where it is, and so does one whose box gives
// no finite height or whose lift would leave the float range.
void StandOnFloor(IPhyEntity* entity) {
    Vector3 min, max;
    entity->GetBoundingBox(&min, &max);
    Matrix world;
    entity->GetWorldMatrix(&world);
    float lowest = 0.0f;
    for (u32 i = 0; i < 8; ++i) {
        Vector3 corner((i & 1) ? max.x : min.x, (i & 2) ? max.y : min.y, (i & 4) ? max.z : min.z);
        corner *= world;
        if (!std::isfinite(corner.y)) return;
        if (i == 0 || corner.y < lowest) lowest = corner.y;
    }
    const double lifted = (double)world._42 - lowest;
    if (lowest >= 0.0f || !(std::fabs(lifted) <= FLT_MAX)) return;
    world._42 = (float)lifted;
    entity->SetWorldMatrix(world);
}

}  // namespace

void ZVTestResetViewer() {
    g_state = ProcessState();
    g_strFps = String();
}

Viewer::Viewer()
    : pCore(nullptr),
      pGraphics(nullptr),
      pInput(nullptr),
      pPhysics(nullptr),
      bInitialised(false),
      pModel(nullptr),
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
      bFreeModel(false),
      bMoveLight(true),
      nLightningPath(StencilShadow),
      nFillMode(3),
      bShowSilhouette(false),
      bShowShadowVolume(false),
      nFrames(0),
      fStartTime(0.0f),
      fLastTime(0.0f) {}

Viewer::~Viewer() { Close(); }

String Viewer::GetModelType(const String& model) {
    for (u32 i = 0; i < model.length; ++i)
        if (model.data[i] == '?') return String("md5");
    String ext = ExtensionOf(model);
    if (ext == "md5mesh") return String("md5");
    if (ext == "cfg") return String("cal3d");
    return ext;  // "def", "3ds", or whatever a plug-in registers
}

HRESULT Viewer::CreateModel(const String& entry, IModel** out) {
    CallScope scope(nullptr, "Viewer::Init()");
    *out = nullptr;
    String command = entry;
    String type = GetModelType(command);
    if (type == "def") {
        // S_FALSE: the user asked to quit instead of choosing.
        HRESULT hr = ChooseMD5Model(command);
        if (hr != S_OK) return hr;
        type = "md5";
    }
    IGeometry* geometry = nullptr;
    HRESULT hr = pGraphics->CreateGeometry(type, command, &geometry);
    if (hr < 0) return hr;
    // Only models can be viewed: they animate, take a world matrix and have a
    // bounding box.  Another kind of geometry (the font) is refused.
    IModel* model = dynamic_cast<IModel*>(geometry);
    if (!model || !dynamic_cast<IPhyEntity*>(geometry)) {
        geometry->Release();
        scope.ReportFailure(String("The file '") + command + "' is no model (type <" + type + ">)", kSource,
                            __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    *out = model;
    return S_OK;
}

HRESULT Viewer::Init(HINSTANCE instance, const char* commandLine) {
    CallScope scope(nullptr, "Viewer::Init()");
    if (bInitialised) {
        scope.ReportFailure("Don't call Init() many times", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    scope.WriteLog(ZVLOG_INFO, "Lumivex v" ZVENGINE_VERSION, kSource, __LINE__);

    Config config;
    if (ReadScene(config) < 0) return ZVE_SUBFUNCTION;

    HRESULT hr = CreateEngine(instance, config);
    if (hr >= 0) hr = CreateGeometries(config, commandLine);
    if (hr >= 0 && hr != S_FALSE) hr = LoadFont();
    if (hr < 0) {
        scope.ReportFailure("Initialisation of Zorvane failed", kSource, __LINE__, hr);
        Close();
        return hr;
    }
    if (hr == S_FALSE) {
        // The user asked to quit during a question of the start-up: everything
        // made so far is released as a close would, and there is nothing to run.
        scope.WriteLog(ZVLOG_INFO, "The start-up was interrupted", kSource, __LINE__);
        Close();
        return S_FALSE;
    }
    bInitialised = true;
    return S_OK;
}

HRESULT Viewer::ReadScene(Config& config) {
    CallScope scope(nullptr, "Viewer::Init()");
    // The scene file is looked for in the program's directory only.
    Paths.Add(String());
    HRESULT hr = config.Load(File::GetFullPath(Config::kSceneFile) + Config::kSceneFile);
    Paths.Remove(Paths.count - 1);
    if (scope.ReportFailure("Config file loading file; verify that 'zvscene.txt' is in the ExeDir", kSource,
                            __LINE__, hr) < 0)
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
    for (u32 i = 0; i < config.paths.count; ++i) Paths.Add(config.paths[i]);
    return S_OK;
}

HRESULT Viewer::CreateEngine(HINSTANCE instance, const Config& config) {
    CallScope scope(nullptr, "Viewer::Init()");
    scope.WriteLog(ZVLOG_INFO, "Create Core Engine...", kSource, __LINE__);
    HRESULT hr = CreateCore(&pCore);
    if (hr < 0) return hr;
    hr = pCore->Init(instance, "Zorvane Model Viewer", nWidth, nHeight);
    if (hr < 0) return hr;

    scope.WriteLog(ZVLOG_INFO, "Create Graphics Engine...", kSource, __LINE__);
    hr = pCore->CreateGraphics(&pGraphics);
    if (hr < 0) return hr;
    DisplaySettings settings(nAdapter, bWindowed, nWidth, nHeight);
    hr = pGraphics->SetScreenMode(&settings, bPerformance, bStrict);
    if (hr < 0) return hr;

    hr = StartCamera(config);
    if (hr < 0) return hr;
    hr = pGraphics->SetRenderState(LIGHTNINGPATH, nLightningPath);
    if (hr < 0) return hr;
    lights = config.lights;
    for (u32 i = 0; i < lights.count; ++i) {
        hr = pGraphics->SetLight(i, true, &lights[i]);
        if (hr < 0) return hr;
    }

    scope.WriteLog(ZVLOG_INFO, "Create Physics Engine...", kSource, __LINE__);
    hr = pCore->CreatePhysics(&pPhysics);
    if (hr < 0) return hr;

    scope.WriteLog(ZVLOG_INFO, "Create Input Engine...", kSource, __LINE__);
    hr = pCore->CreateInput(&pInput);
    if (hr < 0) return hr;
    u32 made = 0;
    hr = pInput->UseDevices(DEVICE_KEYBOARD | DEVICE_MOUSE, &made);
    if (hr < 0) return hr;
    if (made != (DEVICE_KEYBOARD | DEVICE_MOUSE))
        scope.WriteLog(ZVLOG_INFO, "IInput failed to create all devices", kSource, __LINE__);
    return S_OK;
}

HRESULT Viewer::StartCamera(const Config& config) {
    vUp = Vector3(0.0f, 1.0f, 0.0f);
    vEye = vInitialEye = config.eye;
    vLookAt = vInitialLookAt = config.lookAt;
    Vector3 direction = vLookAt - vEye;
    if (direction.LengthSq() == 0.0)
        direction = Vector3(0.0f, 0.0f, 1.0f);
    else
        direction.Normalize();
    vLookAt = vEye + direction;
    const HRESULT hr = pGraphics->SetCamera(&vEye, &vLookAt, &vUp);
    if (hr < 0) config.ReportUnusableCamera(vLookAt);
    return hr;
}

HRESULT Viewer::CreateGeometries(const Config& config, const char* commandLine) {
    CallScope scope(nullptr, "Viewer::Init()");
    scope.WriteLog(ZVLOG_INFO, "Create Geometries...\n", kSource, __LINE__);
    if (!commandLine) {
        scope.WriteLog(ZVLOG_INFO,
                       "Usage : Double-Click on a Model file and select Lumivex or drag it on the Exe\n"
                       "The command line is empty, so no model will be loaded and rendered !!!\n",
                       kSource, __LINE__);
        return CreateSceneModels(config);
    }
    IGeometry* scene = nullptr;
    HRESULT hr = pGraphics->CreateGeometry("3ds", "scene.3ds", &scene);
    if (hr < 0) return hr;
    pScene = scene;
    hr = CreateModel(commandLine, &pModel);
    if (hr != S_OK) return hr;
    StandOnFloor(dynamic_cast<IPhyEntity*>(pModel));
    return S_OK;
}

HRESULT Viewer::CreateSceneModels(const Config& config) {
    models.Reserve(config.models.count, false);
    for (u32 i = 0; i < config.models.count; ++i) {
        IModel* model = nullptr;
        const HRESULT hr = CreateModel(config.models[i], &model);
        if (hr != S_OK) return hr;
        PlaceModel(model, i < config.positions.count ? config.positions[i] : Vector4());
        if (models.Add(model) < 0) {
            model->Release();
            return E_OUTOFMEMORY;
        }
    }
    if (models.count >= 1) {
        pScene = models[0];
        pScene->AddRef();
    }
    if (models.count >= 2) {
        pModel = models[1];
        pModel->AddRef();
    }
    return S_OK;
}

void Viewer::PlaceModel(IModel* model, const Vector4& position) {
    IPhyEntity* entity = dynamic_cast<IPhyEntity*>(model);
    Matrix world;
    entity->GetWorldMatrix(&world);
    world._41 = position.x;
    world._42 = position.y;
    world._43 = position.z;
    // The angle turns an MD5 or Cal3D model about the y axis, any other about x.
    String type, command;
    model->GetTypeAndCommand(&type, &command);
    Matrix rotation;
    if (type == "md5" || type == "cal3d")
        rotation.SetRotationY(position.w);
    else
        rotation.SetRotationX(position.w);
    entity->SetWorldMatrix(rotation * world);
}

HRESULT Viewer::LoadFont() {
    IGeometry* font = nullptr;
    const HRESULT hr = pGraphics->CreateGeometry("font", "lucida_console.tga", &font);
    if (hr < 0) return hr;
    pFont = dynamic_cast<IFont*>(font);
    if (!pFont) {
        font->Release();
        return E_FAIL;
    }
    return S_OK;
}

HRESULT Viewer::Run() {
    CallScope scope(nullptr, "Viewer::Run()");
    if (!bInitialised) {
        scope.ReportFailure("Not initialized. Call Init() before", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    String banner = "Zorvane v";
    banner += ZVENGINE_VERSION;
    IPhyEntity* modelEntity = pModel ? dynamic_cast<IPhyEntity*>(pModel) : nullptr;
    Matrix startWorld;
    if (modelEntity) modelEntity->GetWorldMatrix(&startWorld);
    scope.WriteLog(ZVLOG_INFO, "Main Loop...\n", kSource, __LINE__);

    float t = (float)pCore->GetTime();
    fStartTime = fLastTime = t;
    float fpsStart = t;
    float frameCount = 0.0f;
    float fps = 0.0f;

    HRESULT hr = S_OK;
    if (pCore->IsRunning()) {
        while (bRunning) {
            // While the window is inactive this waits in the message pump.
            hr = pCore->Update(false);
            if (hr < 0) break;
            // The pump closed the window (close box, Ctrl+C, kill): no frame more.
            if (!pCore->IsRunning()) break;
            if (pCore->IsActive()) {
                t = (float)pCore->GetTime();
                if (t >= g_state.fLastInputTick + kInputTick) {
                    g_state.fLastInputTick = t;
                    strHelp = "Controls :";
                    hr = InputProcess();
                    if (hr < 0) break;
                }

                frameCount += 1.0f;
                if (t >= fpsStart + 1.0f) {
                    fps = frameCount / (t - fpsStart);
                    fpsStart = t;
                    frameCount = 0.0f;
                }
                g_strFps = "";
                g_strFps += (double)fps;
                g_strFps = String("ZV FPS=") + g_strFps.SubString(0, g_strFps.length >= 4 ? g_strFps.length - 4 : 0);

                DrawTexts(banner, fps);

                if (bMoveLight && lights.count > 0) {
                    if (t > g_state.fLastLightTick + kInputTick) {
                        g_state.fLightAngle += fps > 20.0f ? 0.5f / fps : 0.03f;
                        g_state.fLastLightTick = t;
                    }
                    if (!g_state.bLightBaseTaken) {
                        g_state.vLightBase = lights[0].Position;
                        g_state.bLightBaseTaken = true;
                    }
                    lights[0].Position = Vector3(g_state.vLightBase.x * std::sin(g_state.fLightAngle),
                                                 g_state.vLightBase.y,
                                                 g_state.vLightBase.z * std::cos(g_state.fLightAngle));
                    hr = pGraphics->SetLight(0, true, &lights[0]);
                    if (hr < 0) break;
                }
                for (u32 i = 0; i < lights.count; ++i)
                    pFont->DrawText3DFacing(UnsignedText(i), ToD3DColor(lights[i].Diffuse), 0, 20.0f,
                                            lights[i].Position);

                if (modelEntity && !bFreeModel) modelEntity->SetWorldMatrix(startWorld);

                hr = pGraphics->UpdateAndRender((t - fLastTime) * kAnimationSpeed);
                if (hr < 0) break;
                fLastTime = t;
                ++nFrames;
            }
            if (!pCore->IsRunning()) break;
        }
    }
    if (hr < 0) scope.ReportFailure("Error in the Main Loop", kSource, __LINE__, hr);
    return S_OK;
}

void Viewer::DrawTexts(const String& banner, float fps) {
    // The adapter's name, animation names and large numbers could run off the
    // window: those texts are cut at its right edge.
    DisplaySettings mode;
    pGraphics->GetScreenMode(&mode);
    pFont->DrawText2D(g_strFps, 0xFFFFFF00u, 0x55000000u, kTextSize, kInfoX, 5, 1.0f, 0.0f);
    if (bShowInfos) {
        BuildInfos(fps);
        pFont->DrawText2D(FitLinesToWidth(strInfos, kTextSize, kInfoX, mode.nWidth), 0xFFFFFFFFu, 0x55000000u,
                          kTextSize, kInfoX, 25, 1.0f, 0.0f);
    } else if (bShowHelp) {
        pFont->DrawText2D(strHelp, 0xFFFFFFFFu, 0x55000000u, kTextSize, kInfoX, 25, 1.0f, 0.0f);
    } else {
        pFont->DrawText2D("Press 'F1' for the help or 'F2' for more infos", 0xFFFFFFFFu, 0, kTextSize, kInfoX, 25,
                          1.0f, 0.0f);
    }
    if (bShowHelp) pFont->DrawText2DScaled(banner, 0xFFFFFF00u, 0xFF000000u, 0.027f, 0.01f, 0.93f, 1.0f, 0.0f);
    if (pModel) {
        String anims = "NumAnims=";
        u32 count = pModel->GetNumAnimations();
        anims += (unsigned int)count;
        for (u32 i = 0; i < count; ++i) {
            if (!pModel->IsAnimationPlaying(i)) continue;
            anims += " Play:";
            anims += (unsigned int)i;
            anims += "=";
            anims += pModel->GetAnimationName(i);
        }
        pFont->DrawText2D(FitLinesToWidth(anims, kTextSize, kAnimsX, mode.nWidth), 0xFF0099FFu, 0x55000000u,
                          kTextSize, kAnimsX, 5, 1.0f, 0.0f);
    }
}

HRESULT Viewer::Close() {
    CallScope scope(nullptr, "Viewer::Close()");
    if (!pCore) return S_FALSE;
    if (pGraphics) {
        double elapsed = (double)fLastTime - (double)fStartTime;
        double average = (nFrames == 0 || elapsed == 0.0) ? 0.0 : nFrames / elapsed;
        String message = "Average FPS == ";
        message += average;
        scope.WriteLog(ZVLOG_INFO, message, kSource, __LINE__);
    }
    scope.WriteLog(ZVLOG_INFO, "End Of the App; Release...", kSource, __LINE__);
    for (u32 i = 0; i < models.count; ++i) {
        if (models[i]) {
            models[i]->Release();
            models[i] = nullptr;
        }
    }
    models.count = 0;
    if (pModel) {
        pModel->Release();
        pModel = nullptr;
    }
    if (pScene) {
        pScene->Release();
        pScene = nullptr;
    }
    if (pFont) {
        pFont->Release();
        pFont = nullptr;
    }
    if (pGraphics) {
        pGraphics->Release();
        pGraphics = nullptr;
    }
    if (pInput) {
        pInput->Release();
        pInput = nullptr;
    }
    if (pPhysics) {
        pPhysics->Release();
        pPhysics = nullptr;
    }
    while (pCore->Release() != 0) {
    }
    pCore = nullptr;
    scope.WriteLog(ZVLOG_INFO, "EOF", kSource, __LINE__);
    return S_OK;
}

HRESULT Viewer::BuildInfos(float fps) {
    strInfos = "";
    DisplaySettings mode;
    pGraphics->GetScreenMode(&mode);
    strInfos += (unsigned int)mode.nWidth;
    strInfos += "x";
    strInfos += (unsigned int)mode.nHeight;
    strInfos += " ";
    strInfos += mode.strDeviceType;
    strInfos += " - ";
    strInfos += mode.strDescription;
    strInfos += "\n";
    strInfos += mode.strFormats;
    GraphicsStats stats = pGraphics->GetStats();
    strInfos.floatFormat[2] = '2';
    strInfos += "\n";
    strInfos += (unsigned int)stats.nDrawCalls;
    strInfos += " Draws, ";
    strInfos += (double)stats.nPrimitives * 0.001;
    strInfos += " KPrims, ";
    strInfos += (double)stats.nPrimitives * (double)fps * 0.001;
    strInfos += " KPrims/s";
    switch (nLightningPath) {
    case NoLightning: strInfos += ", NoLightning"; break;
    case SimpleLighting: strInfos += ", SimpleLighting"; break;
    case StencilShadow: strInfos += ", StencilShadow"; break;
    default: break;
    }
    strInfos += "\nCam vPos={";
    AppendWhole(strInfos, vEye.x);
    strInfos += ", ";
    AppendWhole(strInfos, vEye.y);
    strInfos += ", ";
    AppendWhole(strInfos, vEye.z);
    strInfos += "} vDir=";
    strInfos += vLookAt - vEye;
    strInfos += "\nPress 'F1' for the help and 'F2' to hide this infos";
    return S_OK;
}

HRESULT Viewer::InputProcess() {
    CallScope scope(nullptr, "Viewer::InputProcess()");
    float now = (float)pCore->GetTime();
    u8 keys[256];
    DIMOUSESTATE mouse;
    if (pInput->GetKeyboardState(keys) < 0 || pInput->GetMouseState(&mouse) < 0) return S_FALSE;
    if (Down(keys, DIK_ESCAPE)) {
        bRunning = false;
        return S_FALSE;
    }

    // Animations: the highest NumPad digit held, plus 10 with Shift and 20
    // with Control; requested again on every tick while held.
    if (pModel) {
        static const u32 kPad[10] = {DIK_NUMPAD0, DIK_NUMPAD1, DIK_NUMPAD2, DIK_NUMPAD3, DIK_NUMPAD4,
                                     DIK_NUMPAD5, DIK_NUMPAD6, DIK_NUMPAD7, DIK_NUMPAD8, DIK_NUMPAD9};
        i32 index = -1;
        for (u32 digit = 0; digit < 10; ++digit)
            if (Down(keys, kPad[digit])) index = (i32)digit;
        if (index >= 0) {
            if (Down(keys, DIK_LSHIFT) || Down(keys, DIK_RSHIFT)) index += 10;
            if (Down(keys, DIK_LCONTROL) || Down(keys, DIK_RCONTROL)) index += 20;
            if ((u32)index < pModel->GetNumAnimations()) pModel->AddAnimation((u32)index, 1.0f);
        }
        strHelp += "\nUse NumPad i=[0-9] to active animations\n (press SHIFT for [10-19], CTRL=[20-29], both=[30-39])";
    }

    float* next = g_state.fNextKeyTime;
    auto acts = [&](u32 code, ToggleKey key) { return Down(keys, code) && now > next[key]; };
    HRESULT hr;

    if (acts(DIK_F11, kF11)) {
        bWindowed = !bWindowed;
        DisplaySettings settings(nAdapter, bWindowed, nWidth, nHeight);
        hr = pGraphics->SetScreenMode(&settings, bPerformance, bStrict);
        if (scope.ReportFailure("-", kSource, __LINE__, hr) < 0) return ZVE_SUBFUNCTION;
        next[kF11] = now + kScreenModeDelay;
    }
    strHelp += "\n'F11' to go to ";
    strHelp += bWindowed ? "FullScreen" : "Windowed";
    strHelp += " mode";

    if (bWindowed && pModel && acts(DIK_F7, kF7)) {
        LoadAnimationDialog();
        next[kF7] = now + kToggleDelay;
    }
    strHelp += "\n'F7' to load an animation (for MD5, in Windowed Mode)";

    if (acts(DIK_F5, kF5)) {
        if (TakeScreenshot() < 0) return ZVE_SUBFUNCTION;
        next[kF5] = now + kToggleDelay;
    }
    strHelp += "\n'F5' to take a Screenshot";

    if (acts(DIK_SPACE, kSpace)) {
        bFreeModel = !bFreeModel;
        next[kSpace] = now + kToggleDelay;
    }
    strHelp += "\n'Space' to ";
    strHelp += bFreeModel ? "fix the model at the same place" : "let animations move the model";

    if (acts(DIK_R, kR)) {
        bMoveLight = !bMoveLight;
        next[kR] = now + kToggleDelay;
    }
    strHelp += "\n'R' to ";
    strHelp += bMoveLight ? "" : "un";
    strHelp += "freeze the first Light's movement";

    if (acts(DIK_L, kL)) {
        nLightningPath = nLightningPath + 1 == 4 ? 1 : nLightningPath + 1;
        hr = pGraphics->SetRenderState(LIGHTNINGPATH, nLightningPath);
        if (scope.ReportFailure("-", kSource, __LINE__, hr) < 0) return ZVE_SUBFUNCTION;
        next[kL] = now + kToggleDelay;
    }
    strHelp += "\n'L' to switch between lightning code paths";

    if (acts(DIK_F, kF)) {
        nFillMode = nFillMode + 1 == 4 ? 1 : nFillMode + 1;
        next[kF] = now + kToggleDelay;
        pGraphics->SetRenderState(FILLMODE, nFillMode);
    }
    strHelp += "\n'F' to switch between filling modes";

    if (acts(DIK_V, kV)) {
        bShowShadowVolume = !bShowShadowVolume;
        hr = pGraphics->SetRenderState(SHADOWDEBUG, (bShowSilhouette ? 2u : 0u) + (bShowShadowVolume ? 1u : 0u));
        if (scope.ReportFailure("-", kSource, __LINE__, hr) < 0) return ZVE_SUBFUNCTION;
        next[kV] = now + kToggleDelay;
    }
    strHelp += "\n'V' to ";
    strHelp += bShowShadowVolume ? "not " : "";
    strHelp += "draw the Shadow Volume";

    if (acts(DIK_P, kP)) {
        bShowSilhouette = !bShowSilhouette;
        hr = pGraphics->SetRenderState(SHADOWDEBUG, (bShowSilhouette ? 2u : 0u) + (bShowShadowVolume ? 1u : 0u));
        if (scope.ReportFailure("-", kSource, __LINE__, hr) < 0) return ZVE_SUBFUNCTION;
        next[kP] = now + kToggleDelay;
    }
    strHelp += "\n'P' to ";
    strHelp += bShowSilhouette ? "not " : "";
    strHelp += "draw the Possible Silhouette";

    strHelp += "\nFor the camera : Use the arrow keys and the Mouse\nPress the left button to move and the right to reset";

    if (acts(DIK_F2, kF2)) {
        bShowInfos = !bShowInfos;
        if (bShowInfos) bShowHelp = false;
        next[kF2] = now + kToggleDelay;
    }
    strHelp += "\n'F2' to show more infos about the Device";

    if (acts(DIK_F1, kF1)) {
        bShowHelp = !bShowHelp;
        if (bShowHelp) bShowInfos = false;
        next[kF1] = now + kToggleDelay;
    }
    strHelp += "\n'F1' to hide this help";

    return MoveCamera(keys, mouse);
}

void Viewer::LoadAnimationDialog() {
    char fileName[512];
    fileName[0] = '\0';
    OPENFILENAMEA dialog;
    std::memset(&dialog, 0, sizeof(dialog));
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = nullptr;
    dialog.lpstrFilter = "MD5Anim files (*.md5anim)\0*.md5anim\0All files (*.*)\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = fileName;
    dialog.nMaxFile = sizeof(fileName);
    dialog.lpstrTitle = "Zorvane - Load an Animation";
    dialog.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameA(&dialog)) return;
    // Kinds other than MD5 refuse the command; the result is not needed.
    String path = fileName;
    pModel->SendCommand("LoadAnimation", &path);
}

HRESULT Viewer::TakeScreenshot() {
    CallScope scope(nullptr, "Viewer::InputProcess()");
    // The first name found in no search directory, written beside the program.
    String exeDir = GetExeDir();
    Paths.Add(exeDir);
    String name;
    for (u32 n = 1; n != 0; ++n) {
        name = "Lumivex_";
        if (n < 10) name += "0";
        name += (unsigned int)n;
        name += ".bmp";
        if (File::GetFullPath(name).IsEmpty()) break;
    }
    Paths.Remove(Paths.count - 1);
    HRESULT hr = pGraphics->SaveScreenshot(exeDir + name);
    if (scope.ReportFailure("-", kSource, __LINE__, hr) < 0) return ZVE_SUBFUNCTION;
    return hr;
}

HRESULT Viewer::MoveCamera(const u8* keys, const DIMOUSESTATE& mouse) {
    Vector3 d = vLookAt - vEye;

    bool up = Down(keys, DIK_UP), down = Down(keys, DIK_DOWN);
    if (up != down) {
        Vector3 step = d * (up ? kCameraStep : -kCameraStep);
        vEye += step;
        vLookAt += step;
    }
    bool left = Down(keys, DIK_LEFT), right = Down(keys, DIK_RIGHT);
    if (left != right) {
        Vector3 side;
        side.Cross(vUp, d);
        side *= right ? kCameraStep : -kCameraStep;
        vEye += side;
        vLookAt += side;
    }

    if (mouse.rgbButtons[0] & 0x80) {
        if (mouse.lX != 0) {
            Matrix yaw;
            yaw.SetRotationAxis(vUp, mouse.lX > 0 ? kCameraTurn : -kCameraTurn);
            d *= yaw;
            vLookAt = vEye + d;
        }
        if (mouse.lY != 0) {
            float angle = (Down(keys, DIK_PRIOR) || mouse.lY < 0) ? kCameraTurn : -kCameraTurn;
            Vector3 side;
            side.Cross(d, vUp);
            // Looking straight along the up vector leaves no axis to pitch about.
            if (side.LengthSq() > 0.0) {
                Matrix pitch;
                pitch.SetRotationAxis(side, angle);
                d *= pitch;
                vUp *= pitch;
                vLookAt = vEye + d;
            }
        }
    }

    if ((mouse.rgbButtons[1] & 0x80) || (mouse.rgbButtons[2] & 0x80) || (mouse.rgbButtons[3] & 0x80) ||
        Down(keys, DIK_RETURN) || Down(keys, DIK_NUMPADENTER)) {
        vUp = Vector3(0.0f, 1.0f, 0.0f);
        vEye = vInitialEye;
        vLookAt = vInitialLookAt;
        d = vLookAt - vEye;
        if (d.LengthSq() == 0.0)
            d = Vector3(0.0f, 0.0f, 1.0f);
        else
            d.Normalize();
        vLookAt = vEye + d;
    }

    const Vector3 fixedUp(0.0f, 1.0f, 0.0f);
    return pGraphics->SetCamera(&vEye, &vLookAt, &fixedUp);
}

HRESULT Viewer::ChooseMD5Model(String& file) {
    CallScope scope(nullptr, "Viewer::ChooseMD5Model()");
    File input;
    HRESULT hr = input.Open(file, "rb");
    if (scope.ReportFailure("-", kSource, __LINE__, hr) < 0) return ZVE_SUBFUNCTION;
    Parser parser;
    parser.SetSeparators(nullptr, 0, nullptr, 0);
    Vector<Parser::Line> lines;
    parser.Parse(&input, &lines, false);
    input.Close();

    // Models with a mesh line naming a ".md5mesh" file, each once, in file order.
    Vector<String> names;
    for (u32 i = 0; i < lines.count; ++i) {
        const Parser::Line& line = lines[i];
        if (line.Tokens.count != 2 || line.Tokens[0] != "model") continue;
        bool hasMesh = false;
        for (u32 j = 0; j < line.InnerLines.count && !hasMesh; ++j) {
            const Parser::Line& inner = line.InnerLines[j];
            if (inner.Tokens.count != 2 || inner.Tokens[0] != "mesh") continue;
            const String& mesh = inner.Tokens[1];
            hasMesh = mesh.length >= 8 && std::strcmp(mesh.c_str() + mesh.length - 8, ".md5mesh") == 0;
        }
        if (!hasMesh) continue;
        bool known = false;
        for (u32 k = 0; k < names.count && !known; ++k) known = names[k] == line.Tokens[1];
        if (!known) names.Add(line.Tokens[1]);
    }

    if (names.count == 0) {
        scope.WriteLog(ZVLOG_INFO,
                       String("The file '") + file +
                           "' doesn't contain any model. Verify that the file is a correct .def MD5 file and that "
                           "it contains at least one correct 'model'",
                       kSource, __LINE__);
        return E_FAIL;
    }

    u32 chosen = 0;
    if (names.count > 1) {
        std::printf("\n\nThe .def file you want to load contains many MD5 models :\n");
        for (u32 i = 0; i < names.count; ++i)
            std::printf("Model[%s%u] : %s\n", (names.count > 10 && i < 10) ? "0" : "", i, names[i].c_str());
        // Whole lines are read; only a number of the list is taken.
        for (;;) {
            std::printf("\nPlease enter the id of a model : ");
            std::fflush(stdout);
            std::string line;
            const ZVConsoleRead read = ZVReadConsoleLine(stdin, &line);
            if (read == ZVConsoleRead::Quit) {
                // Ctrl+C or kill: the user wants the program to end, which
                // is no failure of the choice.
                std::printf("\n");
                scope.WriteLog(ZVLOG_INFO, "The model choice was interrupted; the viewer ends", kSource, __LINE__);
                return S_FALSE;
            }
            if (read != ZVConsoleRead::Line) {
                std::printf("\n");
                scope.ReportFailure("The console input ended before a model was chosen", kSource, __LINE__, E_FAIL);
                return ZVE_SUBFUNCTION;
            }
            long value = -1;
            if (ParseIndex(line, &value) && value >= 0 && (unsigned long)value < names.count) {
                chosen = (u32)value;
                break;
            }
        }
    }
    file += "?";
    file += names[chosen];
    return S_OK;
}
