// The physics (visibility) manager's interfaces: IPhysics (what the programs
// and the graphics frame use) and IInternPhysics (what the core calls), and
// IPhyEntity, by which the manager sees an entity.
//
//   0-3  IInterface: AddRef, Release, GetName, Clone
//   4    GetCore
//   5    EntityIsVisible
//   6    ShadVolIsVisible
//   7    Init  (IInternPhysics)
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
