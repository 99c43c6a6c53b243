// ZVGraphics: the engine's graphics manager on Direct3D 9.
//
// It owns the Direct3D object and the device, chooses and changes the screen
// mode, keeps the lists of every resource and geometry made on the device,
// survives a lost device by resetting it and recreating what lives in the
// default pool, and reports at shutdown what its users forgot to release.
// Registered in the manager registry as "ZVGraphicsD3D9" of type "Graphics".
//
// Pools: static vertex buffers live in the managed pool and survive a reset;
// dynamic vertex buffers, all index buffers and all textures live in the
// default pool.  A reset releases those, and recreates them afterwards (index
// buffers refilled from their system copy, textures reloaded from their file,
// dynamic vertex buffers left for their owners to rewrite in the next frame).
// When a reset or a re-creation fails, the objects not yet recreated stay
// null (their Active and Lock fail cleanly) and the next frame tries again.
#pragma once

#include "zvd3d9.h"
#include "zvgraphics.h"
#include "zvstuff.h"

#define MAXACTIVELIGHTS 8u

// One of the eight light slots: bound to the application's light index id
// (0xFFFFFFFF for a slot never used).
struct LightSlot {
    u32 id;
    bool bActive;
    Light light;
};

// One edge of an index buffer's edge list, used by the stencil shadows:
// vertices a and b, the triangle holding it as a -> b, and the neighbouring
// triangle holding it as b -> a (0xFFFFFFFF when there is none).
struct Edge {
    u16 a;
    u16 b;
    u32 face0;
    u32 face1;
};

class ZVGraphics : public IInternGraphics {
public:
    class VB;
    class IB;
    class Texture;

    // The manager factory of the plug-in record: a new manager holding one
    // reference, null when the allocation fails.
    static IInterface* Create();

    u32 AddRef() override;
    u32 Release() override;
    const String& GetName() override;

    ICore* GetCore() override { return pCore; }
    HRESULT SetRenderState(u32 state, u32 value) override;
    HRESULT SetCamera(const Vector3* eye, const Vector3* at, const Vector3* up) override;
    HRESULT GetCamera(Vector3* eye, Vector3* at, Vector3* up) override;
    HRESULT GetViewProj(Matrix* view, Matrix* projection) override;
    bool IsWindowed() override { return d3dpp.Windowed != 0; }
    // Chooses adapter, formats and size, then creates the device (first call)
    // or resets it.  A failed call leaves the previous mode in place.
    HRESULT SetScreenMode(const DisplaySettings* settings, bool performance, bool strict) override;
    HRESULT GetScreenMode(DisplaySettings* out) override;
    u32 GetMaxActiveLights() override { return MAXACTIVELIGHTS; }
    HRESULT SetLight(u32 index, bool enable, const Light* light) override;
    HRESULT SetMaterial(const D3DMATERIAL9* material) override;
    HRESULT SaveScreenshot(const String& fileName) override;
    HRESULT UpdateAndRender(float elapsedSeconds) override;
    HRESULT Draw(PrimitiveType type, const Matrix* world, const DrawPrimitiveInfos* range, bool indexed) override;
    GraphicsStats GetStats() override { return GraphicsStats{nDrawCalls, nPrimitives}; }
    HRESULT CorrectIndices(u16** indices, u32* count) override;
    HRESULT CreateGeometry(const String& type, const String& command, IGeometry** out) override;
    HRESULT CreateClonedGeometry(IGeometry* source, IGeometry** out) override;
    HRESULT RemoveGeometry(IGeometry* geometry) override;
    HRESULT CreateVB(u32 fvf, u32 vertexCount, bool dynamic, IVertexBuffer** out) override;
    HRESULT CreateIB(u32 indexCount, bool dynamic, IIndexBuffer** out) override;
    HRESULT CreateTexture(const String& fileName, ITexture** out) override;
    HRESULT DesactiveTexture(u32 stage) override;
    IDirect3DDevice9* GetD3DDevice() override { return pD3DDevice; }
    HRESULT Init(ICore* core, HWND window, const Vector<PlugIn>* geometryRegistry) override;
    // Mode change and device reset (deferred with S_FALSE while rendering).
    HRESULT UpdateScreenMode() override;

    // Applies the engine's device states after a creation or a reset;
    // S_FALSE without a device.
    HRESULT SetRenderMode();

    // A screen mode as SetScreenMode chooses it, before it is put in place.
    struct ScreenModeChoice {
        u32 adapter;
        D3DDEVTYPE deviceType;
        bool hal;         // the adapter has a hardware device
        bool pure;        // ... that can be a pure device
        bool hardwareVP;  // ... with hardware vertex processing
        D3DFORMAT adapterFormat;
        D3DPRESENT_PARAMETERS pp;
        String formats;  // the three formats as the device information shows them
        bool stencil;    // the depth format has stencil bits
    };
    // The steps of SetScreenMode, each reporting through its scope.  The
    // choices fill *mode without touching the manager; E_FAIL or
    // ZVE_SUBFUNCTION when no mode can be chosen.
    HRESULT ChooseAdapter(CallScope& scope, u32 wanted, bool strict, ScreenModeChoice* mode);
    HRESULT ChooseFormats(CallScope& scope, bool windowed, bool performance, ScreenModeChoice* mode);
    HRESULT ChooseFullScreenSize(CallScope& scope, const DisplaySettings& settings, bool performance, bool strict,
                                 ScreenModeChoice* mode);
    // Creates the first device in the mode (falling back to the reference
    // rasteriser; *mode then says so) and takes the mode as the manager's.
    HRESULT CreateDeviceInMode(CallScope& scope, ScreenModeChoice* mode);
    // Applies the device states and shows one cleared frame.
    HRESULT PresentFirstFrame(CallScope& scope);
    // Takes the mode by a reset of the existing device: S_FALSE while the
    // device is lost (the mode then waits for the next frame's reset); a
    // failed reset puts the previous mode back.
    HRESULT ResetIntoMode(CallScope& scope, const ScreenModeChoice& mode);
    // Reads the device's capabilities and logs the device information.
    HRESULT ReportDeviceInfos(CallScope& scope);
    // The name of a Direct3D format without its "D3DFMT_" prefix ("Unknown
    // format" for a code without one).  One static String, overwritten by
    // every call.
    static const String& FormatName(u32 format);
    // Makes room in the list for one more geometry before one is made, so
    // that every geometry made can be listed; E_OUTOFMEMORY (reported) when
    // the list cannot grow.
    HRESULT ReserveGeometrySlot(CallScope& scope);
    // Shared by VB, IB and Texture: the last Release deletes the resource; a
    // new one is listed and handed out (deleted when it cannot be listed).
    template <class Resource>
    static u32 ReleaseResource(Resource* resource, u32& refCount);
    template <class Resource, class Interface>
    static HRESULT ListNewResource(CallScope& scope, Vector<Resource*>& list, Resource* resource, Interface** out);
    // Rebuilds an index buffer's edge list from its system copy; called by
    // IB::Unlock after every unlock.
    HRESULT GenConnectivityInfos(IB* buffer);
    // Draws the shadow volume of one model for a point light into the
    // stencil buffer (inside the frame).  S_FALSE when it has no silhouette.
    HRESULT GenAndRenderShadVol(LightSlot* light, IModel* model);
    // The device states every lighting path draws its models with, lit or
    // not; normals are renormalised.
    void SetModelStates(BOOL lit);
    // The frame's passes (zvgraphrender.cpp): the first failing result goes
    // to *failure and ends the drawing.
    HRESULT RenderModels(bool update, float elapsed, HRESULT* failure);
    HRESULT RenderOthers(HRESULT* failure);
    HRESULT RenderSimplePasses(float elapsed, HRESULT* failure);
    HRESULT RenderStencilPasses(float elapsed, HRESULT* failure);

    u32 nRef;
    Vector<PlugIn> PlugInGeometries;
    IDirect3DVertexBuffer9* pLastVB;
    IDirect3DIndexBuffer9* pLastIB;
    IDirect3DBaseTexture9* pLastTexture;
    ICore* pCore;
    Vector<IGeometry*> vGeometries;
    Vector<VB*> vVBs;
    Vector<IB*> vIBs;
    Vector<Texture*> vTextures;
    D3DCAPS9 d3dCaps;  // all zero until a device exists
    bool bFirstFrame;
    IDirect3D9* pD3D;
    IDirect3DDevice9* pD3DDevice;
    D3DPRESENT_PARAMETERS d3dpp;
    u32 nAdapter;
    String strDeviceType;
    String strFormats;
    u32 nDrawCalls;
    u32 nPrimitives;
    bool bRendering;
    bool bModeChangePending;
    bool bStencil;
    IVertexBuffer* pShadowVB;
    LightSlot lights[MAXACTIVELIGHTS];
    u32 nLightningPath;
    u32 nFillMode;
    u32 nShadowDebug;
    Vector3 vEye;
    Vector3 vLookAt;
    Vector3 vUp;

    // A vertex buffer: the Direct3D buffer (managed pool when static, default
    // pool when dynamic) and a system array of the vertex positions.
    class VB : public IVertexBuffer {
    public:
        explicit VB(ZVGraphics* owner);
        u32 AddRef() override;
        u32 Release() override;
        const String& GetName() override;
        HRESULT Active(u32 stream) override;
        HRESULT Lock(void** data, Vector3** positions) override;
        HRESULT Unlock() override;
        u32 GetNumVertices() override { return nVertices; }

        u32 nRef;
        bool bDynamic;
        u32 nFVF;
        u32 nStride;
        u32 nVertices;
        Vector3* pPositions;
        ZVGraphics* pGraphics;
        IDirect3DVertexBuffer9* pD3DVB;  // null between a failed reset and the next one

    protected:
        ~VB() override;
        friend class ZVGraphics;
    };

    // An index buffer of 16-bit indices (default pool), its system copy, one
    // flag per triangle and the edge list built at every unlock.
    class IB : public IIndexBuffer {
    public:
        explicit IB(ZVGraphics* owner);
        u32 AddRef() override;
        u32 Release() override;
        const String& GetName() override;
        HRESULT Active() override;
        HRESULT Lock(u16** data, u16** systemCopy) override;
        HRESULT Unlock() override;
        u32 GetNumIndices() override { return nIndices; }

        u32 nRef;
        bool bDynamic;
        u16* pIndices;
        u8* pFaceFlags;
        Vector<Edge> vEdges;
        u32 nIndices;
        ZVGraphics* pGraphics;
        IDirect3DIndexBuffer9* pD3DIB;  // null between a failed reset and the next one

    protected:
        ~IB() override;
        friend class ZVGraphics;
    };

    // A texture loaded from a file (default pool), reloaded after a reset.
    class Texture : public ITexture {
    public:
        explicit Texture(ZVGraphics* owner);
        u32 AddRef() override;
        u32 Release() override;
        const String& GetName() override;
        HRESULT Active(u32 stage) override;

        u32 nRef;
        String strFileName;
        ZVGraphics* pGraphics;
        IDirect3DTexture9* pD3DTexture;  // null between a failed reset and the next one

    protected:
        ~Texture() override;
        friend class ZVGraphics;
    };

protected:
    ZVGraphics();
    ~ZVGraphics() override;

private:
    // Releases the Direct3D objects of the default pool (dynamic vertex
    // buffers, index buffers, textures) and sets them to null.
    void ReleaseDefaultPool();
    // Recreates every default-pool object that is null; stops at the first
    // failure (reported).
    HRESULT RecreateDefaultPool(CallScope& scope);

    ZVGraphics(const ZVGraphics&) = delete;
    ZVGraphics& operator=(const ZVGraphics&) = delete;
};
