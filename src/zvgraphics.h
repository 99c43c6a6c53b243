// The graphics manager's interfaces: IGraphics (what the programs and the
// geometries use) and IInternGraphics (what the core calls), the GPU resource
// interfaces (ITexture, IVertexBuffer, IIndexBuffer), the geometry interfaces
// (IGeometry, IModel) and the records they exchange.  Single inheritance, one
// table: the 30 operations below, and besides them the protected virtual
// destructor that every engine object inherits from IInterface:
//
//   0-3   IInterface: AddRef, Release, GetName, Clone
//   4     GetCore
//   5-8   SetRenderState, SetCamera, GetCamera, GetViewProj
//   9-11  IsWindowed, SetScreenMode, GetScreenMode
//   12-15 GetMaxActiveLights, SetLight, SetMaterial, SaveScreenshot
//   16-19 UpdateAndRender, Draw, GetStats, CorrectIndices
//   20-22 CreateGeometry, CreateClonedGeometry, RemoveGeometry
//   23-27 CreateVB, CreateIB, CreateTexture, DesactiveTexture, GetD3DDevice
//   28    Init                (IInternGraphics)
//   29    UpdateScreenMode    (IInternGraphics)
//
// The operations of IGraphics have default bodies (E_NOTIMPL, null, 0) so
// that test stand-ins override only what they use; the engine's manager
// (ZVGraphics, zvgraphicsd3d9.h) overrides every one.
#pragma once

#include "config.h"
#include "zvd3d9.h"
#include "zvplugin.h"
#include "zvstuff.h"
#include "zvwin32.h"

class ICore;
class IGeometry;

// First argument of SetRenderState.
enum RenderState : u32 {
    LIGHTNINGPATH = 1,  // one of LightningPath
    FILLMODE = 2,       // a Direct3D fill mode: 1 point, 2 wireframe, 3 solid
    SHADOWDEBUG = 3     // bit 0: volumes drawn visibly; bit 1: the possible silhouette drawn
};
enum LightningPath : u32 { NoLightning = 1, SimpleLighting = 2, StencilShadow = 3 };

// The Direct3D 9 primitive types (1 point list ... 6 triangle fan).
typedef D3DPRIMITIVETYPE PrimitiveType;

// One drawable range of a vertex and an index buffer, filled by the geometries.
struct DrawPrimitiveInfos {
    u32 nFirstVertex;
    u32 nNumVertices;
    u32 nFirstIndex;
    u32 nNumIndices;
};

// Counters of the current or last frame.
struct GraphicsStats {
    u32 nDrawCalls;
    u32 nPrimitives;
};

// The screen mode asked for (SetScreenMode) or in use (GetScreenMode).
class DisplaySettings {
public:
    DisplaySettings(u32 adapter = 0, u32 windowed = 1, u32 width = 0, u32 height = 0)
        : nAdapter(adapter), bWindowed(windowed), nWidth(width), nHeight(height) {}

    u32 nAdapter;     // adapter index
    u32 bWindowed;    // non-zero: windowed
    u32 nWidth;       // full-screen width asked for / back-buffer width
    u32 nHeight;      // full-screen height asked for / back-buffer height
    String strDeviceType;   // out only: "HAL (hw vp)", "REF", ...
    String strFormats;      // out only: "adapt X8R8G8B8 backBuf ... depth/sten ..."
    String strDescription;  // out only: the adapter's description
};

// ---------------------------------------------------------------------------
// GPU resources.  Each holds a Direct3D object and what the manager needs to
// rebuild it after a device reset.  Created by IGraphics::CreateVB, CreateIB
// and CreateTexture with one reference for the caller.

class ITexture : public IInterface {
public:
    // Binds the texture to a stage.  S_FALSE when it is the texture bound
    // last (on whatever stage): nothing is sent to the device.
    virtual HRESULT Active(u32 stage) = 0;
};

class IVertexBuffer : public IInterface {
public:
    // Sets the buffer as the source of a stream (0 with a vertex format).
    // S_FALSE when it is the buffer set last.
    virtual HRESULT Active(u32 stream) = 0;
    // Locks the whole buffer for writing (dynamic buffers are discarded).
    // positions (may be null) receives the buffer's system array of one
    // Vector3 per vertex, which the caller fills for the shadow volumes.
    virtual HRESULT Lock(void** data, Vector3** positions) = 0;
    virtual HRESULT Unlock() = 0;
    virtual u32 GetNumVertices() = 0;
};

class IIndexBuffer : public IInterface {
public:
    // Sets the buffer as the device's indices.  S_FALSE when it is set already.
    virtual HRESULT Active() = 0;
    // Locks the whole buffer (16-bit indices).  The caller writes the same
    // indices into data and into systemCopy (both required).
    virtual HRESULT Lock(u16** data, u16** systemCopy) = 0;
    // Unlocks and rebuilds the buffer's edge list from its system copy.
    virtual HRESULT Unlock() = 0;
    virtual u32 GetNumIndices() = 0;
};

// ---------------------------------------------------------------------------
// Geometries: everything the engine draws.  Made by IGraphics::CreateGeometry
// from a plug-in type and a command; each holds one reference to the manager
// and calls RemoveGeometry from its destructor before releasing it.

class IGeometry : public IInterface {
public:
    // Once per frame with the seconds since the last frame.
    virtual HRESULT Update(float elapsed) = 0;
    // Draws through the manager; only inside the frame.
    virtual HRESULT Render() = 0;
    // After every device reset (1 when there is nothing to redo).
    virtual HRESULT Reset() = 0;
    // A kind-specific command; parameter is an input.
    virtual HRESULT SendCommand(const String& command, String* parameter) = 0;
    // The plug-in type and the command the geometry was created with.
    virtual HRESULT GetTypeAndCommand(String* type, String* command) = 0;
};

// The buffers a model draws, read by the shadow volumes (no references).
struct GeometryBuffers {
    IVertexBuffer* pVB;
    IIndexBuffer* pIB;
    u32 nReserved;  // always 0
};

class IModel : public IGeometry {
public:
    virtual HRESULT AddAnimation(const String& name, float weight) = 0;
    virtual HRESULT AddAnimation(u32 id, float weight) = 0;
    virtual u32 GetNumAnimations() = 0;
    // Empty when id is not below the animation count.
    virtual String GetAnimationName(u32 id) = 0;
    virtual bool IsAnimationPlaying(u32 id) = 0;
    // E_FAIL for a null out.
    virtual HRESULT GetBuffers(GeometryBuffers* out) = 0;
};

// ---------------------------------------------------------------------------

class IGraphics : public IInterface {
public:
    // 4: the owning core; no reference is added.
    virtual ICore* GetCore() { return nullptr; }
    // 5-8: render states and the camera.
    virtual HRESULT SetRenderState(u32 state, u32 value) {
        (void)state;
        (void)value;
        return E_NOTIMPL;
    }
    virtual HRESULT SetCamera(const Vector3* eye, const Vector3* at, const Vector3* up) {
        (void)eye;
        (void)at;
        (void)up;
        return E_NOTIMPL;
    }
    virtual HRESULT GetCamera(Vector3* eye, Vector3* at, Vector3* up) {
        (void)eye;
        (void)at;
        (void)up;
        return E_NOTIMPL;
    }
    // The camera's view and projection matrices (the visibility manager
    // builds its view volume from them).
    virtual HRESULT GetViewProj(Matrix* view, Matrix* projection) {
        (void)view;
        (void)projection;
        return E_NOTIMPL;
    }
    // 9: the device's present parameters say windowed.
    virtual bool IsWindowed() { return true; }
    // 10-11: the screen mode.
    virtual HRESULT SetScreenMode(const DisplaySettings* settings, bool performance, bool strict) {
        (void)settings;
        (void)performance;
        (void)strict;
        return E_NOTIMPL;
    }
    virtual HRESULT GetScreenMode(DisplaySettings* out) {
        (void)out;
        return E_NOTIMPL;
    }
    // 12-15: lights, material, screenshots.
    virtual u32 GetMaxActiveLights() { return 8; }
    virtual HRESULT SetLight(u32 index, bool enable, const Light* light) {
        (void)index;
        (void)enable;
        (void)light;
        return E_NOTIMPL;
    }
    virtual HRESULT SetMaterial(const D3DMATERIAL9* material) {
        (void)material;
        return E_NOTIMPL;
    }
    virtual HRESULT SaveScreenshot(const String& fileName) {
        (void)fileName;
        return E_NOTIMPL;
    }
    // 16-19: the frame.
    virtual HRESULT UpdateAndRender(float elapsedSeconds) {
        (void)elapsedSeconds;
        return E_NOTIMPL;
    }
    virtual HRESULT Draw(PrimitiveType type, const Matrix* world, const DrawPrimitiveInfos* range, bool indexed) {
        (void)type;
        (void)world;
        (void)range;
        (void)indexed;
        return E_NOTIMPL;
    }
    virtual GraphicsStats GetStats() { return GraphicsStats{0, 0}; }
    // Removes degenerate triangles from a triangle list in place.
    virtual HRESULT CorrectIndices(u16** indices, u32* count) {
        (void)indices;
        (void)count;
        return E_NOTIMPL;
    }
    // 20-22: the geometry registry.
    virtual HRESULT CreateGeometry(const String& type, const String& command, IGeometry** out) {
        (void)type;
        (void)command;
        (void)out;
        return E_NOTIMPL;
    }
    virtual HRESULT CreateClonedGeometry(IGeometry* source, IGeometry** out) {
        (void)source;
        (void)out;
        return E_NOTIMPL;
    }
    virtual HRESULT RemoveGeometry(IGeometry* geometry) {
        (void)geometry;
        return E_NOTIMPL;
    }
    // 23-26: GPU resources.
    virtual HRESULT CreateVB(u32 fvf, u32 vertexCount, bool dynamic, IVertexBuffer** out) {
        (void)fvf;
        (void)vertexCount;
        (void)dynamic;
        (void)out;
        return E_NOTIMPL;
    }
    virtual HRESULT CreateIB(u32 indexCount, bool dynamic, IIndexBuffer** out) {
        (void)indexCount;
        (void)dynamic;
        (void)out;
        return E_NOTIMPL;
    }
    virtual HRESULT CreateTexture(const String& fileName, ITexture** out) {
        (void)fileName;
        (void)out;
        return E_NOTIMPL;
    }
    virtual HRESULT DesactiveTexture(u32 stage) {
        (void)stage;
        return E_NOTIMPL;
    }
    // 27: the device (no reference added; null before the first SetScreenMode).
    virtual IDirect3DDevice9* GetD3DDevice() { return nullptr; }
};

class IInternGraphics : public IGraphics {
public:
    // 28: called once by the core's CreateGraphics after the factory.
    virtual HRESULT Init(ICore* core, HWND window, const Vector<PlugIn>* geometryRegistry) = 0;
    // 29: the window was moved or sized, or the device must be reset.
    virtual HRESULT UpdateScreenMode() = 0;
};

// A light's four-float colour as a 32-bit Direct3D colour (A in bits 24-31,
// then R, G, B); each component times 255, truncated, not clamped to 1.0 (the
// low byte is kept).  Products no 64-bit integer holds saturate; NaN gives 0.
D3DCOLOR ToD3DColor(const D3DCOLORVALUE& colour);
