// The physics (visibility) manager's interfaces: IPhysics (what the programs
// and the graphics frame use) and IInternPhysics (what the core calls), and
// IPhyEntity, by which the manager sees an entity.
//
//   0-3  IInterface: AddRef, Release, GetName, Clone
//   4    GetCore
//   5    EntityIsVisible
//   6    ShadVolIsVisible
//   7    Init  (IInternPhysics)
//
// ZVPhysics, the manager itself, decides whether an entity can be seen: its
// bounding box, placed by its world matrix, is projected by the camera and
// tested against the view volume.  It does no collision or motion; the name
// is that of the component slot it fills.
#pragma once

#include "zvstuff.h"

class ICore;

// Implemented by every model as its second base; no reference counting.
class IPhyEntity {
public:
    // The axis-aligned box in the entity's own space, before the world matrix.
    virtual void GetBoundingBox(Vector3* min, Vector3* max) = 0;
    virtual void SetWorldMatrix(Matrix world) = 0;
    virtual void GetWorldMatrix(Matrix* out) = 0;

protected:
    virtual ~IPhyEntity() {}
};

class IPhysics : public IInterface {
public:
    // The owning core; no reference is added.
    virtual ICore* GetCore() = 0;
    virtual bool EntityIsVisible(IPhyEntity* entity) = 0;
    virtual bool ShadVolIsVisible(Vector3 lightPosition, IPhyEntity* entity) = 0;
};

class IInternPhysics : public IPhysics {
public:
    // Called once by the core's CreatePhysics after the factory.
    virtual HRESULT Init(ICore* core) = 0;
};

class ZVPhysics : public IInternPhysics {
public:
    // The manager factory of the plug-in record: a new manager with one
    // reference, null when the allocation fails.
    static IInterface* Create();

    u32 AddRef() override;
    u32 Release() override;
    const String& GetName() override;

    ICore* GetCore() override { return pCore; }
    // The entity's box under its world matrix meets the view volume.  A null
    // entity is logged ("Receive NULL Entity") and counts as invisible.
    bool EntityIsVisible(IPhyEntity* entity) override;
    // The box that encloses the entity's shadow volume for a point light at
    // lightPosition (world space) meets the view volume.
    bool ShadVolIsVisible(Vector3 lightPosition, IPhyEntity* entity) override;
    HRESULT Init(ICore* core) override;

    // The box test shared by both tests: the eight corners of (min, max),
    // transformed by world and then by clip (four components, no division by
    // w), are visible unless one plane of the clip volume has all eight
    // outside.
    static bool BoxIsVisible(const Vector3& min, const Vector3& max, const Matrix& world, const Matrix& clip);

    u32 nRef;
    ICore* pCore;

protected:
    ZVPhysics();
    ~ZVPhysics() override;

private:
    // view x projection of the graphics manager's camera, or the identity
    // when the core has no graphics manager.
    Matrix GetClipMatrix();

    ZVPhysics(const ZVPhysics&) = delete;
    ZVPhysics& operator=(const ZVPhysics&) = delete;
};
