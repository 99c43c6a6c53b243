// An opponent of Skirmora: one model of the scene file after the arena,
// driven once per frame by a small state machine that watches the player
// (distance, view cone, turning angle), turns and moves the model and picks
// which of its animations plays: idle, walk, run, attack, pain, death, getup.
#pragma once

#include "dmplayer.h"
#include "zvgraphics.h"
#include "zvphysics.h"
#include "zvstuff.h"

// The roles of a model's animations, which are also the monster's states.
enum AnimationSlot : u32 {
    ANIM_IDLE = 0,
    ANIM_WALK = 1,
    ANIM_RUN = 2,
    ANIM_ATTACK = 3,
    ANIM_PAIN = 4,
    ANIM_DEATH = 5,
    ANIM_GETUP = 6,  // as a state: dead, waiting to come back
    ANIM_SLOTS = 7
};

// Three candidate animation-name beginnings per role, role after role.
extern const String AnimationNames[ANIM_SLOTS * 3];

class Monster {
public:
    Monster();

    // Creates the model named by the scene file's entry and places it at
    // position x, y, z with the heading w (radians about the vertical).
    HRESULT Init(const String& model, Vector4 position, Player* player, IPhysics* physics);
    // One step of the state machine; always 0.
    HRESULT Update();
    // Removes the bullets inside the monster's box and applies the hits;
    // always 0.
    HRESULT CheckBullets(Vector<Player::Bullet>* bullets);
    // Adds delta to the heading and rebuilds *world from the model's base
    // matrix, the heading and world's position; turns below 0.0001 radians
    // are ignored.
    HRESULT Turn(Matrix* world, float delta);

    i32 nAnimIds[ANIM_SLOTS];  // per role, the model's animation index, -1 when none
    u32 nState;
    i32 nLife;      // hit points; while dead without a getup animation, the height to come back to
    i32 nCounter;   // walk: walk animations ended; dead: the second of the clock to come back
    float fAngle;   // heading in radians about the vertical axis
    IGeometry* pModel;  // one reference, released by DeathMatch::Close
    bool bMD5;
    bool bCal3D;
    Player* pPlayer;     // not counted
    IPhysics* pPhysics;  // not counted
    String strModel;     // the scene file's entry, as given to Init
    Matrix matBase;      // the model's own placement: its axis change and scale, no translation

private:
    // What the monster sees of the player in one update.
    struct Sight {
        Vector3 facing;  // the monster's facing, horizontal, of unit length
        float turn;      // the signed turn that would face the player
        bool near;       // within sight
        bool close;      // within reach of an attack
        bool inView;     // inside the view cone
        float TurnAtMost(float limit) const;
    };
    Sight LookAtPlayer(const Vector3& position) const;
    // The steps of Update by state.  world is the model's world matrix,
    // which they turn and move.
    void UpdateIdle(Matrix* world, const Sight& sight);
    void UpdateWalk(IPhyEntity* entity, Matrix* world, const Sight& sight);
    void UpdateRun(IPhyEntity* entity, Matrix* world, const Sight& sight);
    void UpdateDeath(const Matrix& world);
    void UpdateGetup(IPhyEntity* entity, Matrix* world);
    // Moves the model by distance along the facing it had at the start of the update.
    void Move(IPhyEntity* entity, Matrix* world, const Sight& sight, float distance);
    i32 ClockSeconds(i32 later) const;
    IModel* Model() { return dynamic_cast<IModel*>(pModel); }
    IPhyEntity* Entity() { return dynamic_cast<IPhyEntity*>(pModel); }
    // Starts the animation of a role (nothing when the role has none).
    void StartAnimation(u32 role);
    bool IsPlaying(u32 role);
    void SetState(u32 state) {
        nState = state;
        StartAnimation(state);
    }
};
