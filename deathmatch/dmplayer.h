// The player of Skirmora: the first-person camera, the bullets in flight and
// the game's counters (opponents killed, hits received, bullets shot).
//
// The application (DeathMatch) initialises the player once the scene box is
// known, hands it the keyboard and mouse state in every frame and updates it
// once per frame, before the opponents.
#pragma once

#include "font.h"
#include "zvgraphics.h"
#include "zvinput.h"
#include "zvstuff.h"

class DeathMatch;

class Player {
public:
    // One bullet: where it is and what is added to its position per frame.
    struct Bullet {
        Vector3 vPos;
        Vector3 vSpeed;
    };

    Player();
    virtual ~Player();

    // Places the eye and the look-at point (one unit along the view
    // direction) and sets the camera; returns the camera call's result.
    HRESULT Init(DeathMatch* deathMatch, IGraphics* graphics, IFont* font, Vector3 eye, Vector3 lookAt);
    // Walks, strafes, turns, looks up and down, shoots and resets from the
    // keyboard state (DirectInput scan codes) and the mouse motion; returns
    // the camera call's result.
    HRESULT ProcessInput(const u8 keys[256], const DIMOUSESTATE* mouse);
    // Moves the bullets, drops those that left the scene or hit an
    // opponent, and queues a mark for each one left; always 0.
    HRESULT Update();

    Vector<Bullet> bullets;  // oldest first
    Vector3 vStartEye;       // reset position; its y is the fixed eye height
    Vector3 vStartLookAt;
    Vector3 vUp;             // tilted by looking up and down
    Vector3 vEye;
    Vector3 vLookAt;         // vEye plus the unit view direction
    IGraphics* pGraphics;    // not counted
    IFont* pFont;            // not counted
    DeathMatch* pDeathMatch;
    u32 nKills;
    u32 nHitsReceived;
    u32 nShots;

private:
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;
};
