// The opponents: model creation and placement, the animation roles found by
// name, the state machine and the bullet hits.
#include "dmmonster.h"

#include <cmath>

#include "deathmatch.h"
#include "zvcore.h"

const String AnimationNames[ANIM_SLOTS * 3] = {
    "stop",         "sight",        "idle",          // idle
    "walk",         "run",          "combat_walk",   // walk
    "run",          "alert_walk",   "walk",          // run
    "melee_attack", "range_attack", "attack",        // attack
    "pain_head",    "pain",         "pain",          // pain
    "death",        "death",        "death",         // death
    "getup",        "death_getup",  "death1_getup",  // getup
};

namespace {

const double kSightDistance = 800.0;
const double kAttackDistance = 150.0;
const double kViewCone = 2.0943952;     // full angle
const float kTurnStep = 0.015707964f;   // per update; twice that while running
const float kWanderTurn = 1.0471976f;
const float kWalkStep = 3.0f;
const float kRunStep = 5.0f;
const i32 kWalkCycles = 5;
const i32 kHitPoints = 5;
const i32 kDeadSeconds = 7;
const float kTurnDeadZone = 0.0001f;
const float kHeightStep = 1.0f;

// The lower-case text after the last '\', '/' or '.' of an entry.
String Ending(const String& entry) {
    u32 start = 0;
    for (u32 i = 0; i < entry.length; ++i) {
        const char c = entry.data[i];
        if (c == '\\' || c == '/' || c == '.') start = i + 1;
    }
    String ending = entry.SubString(start, entry.length);
    ending.ToLower();
    return ending;
}

bool HasChar(const String& text, char c) {
    for (u32 i = 0; i < text.length; ++i)
        if (text.data[i] == c) return true;
    return false;
}

}  // namespace

Monster::Monster()
    : nState(ANIM_IDLE),
      nLife(kHitPoints),
      nCounter(0),
      fAngle(0.0f),
      pModel(nullptr),
      bMD5(false),
      bCal3D(false),
      pPlayer(nullptr),
      pPhysics(nullptr) {
    for (u32 r = 0; r < ANIM_SLOTS; ++r) nAnimIds[r] = -1;
    matBase.SetIdentity();
}

void Monster::StartAnimation(u32 role) {
    IModel* model = Model();
    if (!model || role >= ANIM_SLOTS || nAnimIds[role] < 0) return;
    model->AddAnimation((u32)nAnimIds[role], 1.0f);
}

bool Monster::IsPlaying(u32 role) {
    IModel* model = Model();
    if (!model || role >= ANIM_SLOTS) return false;
    // A role without an animation asks for -1; the model's answer counts.
    return model->IsAnimationPlaying((u32)nAnimIds[role]);
}

HRESULT Monster::Init(const String& model, Vector4 position, Player* player, IPhysics* physics) {
    CallScope scope(nullptr, "Monster::Init()");
    pPlayer = player;
    pPhysics = physics;
    strModel = model;
    ICore* core = physics ? physics->GetCore() : nullptr;
    IGraphics* graphics = core ? core->GetGraphics() : nullptr;
    if (!graphics || pModel) {
        scope.ReportFailure("Invalid Call/Param", "dmmonster", __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }

    // The geometry type from the entry: a model chosen inside a definition
    // file ("file.def?name") is an MD5 model.
    const String ending = Ending(model);
    String type;
    if (HasChar(model, '?') || ending == "def" || ending == "md5mesh")
        type = "md5";
    else if (ending == "3ds")
        type = "3ds";
    else if (ending == "cfg")
        type = "cal3d";
    else
        type = ending;
    HRESULT hr = graphics->CreateGeometry(type, model, &pModel);
    if (scope.ReportFailure("-", "dmmonster", __LINE__, hr) < 0) {
        pModel = nullptr;
        return ZVE_SUBFUNCTION;
    }
    IModel* animated = Model();
    IPhyEntity* entity = Entity();
    if (!animated || !entity) {
        scope.WriteLog(ZVLOG_ERROR,
                       "Model <" + model + "> : the geometry of the type '" + type +
                           "' is not a model and cannot be an opponent",
                       "dmmonster", __LINE__);
        pModel->Release();
        pModel = nullptr;
        return ZVE_SUBFUNCTION;
    }

    // The model's own placement (axis change, scale).  Instances of a model
    // that is already in the scene are clones that start from the current
    // world matrix of the first one: they take that opponent's base instead.
    bool baseFound = false;
    DeathMatch* game = player ? player->pDeathMatch : nullptr;
    if (game) {
        for (u32 i = 0; i < game->monsters.count && !baseFound; ++i) {
            const Monster& other = game->monsters.data[i];
            if (&other != this && other.pModel && other.strModel == model) {
                matBase = other.matBase;
                baseFound = true;
            }
        }
    }
    if (!baseFound) {
        entity->GetWorldMatrix(&matBase);
        matBase._41 = matBase._42 = matBase._43 = 0.0f;
    }

    String modelType, command;
    pModel->GetTypeAndCommand(&modelType, &command);
    bMD5 = modelType == "md5";
    bCal3D = modelType == "cal3d";

    // Heading w about the vertical after the base, then the position.
    fAngle = position.w;
    Matrix heading;
    heading.SetRotationY(fAngle);
    Matrix world = matBase * heading;
    world._41 = position.x;
    world._42 = position.y;
    world._43 = position.z;
    entity->SetWorldMatrix(world);

    // Roles: the lowest-numbered animation whose name begins, in any case,
    // with the role's first candidate; failing that its second, its third.
    const u32 numAnimations = animated->GetNumAnimations();
    u32 missing = 0;
    for (u32 r = 0; r < ANIM_SLOTS; ++r) {
        nAnimIds[r] = -1;
        for (u32 c = 0; c < 3 && nAnimIds[r] < 0; ++c) {
            const String& candidate = AnimationNames[r * 3 + c];
            for (u32 a = 0; a < numAnimations; ++a) {
                String name = animated->GetAnimationName(a).SubString(0, candidate.length);
                name.ToLower();
                if (name == candidate) {
                    nAnimIds[r] = (i32)a;
                    break;
                }
            }
        }
        if (nAnimIds[r] < 0) ++missing;
    }
    if (missing > 0 && !(missing == ANIM_SLOTS - 1 && nAnimIds[ANIM_GETUP] < 0)) {
        String message = "Model <" + model + "> : Only ";
        message += (unsigned int)(ANIM_SLOTS - missing);
        message += " animation(s) can be used for AI (over ";
        message += (int)ANIM_SLOTS;
        message += " required). This means that this Monster will not behave correctly.";
        scope.WriteLog(ZVLOG_WARNING, message, "dmmonster", __LINE__);
    }

    nState = ANIM_IDLE;
    nLife = kHitPoints;
    nCounter = 0;
    if (nAnimIds[ANIM_IDLE] >= 0) {
        String parameter;
        parameter += (int)nAnimIds[ANIM_IDLE];
        pModel->SendCommand("SetDefaultAnimation", &parameter);
    }
    return S_OK;
}

HRESULT Monster::CheckBullets(Vector<Player::Bullet>* bullets) {
    IPhyEntity* entity = Entity();
    if (!bullets || !entity) return S_OK;

    // The box that holds all eight corners of the model's box once placed:
    // a turned model's box is not spanned by its two transformed extremes.
    Vector3 lo, hi;
    entity->GetBoundingBox(&lo, &hi);
    Matrix world;
    entity->GetWorldMatrix(&world);
    Vector3 boxMin, boxMax;
    for (u32 corner = 0; corner < 8; ++corner) {
        Vector3 p((corner & 1) ? hi.x : lo.x, (corner & 2) ? hi.y : lo.y, (corner & 4) ? hi.z : lo.z);
        p *= world;
        if (corner == 0) {
            boxMin = boxMax = p;
        } else {
            boxMin.Minimize(p);
            boxMax.Maximize(p);
        }
    }

    for (i32 i = (i32)bullets->count - 1; i >= 0; --i) {
        const Vector3& p = bullets->data[i].vPos;
        const bool inside = p.x >= boxMin.x && p.x <= boxMax.x && p.y >= boxMin.y && p.y <= boxMax.y &&
                            p.z >= boxMin.z && p.z <= boxMax.z;
        if (!inside) continue;
        bullets->Remove((u32)i);
        if (nState == ANIM_PAIN || nState == ANIM_DEATH || nState == ANIM_GETUP) continue;
        --nLife;
        SetState(nLife <= 0 ? ANIM_DEATH : ANIM_PAIN);
    }
    return S_OK;
}

HRESULT Monster::Turn(Matrix* world, float delta) {
    if (!world || (delta > -kTurnDeadZone && delta < kTurnDeadZone)) return S_FALSE;
    fAngle += delta;
    Matrix heading;
    heading.SetRotationY(fAngle);
    Matrix m = matBase * heading;
    m._41 = world->_41;
    m._42 = world->_42;
    m._43 = world->_43;
    *world = m;
    if (IPhyEntity* entity = Entity()) entity->SetWorldMatrix(m);
    return S_OK;
}

// What the monster sees of the player, horizontally, from its facing.
Monster::Sight Monster::LookAtPlayer(const Vector3& position) const {
    Vector3 d = position - pPlayer->vEye;
    d.y = 0.0f;
    const double distance = d.Length();
    Sight sight;
    sight.near = distance < kSightDistance;
    sight.close = distance < kAttackDistance;
    d.Normalize();
    sight.facing = Vector3(-std::sin(fAngle), 0.0f, -std::cos(fAngle));
    sight.facing.Normalize();
    double dot = sight.facing.Dot(d);
    if (dot < -1.0) dot = -1.0;
    if (dot > 1.0) dot = 1.0;
    sight.inView = dot < -std::cos(kViewCone / 2.0);
    Vector3 s;
    s.Cross(sight.facing, d);
    const float sign = s.y < 0.0f ? 1.0f : -1.0f;
    sight.turn = (float)std::acos(-dot) * sign;
    return sight;
}

// The turn toward the player, at most `limit` either way.
float Monster::Sight::TurnAtMost(float limit) const {
    return std::fabs(turn) <= limit ? turn : (turn < 0.0f ? -limit : limit);
}

void Monster::Move(IPhyEntity* entity, Matrix* world, const Sight& sight, float distance) {
    world->_41 = (float)((double)world->_41 + (double)distance * sight.facing.x);
    world->_43 = (float)((double)world->_43 + (double)distance * sight.facing.z);
    entity->SetWorldMatrix(*world);
}

// The clock's whole seconds plus `later`, cut in double precision: the count
// saturates instead of overflowing.
i32 Monster::ClockSeconds(i32 later) const {
    ICore* core = pPhysics ? pPhysics->GetCore() : nullptr;
    return TruncToInt((core ? std::trunc(core->GetTime()) : 0.0) + later);
}

void Monster::UpdateIdle(Matrix* world, const Sight& sight) {
    if (sight.near) {
        if (sight.close) {
            Turn(world, sight.turn);
            SetState(ANIM_ATTACK);
        } else {
            Turn(world, sight.TurnAtMost(kTurnStep));
            if (sight.inView) SetState(ANIM_RUN);
        }
    }
    if (IsPlaying(nState)) return;
    if (!sight.near) {
        Turn(world, kWanderTurn);
        nCounter = 0;
        SetState(ANIM_WALK);
        return;
    }
    if (sight.inView) return;
    SetState(ANIM_IDLE);
}

void Monster::UpdateWalk(IPhyEntity* entity, Matrix* world, const Sight& sight) {
    if (IsPlaying(ANIM_WALK)) {
        if (sight.near && sight.inView) {
            Turn(world, sight.TurnAtMost(kTurnStep));
            SetState(ANIM_RUN);
        } else if (!bMD5) {
            Move(entity, world, sight, kWalkStep);  // an MD5 walk carries the model itself
        }
        return;
    }
    if (sight.near && (nAnimIds[ANIM_WALK] < 0 || !bMD5)) Move(entity, world, sight, kWalkStep);
    if (++nCounter >= kWalkCycles) return;  // stays in walk, starts nothing
    if (nAnimIds[ANIM_WALK] < 0)
        SetState(ANIM_IDLE);
    else
        StartAnimation(ANIM_WALK);
}

void Monster::UpdateRun(IPhyEntity* entity, Matrix* world, const Sight& sight) {
    if (IsPlaying(ANIM_RUN)) {
        if (!sight.near || !sight.inView) {
            SetState(ANIM_IDLE);
            return;
        }
        Turn(world, sight.TurnAtMost(2.0f * kTurnStep));
        if (sight.close) {
            Turn(world, sight.turn);
            SetState(ANIM_ATTACK);
        } else if (!bMD5) {
            Move(entity, world, sight, kRunStep);
        }
        return;
    }
    if (!sight.near) {
        SetState(ANIM_IDLE);
        return;
    }
    if (nAnimIds[ANIM_RUN] < 0 || !bMD5) Move(entity, world, sight, kRunStep);
    SetState(sight.inView ? ANIM_RUN : ANIM_IDLE);
}

void Monster::UpdateDeath(const Matrix& world) {
    if (IsPlaying(ANIM_DEATH)) return;
    nCounter = ClockSeconds(kDeadSeconds);
    nState = ANIM_GETUP;
    ++pPlayer->nKills;
    if (nAnimIds[ANIM_GETUP] >= 0)
        StartAnimation(ANIM_GETUP);
    else
        nLife = TruncToInt(world._42);  // the height to come back to
}

void Monster::UpdateGetup(IPhyEntity* entity, Matrix* world) {
    const i32 now = ClockSeconds(0);
    const bool hasGetup = nAnimIds[ANIM_GETUP] >= 0;
    if (nCounter > now) {
        if (hasGetup) {
            StartAnimation(ANIM_GETUP);
        } else {
            world->_42 += kHeightStep;  // the body rises
            entity->SetWorldMatrix(*world);
        }
        return;
    }
    if (hasGetup) {
        if (IsPlaying(ANIM_GETUP)) return;
        nLife = kHitPoints;
        SetState(ANIM_IDLE);
        return;
    }
    world->_42 -= kHeightStep;
    if (world->_42 <= (float)nLife) {
        world->_42 = (float)nLife;
        nLife = kHitPoints;
        SetState(ANIM_IDLE);
    }
    entity->SetWorldMatrix(*world);
}

HRESULT Monster::Update() {
    IPhyEntity* entity = Entity();
    if (!entity || !pPlayer) return S_OK;

    Matrix world;
    entity->GetWorldMatrix(&world);
    Vector3 p(world._41, world._42, world._43);
    if (pPlayer->pDeathMatch && pPlayer->pDeathMatch->IsOutOfScene(&p)) {
        world._41 = p.x;
        world._42 = p.y;
        world._43 = p.z;
        entity->SetWorldMatrix(world);
    }
    const Sight sight = LookAtPlayer(p);

    switch (nState) {
    case ANIM_IDLE: UpdateIdle(&world, sight); break;
    case ANIM_WALK: UpdateWalk(entity, &world, sight); break;
    case ANIM_RUN: UpdateRun(entity, &world, sight); break;
    case ANIM_ATTACK:
        if (IsPlaying(ANIM_ATTACK)) break;
        ++pPlayer->nHitsReceived;  // the attack hits when its animation ends
        SetState(ANIM_IDLE);
        break;
    case ANIM_PAIN:
        if (IsPlaying(ANIM_PAIN)) break;
        SetState(ANIM_IDLE);
        break;
    case ANIM_DEATH: UpdateDeath(world); break;
    case ANIM_GETUP: UpdateGetup(entity, &world); break;
    default: break;
    }
    return S_OK;
}
