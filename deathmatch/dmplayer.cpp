// The player: camera movement from the keyboard and the mouse, shooting,
// and the bullets in flight.
#include "dmplayer.h"

#include "deathmatch.h"
#include "zvcore.h"

namespace {

// Movement and turning per second of real time.
const float kMoveSpeed = 400.0f;
const float kTurnSpeed = 0.8f;
// A bullet starts this far ahead of the eye, and this far to the left and up.
const float kBulletAhead = 20.0f;
const float kBulletSide = 4.0f;
const float kBulletSpeed = 50.0f;  // per frame
const float kShotInterval = 0.4f;
const float kHalfPi = 1.5707964f;

// The clock of the previous ProcessInput call and the earliest next shot.
bool g_bInputClockStarted = false;
float g_fLastInputTime = 0.0f;
float g_fNextShotTime = 0.0f;

bool Down(const u8 keys[256], u32 code) { return (keys[code] & 0x80) != 0; }

// The unit view direction from eye to the look-at point; (0, 0, 1) when the
// two meet, so that the camera always has somewhere to look.
Vector3 ViewDirection(const Vector3& eye, const Vector3& lookAt) {
    Vector3 dir = lookAt - eye;
    if (dir.Length() == 0.0) return Vector3(0.0f, 0.0f, 1.0f);
    return dir.Normalize();
}

float Clock(IGraphics* graphics) {
    ICore* core = graphics ? graphics->GetCore() : nullptr;
    return core ? (float)core->GetTime() : 0.0f;
}

}  // namespace

Player::Player()
    : pGraphics(nullptr), pFont(nullptr), pDeathMatch(nullptr), nKills(0), nHitsReceived(0), nShots(0) {}

Player::~Player() {}

HRESULT Player::Init(DeathMatch* deathMatch, IGraphics* graphics, IFont* font, Vector3 eye, Vector3 lookAt) {
    pDeathMatch = deathMatch;
    pGraphics = graphics;
    pFont = font;
    vUp = Vector3(0.0f, 1.0f, 0.0f);
    vEye = vStartEye = eye;
    vLookAt = vStartLookAt = lookAt;
    vLookAt = vEye + ViewDirection(vEye, vLookAt);
    if (!pGraphics) return E_INVALIDARG;
    return pGraphics->SetCamera(&vEye, &vLookAt, &vUp);
}

HRESULT Player::ProcessInput(const u8 keys[256], const DIMOUSESTATE* mouse) {
    if (!pGraphics || !keys || !mouse) return E_INVALIDARG;

    const float now = Clock(pGraphics);
    if (!g_bInputClockStarted) {
        g_fLastInputTime = now;
        g_bInputClockStarted = true;
    }
    const float dt = now - g_fLastInputTime;
    const float move = kMoveSpeed * dt;
    const float turn = kTurnSpeed * dt;
    g_fLastInputTime = now;

    Vector3 dir = vLookAt - vEye;
    dir.Normalize();

    // Forward and back: only when exactly one of the two keys is held.
    const bool up = Down(keys, DIK_UP), down = Down(keys, DIK_DOWN);
    if (up != down) {
        const float s = up ? move : -move;
        vEye += dir * s;
        vLookAt += dir * s;
    }
    // Strafing along up x dir.
    const bool right = Down(keys, DIK_RIGHT), left = Down(keys, DIK_LEFT);
    if (right != left) {
        const float s = right ? move : -move;
        Vector3 side;
        side.Cross(vUp, dir);
        vEye += side * s;
        vLookAt += side * s;
    }
    // Turning: only the sign of the horizontal motion counts.
    if (mouse->lX != 0) {
        Matrix rotation;
        rotation.SetRotationAxis(vUp, mouse->lX > 0 ? turn : -turn);
        dir *= rotation;
        vLookAt = vEye + dir;
    }
    // Looking up and down, about the axis dir x up.
    if (mouse->lY != 0) {
        const float k = (Down(keys, DIK_PRIOR) || mouse->lY < 0) ? 1.0f : -1.0f;
        Vector3 axis;
        axis.Cross(dir, vUp);
        Matrix rotation;
        rotation.SetRotationAxis(axis, k * turn);
        dir *= rotation;
        vUp *= rotation;
        vLookAt = vEye + dir;
    }
    // Shooting with any button, one bullet per interval at most.
    const bool fire = (mouse->rgbButtons[0] | mouse->rgbButtons[1] | mouse->rgbButtons[2] | mouse->rgbButtons[3]) & 0x80;
    if (fire) {
        const float t = Clock(pGraphics);
        if (t > g_fNextShotTime) {
            Bullet bullet;
            bullet.vPos = vEye + dir * kBulletAhead;
            bullet.vSpeed = dir * kBulletSpeed;
            Vector3 side = dir;
            Matrix quarter;
            quarter.SetRotationAxis(vUp, kHalfPi);
            side *= quarter;
            bullet.vPos -= side * kBulletSide;
            bullet.vPos += vUp * kBulletSide;
            bullets.Add(bullet);  // a bullet that cannot be stored is lost, the shot still counts
            ++nShots;
            g_fNextShotTime = t + kShotInterval;
        }
    }
    // Back to the start.
    if (Down(keys, DIK_RETURN) || Down(keys, DIK_NUMPADENTER)) {
        vUp = Vector3(0.0f, 1.0f, 0.0f);
        vEye = vStartEye;
        vLookAt = vStartLookAt;
        dir = ViewDirection(vEye, vLookAt);
    }
    // The eye keeps its height and stays inside the scene.
    vEye.y = vStartEye.y;
    if (pDeathMatch) pDeathMatch->IsOutOfScene(&vEye);
    vLookAt = vEye + dir;

    const Vector3 worldUp(0.0f, 1.0f, 0.0f);
    return pGraphics->SetCamera(&vEye, &vLookAt, &worldUp);
}

HRESULT Player::Update() {
    for (i32 i = (i32)bullets.count - 1; i >= 0; --i) {
        Bullet& bullet = bullets.data[i];
        bullet.vPos += bullet.vSpeed;
        if (pDeathMatch && pDeathMatch->IsOutOfScene(&bullet.vPos)) bullets.Remove((u32)i);
    }
    if (pDeathMatch) pDeathMatch->CheckBullets(&bullets);
    if (pFont) {
        for (i32 i = (i32)bullets.count - 1; i >= 0; --i)
            pFont->DrawText3DFacing("+", 0xFFFFFFFFu, 0, 7.0f, bullets.data[i].vPos);
    }
    return S_OK;
}
