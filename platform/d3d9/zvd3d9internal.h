// Internal classes of the Direct3D 9 layer (not for the engine).
#pragma once

#ifndef GL_GLEXT_PROTOTYPES
#define GL_GLEXT_PROTOTYPES 1
#endif
#include <GL/gl.h>
#include <GL/glext.h>
#include <SDL.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "zvd3d9.h"
#include "zvd3d9color.h"
#include "zvd3d9programs.h"

namespace zvd3d9 {

// ---------------------------------------------------------------------------
// Pixel formats
struct FormatInfo {
    UINT bytes = 0;          // bytes per pixel, 0 for an unsupported format
    GLenum internal = 0;     // GL internal format of a texture / render target
    GLenum glFormat = 0;     // upload format
    GLenum glType = 0;       // upload type
    bool alphaOne = false;   // the format has no alpha: reads give 1
};
bool GetFormatInfo(D3DFORMAT format, FormatInfo* info);
bool IsDepthFormat(D3DFORMAT format);
bool HasStencil(D3DFORMAT format);
// Conversions between a row of pixels of a colour format and B,G,R,A bytes.
void RowToBGRA(D3DFORMAT format, const void* src, uint8_t* dst, UINT count);
void RowFromBGRA(D3DFORMAT format, const uint8_t* src, void* dst, UINT count);

// ---------------------------------------------------------------------------
// Flexible vertex formats
struct FvfLayout {
    UINT stride = 0;
    int positionSize = 0;    // floats of the position: 3, or 4 for XYZRHW / XYZW
    bool rhw = false;        // pre-transformed
    int normal = -1;         // byte offsets, -1 when absent
    int diffuse = -1;
    int specular = -1;
    int texCount = 0;
    int texOffset[8] = {};
    int texSize[8] = {};     // floats per texture coordinate set
};
bool ComputeFvfLayout(DWORD fvf, FvfLayout* layout);

// GL's reading of a primitive count: vertices used, or false when the count
// does not fit.
bool VerticesForPrimitives(D3DPRIMITIVETYPE type, UINT primitives, uint64_t* vertices, GLenum* mode);

// Caps shared by the Direct3D object and the device.
void FillCaps(UINT adapter, D3DCAPS9* caps);
constexpr DWORD kMaxPrimitiveCount = 0x000FFFFF;
constexpr DWORD kMaxVertexIndex = 0x00FFFFFF;
constexpr DWORD kMaxStreams = 16;
constexpr DWORD kMaxTextureStages = 1;    // stages with texturing
constexpr DWORD kMaxSamplerSlots = 8;     // stage numbers accepted by SetTexture
constexpr DWORD kMaxActiveLights = 8;
static_assert(kMaxActiveLights <= (DWORD)kProgramLights, "the programs read every active light");

class Device;

// Every resource made by a device: counted, and told when the device goes away.
class TrackedResource {
public:
    virtual ~TrackedResource() = default;
    // The device is being destroyed: drop GL objects and the device link.
    virtual void Orphan() = 0;
    D3DPOOL trackedPool = D3DPOOL_DEFAULT;
};

class Direct3D9;

class Surface;
class Texture;

class VertexBuffer final : public IDirect3DVertexBuffer9, public TrackedResource {
public:
    VertexBuffer(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool);
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    DWORD SetPriority(DWORD priority) override;
    DWORD GetPriority() override;
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }
    HRESULT Lock(UINT offsetToLock, UINT sizeToLock, void** data, DWORD flags) override;
    HRESULT Unlock() override;
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) override;
    void Orphan() override;

    GLuint Buffer() const { return buffer_; }
    UINT Length() const { return (UINT)data_.size(); }
    const uint8_t* Data() const { return data_.data(); }

private:
    ~VertexBuffer() override;
    ULONG ref_ = 1;
    Device* device_;
    DWORD usage_, fvf_, priority_ = 0;
    std::vector<uint8_t> data_;
    GLuint buffer_ = 0;
    int locks_ = 0;
    bool discard_ = false, dirty_ = false;
    UINT dirtyBegin_ = 0, dirtyEnd_ = 0;
};

class IndexBuffer final : public IDirect3DIndexBuffer9, public TrackedResource {
public:
    IndexBuffer(Device* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool);
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    DWORD SetPriority(DWORD priority) override;
    DWORD GetPriority() override;
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_INDEXBUFFER; }
    HRESULT Lock(UINT offsetToLock, UINT sizeToLock, void** data, DWORD flags) override;
    HRESULT Unlock() override;
    HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc) override;
    void Orphan() override;

    GLuint Buffer() const { return buffer_; }
    UINT Length() const { return (UINT)data_.size(); }
    D3DFORMAT Format() const { return format_; }
    const uint8_t* Data() const { return data_.data(); }
    // The largest index anywhere in the buffer (kept up to date by Unlock).
    uint32_t MaxIndex() const { return maxIndex_; }

private:
    ~IndexBuffer() override;
    void UpdateMaxIndex();
    uint32_t maxIndex_ = 0;
    ULONG ref_ = 1;
    Device* device_;
    DWORD usage_, priority_ = 0;
    D3DFORMAT format_;
    std::vector<uint8_t> data_;
    GLuint buffer_ = 0;
    int locks_ = 0;
    bool discard_ = false, dirty_ = false;
    UINT dirtyBegin_ = 0, dirtyEnd_ = 0;
};

// Surfaces: a plain off-screen surface (memory only), a level of a texture,
// or the device's back buffer.
class Surface final : public IDirect3DSurface9, public TrackedResource {
public:
    enum Kind { kOffscreen, kTextureLevel, kBackBuffer };
    Surface(Device* device, Kind kind, UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
            Texture* texture = nullptr, UINT level = 0);
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    DWORD SetPriority(DWORD) override { return 0; }
    DWORD GetPriority() override { return 0; }
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override;
    HRESULT LockRect(D3DLOCKED_RECT* lockedRect, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect() override;
    void Orphan() override;

    UINT Width() const { return width_; }
    UINT Height() const { return height_; }
    D3DFORMAT Format() const { return format_; }
    Kind GetKind() const { return kind_; }
    // Memory of an off-screen surface (top row first, tightly packed).
    std::vector<uint8_t>& Memory() { return memory_; }
    // Reads the surface as B,G,R,A rows (top row first) of the given rectangle.
    bool ReadBGRA(const RECT& rect, std::vector<uint8_t>* out);

private:
    friend class Texture;
    ~Surface() override;
    ULONG ref_ = 1;
    Device* device_;
    Kind kind_;
    UINT width_, height_;
    D3DFORMAT format_;
    Texture* texture_;
    UINT level_;
    std::vector<uint8_t> memory_;
    bool locked_ = false;
    DWORD lockFlags_ = 0;
};

class Texture final : public IDirect3DTexture9, public TrackedResource {
public:
    Texture(Device* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool);
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    DWORD SetPriority(DWORD priority) override;
    DWORD GetPriority() override;
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD SetLOD(DWORD lod) override;
    DWORD GetLOD() override { return lod_; }
    DWORD GetLevelCount() override { return (DWORD)levels_.size(); }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) override;
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* lockedRect, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect(UINT level) override;
    void Orphan() override;

    GLuint Handle() const { return texture_; }
    D3DFORMAT Format() const { return format_; }
    struct Level {
        UINT width, height, pitch;
        std::vector<uint8_t> data;
        bool locked = false;
        DWORD lockFlags = 0;
        Surface* surface = nullptr;   // made on demand, lives with the texture
        bool specified = false;       // the GL texture has this level's image
    };
    Level* GetLevel(UINT level) { return level < levels_.size() ? &levels_[level] : nullptr; }
    // Copies a level's memory to GL: its first upload specifies the GL
    // image, so a level written right after creation goes to GL once.
    void UploadLevel(UINT level);
    // Gives GL the levels not uploaded yet (their memory holds zeros), as a
    // texture must have all of them before it is sampled.
    void UploadUnspecified();

private:
    ~Texture() override;
    ULONG ref_ = 1;
    Device* device_;
    DWORD usage_, priority_ = 0, lod_ = 0;
    D3DFORMAT format_;
    std::vector<Level> levels_;
    UINT unspecified_ = 0;   // levels whose GL image is still to be made
    GLuint texture_ = 0;
};

struct LightSlot {
    D3DLIGHT9 light;
    bool enabled = false;
};

class Device final : public IDirect3DDevice9 {
public:
    Device(Direct3D9* d3d, UINT adapter, HWND focusWindow, DWORD behavior);
    // Second stage of construction; D3D_OK or the failure to report.
    HRESULT Init(D3DPRESENT_PARAMETERS* pp);

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT TestCooperativeLevel() override;
    UINT GetAvailableTextureMem() override;
    HRESULT EvictManagedResources() override { return D3D_OK; }
    HRESULT GetDirect3D(IDirect3D9** d3d) override;
    HRESULT GetDeviceCaps(D3DCAPS9* caps) override;
    HRESULT GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) override;
    HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* parameters) override;
    HRESULT Reset(D3DPRESENT_PARAMETERS* pp) override;
    HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                    const void* dirtyRegion) override;
    HRESULT GetBackBuffer(UINT swapChain, UINT backBuffer, D3DBACKBUFFER_TYPE type,
                          IDirect3DSurface9** surface) override;
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture9** texture, void** sharedHandle) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** vb,
                               void** sharedHandle) override;
    HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DIndexBuffer9** ib,
                              void** sharedHandle) override;
    HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                        IDirect3DSurface9** surface, void** sharedHandle) override;
    HRESULT GetFrontBufferData(UINT swapChain, IDirect3DSurface9* destSurface) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;
    HRESULT GetViewport(D3DVIEWPORT9* viewport) override;
    HRESULT SetMaterial(const D3DMATERIAL9* material) override;
    HRESULT GetMaterial(D3DMATERIAL9* material) override;
    HRESULT SetLight(DWORD index, const D3DLIGHT9* light) override;
    HRESULT GetLight(DWORD index, D3DLIGHT9* light) override;
    HRESULT LightEnable(DWORD index, BOOL enable) override;
    HRESULT GetLightEnable(DWORD index, BOOL* enable) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
    HRESULT GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) override;
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
    HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override;
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT ValidateDevice(DWORD* numPasses) override;
    HRESULT SetScissorRect(const RECT* rect) override;
    HRESULT GetScissorRect(RECT* rect) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex, UINT numVertices,
                                 UINT startIndex, UINT primitiveCount) override;
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertexData,
                            UINT vertexStride) override;
    HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT numVertices,
                                   UINT primitiveCount, const void* indexData, D3DFORMAT indexFormat,
                                   const void* vertexData, UINT vertexStride) override;
    HRESULT SetFVF(DWORD fvf) override;
    HRESULT GetFVF(DWORD* fvf) override;
    HRESULT SetVertexShader(IDirect3DVertexShader9* shader) override;
    HRESULT SetPixelShader(IDirect3DPixelShader9* shader) override;
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* vb, UINT offset, UINT stride) override;
    HRESULT GetStreamSource(UINT stream, IDirect3DVertexBuffer9** vb, UINT* offset, UINT* stride) override;
    HRESULT SetIndices(IDirect3DIndexBuffer9* ib) override;
    HRESULT GetIndices(IDirect3DIndexBuffer9** ib) override;

    // For the resources.
    void MakeCurrent();
    void Track(TrackedResource* resource);
    void Untrack(TrackedResource* resource);
    bool Dying() const { return dying_; }
    // Reads the back buffer's colour (B,G,R,A rows, top row first).
    void ReadBackBuffer(std::vector<uint8_t>* bgra);
    void WriteBackBuffer(const std::vector<uint8_t>& bgra);
    UINT BackWidth() const { return pp_.BackBufferWidth; }
    UINT BackHeight() const { return pp_.BackBufferHeight; }
    D3DFORMAT BackFormat() const { return pp_.BackBufferFormat; }

    // Test hooks.
    void TestLose();
    void TestRegain();
    void TestUseGeneralPrograms(bool general) { generalPrograms_ = general; }
    size_t TestProgramCount() const { return programs_.Count(); }

private:
    ~Device() override;
    enum State { kOperational, kLost, kNotReset };
    HRESULT ValidatePresentParameters(D3DPRESENT_PARAMETERS* pp);
    bool CreateTargets();
    void DestroyTargets();
    void SetDefaultStates();
    void UnbindAll();
    HRESULT PrepareDraw(const FvfLayout& layout, GLuint vertexBuffer, size_t vertexOffset, UINT stride);
    void ApplyState(bool writesNoColour);
    DrawState DrawStateFor(const FvfLayout& layout) const;
    void ApplyTexture();
    void ApplyFullscreen();
    static void ActivationObserver(void* user);
    SDL_Window* DeviceWindow() const;

    ULONG ref_ = 1;
    Direct3D9* d3d_;
    UINT adapter_;
    HWND focusWindow_;
    DWORD behavior_;
    D3DPRESENT_PARAMETERS pp_ = {};
    State state_ = kOperational;
    bool dying_ = false;
    bool inScene_ = false;
    bool observing_ = false;

    SDL_Window* hidden_ = nullptr;
    SDL_GLContext context_ = nullptr;
    GLuint backFbo_ = 0, backColor_ = 0, backDepth_ = 0;
    GLuint frontFbo_ = 0, frontColor_ = 0;
    ProgramCache programs_;
    bool generalPrograms_ = false;   // test switch: every draw through the general programs
    GLuint scratchVb_ = 0, scratchIb_ = 0;
    bool depthStencil_ = false, stencil_ = false;

    std::vector<TrackedResource*> resources_;

    DWORD renderStates_[256] = {};
    DWORD stageStates_[kMaxSamplerSlots][33] = {};
    DWORD samplerStates_[kMaxSamplerSlots][14] = {};
    D3DMATRIX world_, view_, projection_;
    D3DMATRIX textureTransforms_[8];
    D3DVIEWPORT9 viewport_ = {};
    RECT scissor_ = {};
    D3DMATERIAL9 material_ = {};
    std::map<DWORD, LightSlot> lights_;
    DWORD fvf_ = 0;
    struct Stream {
        VertexBuffer* vb = nullptr;
        UINT offset = 0, stride = 0;
    } streams_[kMaxStreams];
    IndexBuffer* indices_ = nullptr;
    Texture* textures_[kMaxSamplerSlots] = {};
};

class Direct3D9 final : public IDirect3D9 {
public:
    Direct3D9();
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    UINT GetAdapterCount() override;
    HRESULT GetAdapterIdentifier(UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER9* identifier) override;
    UINT GetAdapterModeCount(UINT adapter, D3DFORMAT format) override;
    HRESULT EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode, D3DDISPLAYMODE* out) override;
    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* out) override;
    HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT backBufferFormat,
                            BOOL windowed) override;
    HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                              D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) override;
    HRESULT CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT surfaceFormat, BOOL windowed,
                                       D3DMULTISAMPLE_TYPE multiSample, DWORD* qualityLevels) override;
    HRESULT CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                   D3DFORMAT renderTargetFormat, D3DFORMAT depthStencilFormat) override;
    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) override;
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS* pp, IDirect3DDevice9** returnedDevice) override;

    // The modes of one adapter and display format, in Direct3D's order.
    std::vector<D3DDISPLAYMODE> Modes(UINT adapter, D3DFORMAT format);

private:
    ~Direct3D9() override;
    void QueryGLStrings();
    ULONG ref_ = 1;
    bool glQueried_ = false;
    std::string glVendor_, glRenderer_, glVersion_;
};

// The display format of an adapter's current mode.
D3DFORMAT DisplayFormatOf(int bitsPerPixel);
// The display format a back-buffer format is shown with in full screen.
D3DFORMAT DisplayFormatForBackBuffer(D3DFORMAT backBuffer);
bool IsDisplayFormat(D3DFORMAT format);
bool IsBackBufferFormat(D3DFORMAT format);
bool IsTextureFormat(D3DFORMAT format);

// Creates a hidden window with a GL context current on it.
bool CreateHiddenContext(SDL_Window** window, SDL_GLContext* context);

}  // namespace zvd3d9
