// Lumivex, the model viewer: the application object.
//
// main builds one Viewer, starts it with the model file named on the command
// line (Init), runs the frame loop (Run) and lets the destructor close it.
// The model's geometry type comes from its file extension ("3ds", "cfg" for
// Cal3D, "md5mesh", or a model chosen inside a ".def" list); without a
// command line the scene file's models are shown.  While the window is
// active, every 0.025 s the keyboard and the mouse are read (InputProcess):
// the numeric pad plays animations, F7 loads an MD5 animation through the
// file chooser, F5 takes a screenshot, the arrows and the mouse move the
// camera.  While the window is inactive the frame loop waits in the message
// pump.
//
// One Viewer per process: the key delays, the input tick and the circling
// light are process-wide (ZVTestResetViewer puts them back to program start).
#pragma once

#include "config.h"
#include "font.h"
#include "zvcore.h"

class Viewer {
public:
    Viewer();
    virtual ~Viewer();

    // Start-up; commandLine is the model file (may be null: the scene
    // file's models are shown instead).  S_OK when ready to run; S_FALSE
    // when a quit signal (Ctrl+C, kill) ended a console question of the
    // start-up: everything is released again, as by a close.
    HRESULT Init(HINSTANCE instance, const char* commandLine);
    // The frame loop, until the window closes, ESC, or a failure (logged;
    // still 0 once the loop has begun).
    HRESULT Run();
    // Releases every engine object; S_FALSE when there is no core.
    HRESULT Close();
    // The device information text into strInfos; always 0.
    HRESULT BuildInfos(float fps);
    // Queues the texts of one frame (the banner is shown with the help).
    void DrawTexts(const String& banner, float fps);
    // One input tick: animations, toggles, the help text and the camera.
    HRESULT InputProcess();
    // Picks one MD5 model of a ".def" list (asking on the console when there
    // are several) and appends "?" and its name to file.  S_FALSE, file
    // unchanged, when a quit signal interrupts the question.
    HRESULT ChooseMD5Model(String& file);

    // The geometry type of a model file or scene-file entry: "md5" when it
    // holds a '?', "def" for a model list (still to be chosen), "md5" for
    // "md5mesh", "3ds", "cal3d" for "cfg", else the lower-cased extension.
    static String GetModelType(const String& model);

    Vector3 vInitialEye;
    Vector3 vInitialLookAt;
    Vector3 vUp;
    Vector3 vEye;
    Vector3 vLookAt;
    ICore* pCore;
    IGraphics* pGraphics;
    IInput* pInput;
    IPhysics* pPhysics;
    bool bInitialised;
    Vector<IModel*> models;
    IModel* pModel;
    IGeometry* pScene;
    IFont* pFont;
    Vector<Light> lights;
    u32 nAdapter;
    u32 nWidth;
    u32 nHeight;
    bool bWindowed;
    bool bStrict;
    bool bPerformance;
    String strInfos;
    String strHelp;
    bool bShowInfos;
    bool bShowHelp;
    bool bRunning;
    bool bFreeModel;
    bool bMoveLight;
    u32 nLightningPath;
    u32 nFillMode;
    bool bShowSilhouette;
    bool bShowShadowVolume;
    u32 nFrames;
    float fStartTime;
    float fLastTime;

private:
    // The steps of Init.  Each returns the failing call's result; S_FALSE
    // from the geometries when a quit signal ended a console question.
    // Reads the scene file, refuses entries that cannot be used (all logged:
    // ZVE_SUBFUNCTION), takes its display settings and search path entries.
    HRESULT ReadScene(Config& config);
    // The core, the graphics manager in its screen mode, the camera, the
    // lights, the physics and the input managers.
    HRESULT CreateEngine(HINSTANCE instance, const Config& config);
    // The view of the camera entry, one unit from the eye toward the lookat.
    HRESULT StartCamera(const Config& config);
    // The scene and the model of the command line, or without one the scene
    // file's models (the first as the scene, the second as the model).
    HRESULT CreateGeometries(const Config& config, const char* commandLine);
    HRESULT CreateSceneModels(const Config& config);
    // Puts a model of the scene file at its entry's position and angle.
    void PlaceModel(IModel* model, const Vector4& position);
    HRESULT LoadFont();
    // Makes the geometry of a model entry by its type (asking for the model
    // of a ".def" list); refuses a geometry that is no model.
    HRESULT CreateModel(const String& entry, IModel** out);
    HRESULT TakeScreenshot();
    void LoadAnimationDialog();
    HRESULT MoveCamera(const u8* keys, const DIMOUSESTATE& mouse);

    Viewer(const Viewer&) = delete;
    Viewer& operator=(const Viewer&) = delete;
};

// Test hook: the process-wide state of the viewer (key delays, input tick,
// light circling, frame-rate text) as at program start.
void ZVTestResetViewer();
