// Skirmora, the deathmatch game: the application object.
//
// DeathMatch owns the engine objects of the game (core, graphics, input and
// physics managers, font, arena), the player and one opponent per further
// model of "zvscene.txt".  main builds one, calls Init and Run, and the
// destructor closes it.
#pragma once

#include "config.h"
#include "dmmonster.h"
#include "dmplayer.h"
#include "font.h"
#include "zvcore.h"
#include "zvstuff.h"

class DeathMatch {
public:
    DeathMatch();
    virtual ~DeathMatch();

    // Reads the scene file, creates the window, the managers, the font, the
    // arena, the lights, the player and the opponents.
    HRESULT Init();
    // The frame loop, until the window closes, ESC is pressed or a call of
    // the loop fails; 0 once the loop has begun.
    HRESULT Run();
    // Releases every engine object; S_FALSE when there is no core.
    HRESULT Close();
    // Keyboard and mouse: ESC and the player in every frame, the toggle keys
    // and the help text only on an input tick.
    HRESULT InputProcess(bool tick);
    // The device information text, into strInfos; always 0.
    HRESULT BuildInfos(float fps);
    // Clamps the point into the scene box in place; true when it moved.
    bool IsOutOfScene(Vector3* point);
    // Every opponent removes the bullets that hit it; always 0.
    HRESULT CheckBullets(Vector<Player::Bullet>* bullets);
    // Queues the texts of the loading screen.
    void DrawLoadingScreen();
    // Queues the texts of one frame.
    void DrawTexts(const String& banner, float fps);
    // The banner shown with the help.
    static String Banner();

    ICore* pCore;
    IGraphics* pGraphics;
    IInput* pInput;
    IPhysics* pPhysics;
    bool bInitialised;
    IGeometry* pScene;
    Player player;
    Vector<Monster> monsters;
    IFont* pFont;
    Vector<Light> lights;
    Vector3 vSceneMin;
    Vector3 vSceneMax;
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
    bool bMoveLight;
    u32 nLightningPath;
    u32 nFillMode;
    bool bShowSilhouette;
    bool bShowShadowVolume;
    u32 nFrames;
    float fStartTime;
    float fLastTime;

private:
    // F5: the next free "Skirmora_NN.bmp" in the program's directory.
    HRESULT TakeScreenshot();
    // Places the arena and derives the box the player, the bullets and the
    // opponents stay in.
    void BuildSceneBox(IPhyEntity* scene);

    DeathMatch(const DeathMatch&) = delete;
    DeathMatch& operator=(const DeathMatch&) = delete;
};
