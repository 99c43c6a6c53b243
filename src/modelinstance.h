// ModelInstance: what the model kinds (Model3DS, ModelMD5, ModelCal3D) share
// as geometry plug-ins, written once.
//
// A model instance is one object behind two interfaces, IModel first and
// IPhyEntity second, with one reference count for both.  It holds one
// reference on the shared data of its file (the kind's Meta: AddRef and
// Release, destroyed at count 0) and one on the graphics manager that made
// it, and keeps its own world matrix.
//
// The concrete class derives from ModelInstance<Concrete, Meta> and provides:
//   static constexpr const char* kClassName;   // GetName and plug-in name
//   static constexpr const char* kTypeName;    // geometry type of the plug-in
//   static constexpr const char* kSourceName;  // source name of log entries
//   static constexpr const char* kFactoryName; // "<class>::Create()"
//   HRESULT Init(const String& command, IGraphics* graphics);
// and may hide these hooks of Clone (plain name lookup, no virtual call):
//   HRESULT CheckCloneSource(CallScope& scope);  // before allocating; < 0 ends
//   HRESULT PrepareClone(Concrete* clone);       // the clone's own resources;
//                                                // < 0: clone freed, E_FAIL
// Its destructor calls ReleaseInstance, so that it decides where its own
// resources go in the destruction order.
#pragma once

#include <new>

#include "zvgraphics.h"
#include "zvlog.h"
#include "zvphysics.h"
#include "zvplugin.h"
#include "zvstuff.h"

template <class Concrete, class Meta>
class ModelInstance : public IModel, public IPhyEntity {
public:
    // The geometry factory of the plug-in record: a new instance with one
    // reference, loaded by Init from command.  A failed Init frees the
    // instance at once and leaves *out null.
    static HRESULT Create(const String& type, const String& command, IGraphics* graphics, IGeometry** out) {
        CallScope scope(nullptr, Concrete::kFactoryName);
        if (!out) {
            scope.ReportFailure("Invalid Call/Param", Concrete::kSourceName, __LINE__, E_INVALIDARG);
            return ZVE_SUBFUNCTION;
        }
        if (type != Concrete::kTypeName) {
            scope.ReportFailure("Unsupported Type", Concrete::kSourceName, __LINE__, E_FAIL);
            return ZVE_SUBFUNCTION;
        }
        Concrete* model = new (std::nothrow) Concrete();
        if (!model) {
            scope.ReportFailure("Not Enough Memory", Concrete::kSourceName, __LINE__, E_OUTOFMEMORY);
            return ZVE_SUBFUNCTION;
        }
        *out = model;
        model->AddRef();
        HRESULT hr = model->Init(command, graphics);
        if (hr < 0) {
            // The half-made instance goes at once, with whatever Init took.
            model->Release();
            *out = nullptr;
            return hr;
        }
        return S_OK;
    }

    // Fills the plug-in record: class name, version 0.30, type, Create.
    static u32 GetPlugInInfos(PlugIn* blank) {
        blank->name = Concrete::kClassName;
        blank->major = 0;
        blank->minor = 30;
        blank->type = Concrete::kTypeName;
        blank->factory = PlugIn::FromGeometry(Concrete::Create);
        return S_OK;
    }

    // IInterface
    u32 AddRef() override { return ++nRef; }

    u32 Release() override {
        if (nRef == 0) return 0;
        if (--nRef > 0) return nRef;
        delete this;
        return 0;
    }

    const String& GetName() override {
        static String name(Concrete::kClassName);
        return name;
    }

    // A new instance on the same Meta, at this instance's current world
    // matrix; it costs no file access.
    HRESULT Clone(IInterface** out) override {
        CallScope scope(this, "Clone()");
        if (!out) {
            scope.ReportFailure("Invalid Call/Param", Concrete::kSourceName, __LINE__, E_INVALIDARG);
            return ZVE_SUBFUNCTION;
        }
        Concrete* self = static_cast<Concrete*>(this);
        HRESULT hr = self->CheckCloneSource(scope);
        if (hr < 0) return hr;
        Concrete* clone = new (std::nothrow) Concrete();
        if (!clone) {
            scope.ReportFailure("Not Enough Memory", Concrete::kSourceName, __LINE__, E_OUTOFMEMORY);
            return ZVE_SUBFUNCTION;
        }
        clone->AddRef();
        // The clone holds nothing shared yet, so a failure here frees it
        // without touching the manager or the Meta.
        if (self->PrepareClone(clone) < 0) {
            clone->Release();
            return E_FAIL;
        }
        if (pGraphics) pGraphics->AddRef();
        clone->pGraphics = pGraphics;
        clone->pMeta = pMeta;
        clone->matWorld = matWorld;
        if (pMeta) pMeta->AddRef();
        *out = static_cast<IModel*>(clone);
        return S_OK;
    }

    // IGeometry: the kind's type string and the file the Meta was loaded from.
    HRESULT GetTypeAndCommand(String* type, String* command) override {
        if (type) *type = Concrete::kTypeName;
        if (command) *command = pMeta ? pMeta->strFile : String("NO_FILE");
        return S_OK;
    }

    // Defaults for a kind without commands, device resources or animations:
    // refuse or answer neutrally, without logging.
    HRESULT Reset() override { return S_FALSE; }

    HRESULT SendCommand(const String& command, String* parameter) override {
        (void)command;
        (void)parameter;
        return E_FAIL;
    }

    HRESULT AddAnimation(const String& name, float weight) override {
        (void)name;
        (void)weight;
        return E_FAIL;
    }

    HRESULT AddAnimation(u32 id, float weight) override {
        (void)id;
        (void)weight;
        return E_FAIL;
    }

    u32 GetNumAnimations() override { return 0; }

    String GetAnimationName(u32 id) override {
        (void)id;
        return String();
    }

    bool IsAnimationPlaying(u32 id) override {
        (void)id;
        return false;
    }

    // IPhyEntity
    void SetWorldMatrix(Matrix world) override { matWorld = world; }

    void GetWorldMatrix(Matrix* out) override {
        if (out) *out = matWorld;
    }

    u32 nRef;
    Meta* pMeta;           // one reference
    IGraphics* pGraphics;  // set once Init succeeded; the reference is taken by CreateGeometry or Clone
    Matrix matWorld;

protected:
    ModelInstance() : nRef(0), pMeta(nullptr), pGraphics(nullptr) { matWorld.SetIdentity(); }
    ~ModelInstance() override {}

    // Clone hooks: nothing to check, nothing of its own to create.
    HRESULT CheckCloneSource(CallScope& scope) {
        (void)scope;
        return S_OK;
    }
    HRESULT PrepareClone(Concrete* clone) {
        (void)clone;
        return S_OK;
    }

    // The first steps of every Init: a graphics manager is required, and a
    // new Meta (count 1) is stored in the instance.
    HRESULT CreateMeta(CallScope& scope, IGraphics* graphics) {
        if (!graphics) {
            scope.ReportFailure("Invalid Call/Param", Concrete::kSourceName, __LINE__, E_INVALIDARG);
            return ZVE_SUBFUNCTION;
        }
        pMeta = new (std::nothrow) Meta();
        if (!pMeta) {
            scope.ReportFailure("Not Enough Memory", Concrete::kSourceName, __LINE__, E_OUTOFMEMORY);
            return ZVE_SUBFUNCTION;
        }
        return S_OK;
    }

    // The destruction order of every kind: the Meta, then the instance's own
    // vertex buffer (ownVB, if the kind has one), then the instance leaves
    // the graphics manager and releases it.  Called by the concrete
    // destructor, while the object is still whole.
    void ReleaseInstance(IVertexBuffer** ownVB) {
        if (pMeta) {
            pMeta->Release();
            pMeta = nullptr;
        }
        if (ownVB && *ownVB) {
            (*ownVB)->Release();
            *ownVB = nullptr;
        }
        if (pGraphics) {
            pGraphics->RemoveGeometry(this);
            pGraphics->Release();
            pGraphics = nullptr;
        }
    }

private:
    ModelInstance(const ModelInstance&) = delete;
    ModelInstance& operator=(const ModelInstance&) = delete;
};
