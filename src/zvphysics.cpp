// The visibility manager: whether a model, or the shadow volume it casts for
// a point light, can be seen by the camera at all.
#include "zvphysics.h"

#include <new>

#include "zvcore.h"
#include "zvgraphics.h"

namespace {

const char* const kSource = "zvphysics";

// How far the shadow volumes are extruded away from the light: a silhouette
// point X goes to L + (X - L) * kExtrusion.
const float kExtrusion = 10000.0f;

// Outcode bits of a clip-space point.
const u32 kLeft = 0x01;
const u32 kRight = 0x02;
const u32 kBottom = 0x04;
const u32 kTop = 0x08;
const u32 kNear = 0x10;
const u32 kFar = 0x20;

u32 GetPlugInInfos(PlugIn* blank) {
    blank->name = "ZVPhysics";
    blank->major = 0;
    blank->minor = 30;
    blank->type = "Physics";
    blank->factory = PlugIn::FromManager(ZVPhysics::Create);
    return 0;
}

PlugInRegistrar g_registrar(ZVPLUGIN_MANAGER, GetPlugInInfos);

u32 Outcode(const Vector4& p) {
    u32 code = 0;
    if (p.x < -p.w) code |= kLeft;
    if (p.x > p.w) code |= kRight;
    if (p.y < -p.w) code |= kBottom;
    if (p.y > p.w) code |= kTop;
    // The near plane is tested against -w like the others.
    if (p.z < -p.w) code |= kNear;
    if (p.z > p.w) code |= kFar;
    return code;
}

// P := L + (corner - L) * kExtrusion, then the box grows to hold P.
void GrowByExtrusion(const Vector3& light, const Vector3& corner, Vector3* min, Vector3* max) {
    Vector3 far = light + (corner - light) * kExtrusion;
    min->Minimize(far);
    max->Maximize(far);
}

}  // namespace

IInterface* ZVPhysics::Create() {
    ZVPhysics* physics = new (std::nothrow) ZVPhysics;
    if (!physics) return nullptr;
    physics->AddRef();
    return physics;
}

ZVPhysics::ZVPhysics() : nRef(0), pCore(nullptr) {}

ZVPhysics::~ZVPhysics() {
    CallScope scope(this, "Destructor()");
    if (pCore) {
        IInternCore* core = dynamic_cast<IInternCore*>(pCore);
        if (core) core->RemoveManager(this);
        pCore->Release();
        pCore = nullptr;
    }
    scope.WriteLog(ZVLOG_INFO, "Physics Engine correctly shutdown", kSource, __LINE__);
}

u32 ZVPhysics::AddRef() { return ++nRef; }

u32 ZVPhysics::Release() {
    if (nRef == 0) return 0;
    if (--nRef > 0) return nRef;
    delete this;
    return 0;
}

const String& ZVPhysics::GetName() {
    static String name("ZVPhysics");
    return name;
}

HRESULT ZVPhysics::Init(ICore* core) {
    CallScope scope(this, "Init()");
    if (!core) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    pCore = core;
    return S_OK;
}

Matrix ZVPhysics::GetClipMatrix() {
    Matrix view, projection;
    view.SetIdentity();
    projection.SetIdentity();
    IGraphics* graphics = pCore ? pCore->GetGraphics() : nullptr;
    if (graphics && graphics->GetViewProj(&view, &projection) < 0) {
        // No camera to test against: the unit cube, as without graphics.
        view.SetIdentity();
        projection.SetIdentity();
    }
    return view * projection;
}

bool ZVPhysics::BoxIsVisible(const Vector3& min, const Vector3& max, const Matrix& world, const Matrix& clip) {
    u32 all = ~0u;
    for (u32 i = 0; i < 8; ++i) {
        Vector4 corner((i & 1) ? max.x : min.x, (i & 2) ? max.y : min.y, (i & 4) ? max.z : min.z, 1.0f);
        corner *= world;
        corner *= clip;
        all &= Outcode(corner);
    }
    // Hidden only when one and the same plane has every corner outside; a
    // box whose corners lie beyond different planes may still cross the view.
    return all == 0;
}

bool ZVPhysics::EntityIsVisible(IPhyEntity* entity) {
    CallScope scope(this, "EntityIsVisible()");
    if (!entity) {
        scope.WriteLog(ZVLOG_ERROR, "Receive NULL Entity", kSource, __LINE__);
        return false;
    }
    const Matrix clip = GetClipMatrix();
    Matrix world;
    entity->GetWorldMatrix(&world);
    Vector3 min, max;
    entity->GetBoundingBox(&min, &max);
    return BoxIsVisible(min, max, world, clip);
}

bool ZVPhysics::ShadVolIsVisible(Vector3 lightPosition, IPhyEntity* entity) {
    CallScope scope(this, "ShadVolIsVisible()");
    if (!entity) {
        scope.WriteLog(ZVLOG_ERROR, "Receive NULL Entity", kSource, __LINE__);
        return false;
    }
    const Matrix clip = GetClipMatrix();
    Matrix world;
    entity->GetWorldMatrix(&world);
    Vector3 min, max;
    entity->GetBoundingBox(&min, &max);

    // The light in the entity's own space.
    Vector3 light = lightPosition;
    light *= world.GetInverse();

    // The box grows to hold the far extrusions of its two extreme corners;
    // the second one starts from the already enlarged upper corner.
    GrowByExtrusion(light, min, &min, &max);
    GrowByExtrusion(light, max, &min, &max);
    return BoxIsVisible(min, max, world, clip);
}
