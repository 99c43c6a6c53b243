// The Direct3D 9 device on OpenGL.
//
// Conventions:
// - The device owns a GL context made on a hidden window of its own, so the
//   context outlives the application's window.  Drawing goes to a frame-buffer
//   object (colour + depth/stencil: the back buffer); Present copies it into a
//   second colour buffer (the front buffer, kept for GetFrontBufferData) and
//   blits that to the device window, with the context made current on that
//   window only for the copy.
// - Matrices are Direct3D's row-vector matrices loaded as they are (GLSL's
//   column-major reading of them is the transpose, which turns v * M into
//   M' * v).  Direct3D's [0, 1] clip depth is turned into GL's [-1, 1] in the
//   vertex program (z' = 2z - w), which needs no clip-control extension.
// - Front faces are clockwise (glFrontFace(GL_CW)): D3DCULL_CCW culls GL back
//   faces, D3DCULL_CW GL front faces; two-sided stencil uses GL's front-face
//   state for Direct3D's clockwise states and the back-face state for CCW_*.
// - Vertex processing (Direct3D 9's light model) and texture stage 0 are
//   done by the fixed-function programs, made per draw state and kept by the
//   device (zvd3d9programs.cpp); the device gathers the state they read
//   (DrawStateFor) and sets the rest of GL's state itself (ApplyState).
// - A lost device (full-screen device whose window stopped being the active
//   window or was minimised, as the window layer tells; or the test hook)
//   answers D3DERR_DEVICELOST, then D3DERR_DEVICENOTRESET once the window is
//   back, until Reset.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "zvd3d9internal.h"
#include "zvd3d9test.h"
#include "zvwin32.h"

namespace zvd3d9 {

namespace {

void Identity(D3DMATRIX* m) {
    std::memset(m, 0, sizeof(*m));
    m->_11 = m->_22 = m->_33 = m->_44 = 1.0f;
}

GLenum CompareFunc(DWORD f) {
    switch (f) {
    case D3DCMP_NEVER: return GL_NEVER;
    case D3DCMP_LESS: return GL_LESS;
    case D3DCMP_EQUAL: return GL_EQUAL;
    case D3DCMP_LESSEQUAL: return GL_LEQUAL;
    case D3DCMP_GREATER: return GL_GREATER;
    case D3DCMP_NOTEQUAL: return GL_NOTEQUAL;
    case D3DCMP_GREATEREQUAL: return GL_GEQUAL;
    default: return GL_ALWAYS;
    }
}

GLenum StencilOp(DWORD op) {
    switch (op) {
    case D3DSTENCILOP_ZERO: return GL_ZERO;
    case D3DSTENCILOP_REPLACE: return GL_REPLACE;
    case D3DSTENCILOP_INCRSAT: return GL_INCR;
    case D3DSTENCILOP_DECRSAT: return GL_DECR;
    case D3DSTENCILOP_INVERT: return GL_INVERT;
    case D3DSTENCILOP_INCR: return GL_INCR_WRAP;
    case D3DSTENCILOP_DECR: return GL_DECR_WRAP;
    default: return GL_KEEP;
    }
}

GLenum BlendFactor(DWORD b) {
    switch (b) {
    case D3DBLEND_ZERO: return GL_ZERO;
    case D3DBLEND_ONE: return GL_ONE;
    case D3DBLEND_SRCCOLOR: return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR: return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
    case D3DBLEND_SRCALPHASAT: return GL_SRC_ALPHA_SATURATE;
    case D3DBLEND_BLENDFACTOR: return GL_CONSTANT_COLOR;
    case D3DBLEND_INVBLENDFACTOR: return GL_ONE_MINUS_CONSTANT_COLOR;
    default: return GL_ONE;
    }
}

GLenum BlendOp(DWORD op) {
    switch (op) {
    case D3DBLENDOP_SUBTRACT: return GL_FUNC_SUBTRACT;
    case D3DBLENDOP_REVSUBTRACT: return GL_FUNC_REVERSE_SUBTRACT;
    case D3DBLENDOP_MIN: return GL_MIN;
    case D3DBLENDOP_MAX: return GL_MAX;
    default: return GL_FUNC_ADD;
    }
}

GLenum AddressMode(DWORD a) {
    switch (a) {
    case D3DTADDRESS_MIRROR:
    case D3DTADDRESS_MIRRORONCE: return GL_MIRRORED_REPEAT;
    case D3DTADDRESS_CLAMP: return GL_CLAMP_TO_EDGE;
    case D3DTADDRESS_BORDER: return GL_CLAMP_TO_BORDER;
    default: return GL_REPEAT;
    }
}

// Direct3D's (top-left origin) rectangle into GL's (bottom-left origin).
void ToGLRect(LONG left, LONG top, LONG right, LONG bottom, UINT height, GLint* out) {
    out[0] = left;
    out[1] = (GLint)height - bottom;
    out[2] = right - left;
    out[3] = bottom - top;
}

}  // namespace

// ---------------------------------------------------------------------------
Device::Device(Direct3D9* d3d, UINT adapter, HWND focusWindow, DWORD behavior)
    : d3d_(d3d), adapter_(adapter), focusWindow_(focusWindow), behavior_(behavior) {
    d3d_->AddRef();
    Identity(&world_);
    Identity(&view_);
    Identity(&projection_);
    for (D3DMATRIX& m : textureTransforms_) Identity(&m);
}

HRESULT Device::Init(D3DPRESENT_PARAMETERS* pp) {
    D3DPRESENT_PARAMETERS copy = *pp;
    HRESULT hr = ValidatePresentParameters(&copy);
    if (FAILED(hr)) return hr;
    SDL_Window* previousWindow = SDL_GL_GetCurrentWindow();
    SDL_GLContext previousContext = SDL_GL_GetCurrentContext();
    if (!CreateHiddenContext(&hidden_, &context_)) {
        if (previousContext) SDL_GL_MakeCurrent(previousWindow, previousContext);
        return D3DERR_NOTAVAILABLE;
    }
    pp_ = copy;
    if (!programs_.Init() || !CreateTargets()) return D3DERR_NOTAVAILABLE;
    glGenBuffers(1, &scratchVb_);
    glGenBuffers(1, &scratchIb_);
    *pp = copy;
    ApplyFullscreen();
    SetDefaultStates();
    ZVAddActivationObserver(&Device::ActivationObserver, this);
    observing_ = true;
    return D3D_OK;
}

Device::~Device() {
    dying_ = true;
    if (observing_) ZVRemoveActivationObserver(&Device::ActivationObserver, this);
    if (context_) {
        MakeCurrent();
        UnbindAll();
        std::vector<TrackedResource*> left = resources_;
        resources_.clear();
        for (TrackedResource* r : left) r->Orphan();
        programs_.Release();
        if (scratchVb_) glDeleteBuffers(1, &scratchVb_);
        if (scratchIb_) glDeleteBuffers(1, &scratchIb_);
        DestroyTargets();
        SDL_GL_MakeCurrent(hidden_, nullptr);
        SDL_GL_DeleteContext(context_);
    }
    if (hidden_) SDL_DestroyWindow(hidden_);
    d3d_->Release();
}

HRESULT Device::QueryInterface(REFIID, void** object) {
    if (object) *object = nullptr;
    return E_NOINTERFACE;
}

ULONG Device::AddRef() { return ++ref_; }

ULONG Device::Release() {
    if (ref_ == 0) return 0;
    if (--ref_ == 0) {
        delete this;
        return 0;
    }
    return ref_;
}

void Device::MakeCurrent() {
    if (context_ && (SDL_GL_GetCurrentContext() != context_ || SDL_GL_GetCurrentWindow() != hidden_))
        SDL_GL_MakeCurrent(hidden_, context_);
}

void Device::Track(TrackedResource* resource) { resources_.push_back(resource); }

void Device::Untrack(TrackedResource* resource) {
    auto it = std::find(resources_.begin(), resources_.end(), resource);
    if (it != resources_.end()) resources_.erase(it);
}

SDL_Window* Device::DeviceWindow() const {
    HWND window = pp_.hDeviceWindow ? pp_.hDeviceWindow : focusWindow_;
    return window ? ZVWin32GetSDLWindow(window) : nullptr;
}

HRESULT Device::ValidatePresentParameters(D3DPRESENT_PARAMETERS* pp) {
    if (pp->BackBufferCount > 3) return D3DERR_INVALIDCALL;
    if (pp->BackBufferCount == 0) pp->BackBufferCount = 1;
    if (pp->SwapEffect < D3DSWAPEFFECT_DISCARD || pp->SwapEffect > D3DSWAPEFFECT_COPY) return D3DERR_INVALIDCALL;
    if (pp->MultiSampleType != D3DMULTISAMPLE_NONE) return D3DERR_INVALIDCALL;
    HWND window = pp->hDeviceWindow ? pp->hDeviceWindow : focusWindow_;
    SDL_Window* sdlWindow = window ? ZVWin32GetSDLWindow(window) : nullptr;
    if (!sdlWindow) return D3DERR_INVALIDCALL;
    if (pp->Windowed) {
        if (pp->FullScreen_RefreshRateInHz != 0) return D3DERR_INVALIDCALL;
        D3DDISPLAYMODE current;
        if (FAILED(d3d_->GetAdapterDisplayMode(adapter_, &current))) return D3DERR_NOTAVAILABLE;
        if (pp->BackBufferFormat == D3DFMT_UNKNOWN) pp->BackBufferFormat = current.Format;
        if (FAILED(d3d_->CheckDeviceType(adapter_, D3DDEVTYPE_HAL, current.Format, pp->BackBufferFormat, TRUE)))
            return D3DERR_INVALIDCALL;
        if (pp->BackBufferWidth == 0 || pp->BackBufferHeight == 0) {
            int w = 0, h = 0;
            SDL_GetWindowSize(sdlWindow, &w, &h);
            if (pp->BackBufferWidth == 0) pp->BackBufferWidth = (UINT)std::max(w, 1);
            if (pp->BackBufferHeight == 0) pp->BackBufferHeight = (UINT)std::max(h, 1);
        }
    } else {
        const D3DFORMAT display = DisplayFormatForBackBuffer(pp->BackBufferFormat);
        if (display == D3DFMT_UNKNOWN) return D3DERR_INVALIDCALL;
        if (FAILED(d3d_->CheckDeviceType(adapter_, D3DDEVTYPE_HAL, display, pp->BackBufferFormat, FALSE)))
            return D3DERR_INVALIDCALL;
        bool found = false;
        for (const D3DDISPLAYMODE& m : d3d_->Modes(adapter_, display))
            if (m.Width == pp->BackBufferWidth && m.Height == pp->BackBufferHeight &&
                (pp->FullScreen_RefreshRateInHz == 0 || m.RefreshRate == pp->FullScreen_RefreshRateInHz))
                found = true;
        if (!found) return D3DERR_INVALIDCALL;
    }
    if (pp->BackBufferWidth > 8192 || pp->BackBufferHeight > 8192) return D3DERR_INVALIDCALL;
    if (pp->EnableAutoDepthStencil && !IsDepthFormat(pp->AutoDepthStencilFormat)) return D3DERR_INVALIDCALL;
    return D3D_OK;
}

bool Device::CreateTargets() {
    FormatInfo info;
    if (!GetFormatInfo(pp_.BackBufferFormat, &info)) return false;
    const GLsizei w = (GLsizei)pp_.BackBufferWidth, h = (GLsizei)pp_.BackBufferHeight;
    auto makeColor = [&](GLuint* texture, GLuint* fbo) {
        glGenTextures(1, texture);
        glBindTexture(GL_TEXTURE_2D, *texture);
        glTexImage2D(GL_TEXTURE_2D, 0, (GLint)info.internal, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        glGenFramebuffers(1, fbo);
        glBindFramebuffer(GL_FRAMEBUFFER, *fbo);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, *texture, 0);
    };
    makeColor(&frontColor_, &frontFbo_);
    makeColor(&backColor_, &backFbo_);
    depthStencil_ = pp_.EnableAutoDepthStencil != 0;
    stencil_ = depthStencil_ && HasStencil(pp_.AutoDepthStencilFormat);
    if (depthStencil_) {
        glGenRenderbuffers(1, &backDepth_);
        glBindRenderbuffer(GL_RENDERBUFFER, backDepth_);
        GLenum internal = GL_DEPTH_COMPONENT24;
        switch (pp_.AutoDepthStencilFormat) {
        case D3DFMT_D24S8: internal = GL_DEPTH24_STENCIL8; break;
        case D3DFMT_D16: internal = GL_DEPTH_COMPONENT16; break;
        case D3DFMT_D32: internal = GL_DEPTH_COMPONENT32; break;
        default: break;
        }
        glRenderbufferStorage(GL_RENDERBUFFER, internal, w, h);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, stencil_ ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT,
                                  GL_RENDERBUFFER, backDepth_);
        if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE && internal == GL_DEPTH_COMPONENT32) {
            glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, w, h);
        }
    }
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return false;
    // Both buffers start black.
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glStencilMask(0xFF);
    glClearColor(0, 0, 0, 1);
    glClearDepth(1.0);
    glClearStencil(0);
    glClear(GL_COLOR_BUFFER_BIT | (depthStencil_ ? GL_DEPTH_BUFFER_BIT : 0) | (stencil_ ? GL_STENCIL_BUFFER_BIT : 0));
    glBindFramebuffer(GL_FRAMEBUFFER, frontFbo_);
    glClear(GL_COLOR_BUFFER_BIT);
    glBindFramebuffer(GL_FRAMEBUFFER, backFbo_);
    return true;
}

void Device::DestroyTargets() {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (backFbo_) glDeleteFramebuffers(1, &backFbo_);
    if (frontFbo_) glDeleteFramebuffers(1, &frontFbo_);
    if (backColor_) glDeleteTextures(1, &backColor_);
    if (frontColor_) glDeleteTextures(1, &frontColor_);
    if (backDepth_) glDeleteRenderbuffers(1, &backDepth_);
    backFbo_ = frontFbo_ = backColor_ = frontColor_ = backDepth_ = 0;
}

// The switch itself is the window layer's, so that it knows the display's
// geometry reported meanwhile is no size-move of the user's and puts the
// window back on its windowed placement afterwards.
void Device::ApplyFullscreen() {
    const HWND handle = pp_.hDeviceWindow ? pp_.hDeviceWindow : focusWindow_;
    SDL_Window* window = DeviceWindow();
    if (!window) return;
    const bool fullscreen = (SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN) != 0;
    if (pp_.Windowed) {
        if (fullscreen) ZVWin32SetFullscreen(handle, FALSE);
        return;
    }
    SDL_DisplayMode mode = {};
    mode.format = pp_.BackBufferFormat == D3DFMT_R5G6B5 ? SDL_PIXELFORMAT_RGB565 : SDL_PIXELFORMAT_RGB888;
    mode.w = (int)pp_.BackBufferWidth;
    mode.h = (int)pp_.BackBufferHeight;
    mode.refresh_rate = (int)pp_.FullScreen_RefreshRateInHz;
    SDL_SetWindowDisplayMode(window, &mode);
    if (!fullscreen) ZVWin32SetFullscreen(handle, TRUE);
}

void Device::SetDefaultStates() {
    std::memset(renderStates_, 0, sizeof(renderStates_));
    DWORD* rs = renderStates_;
    rs[D3DRS_ZENABLE] = pp_.EnableAutoDepthStencil ? D3DZB_TRUE : D3DZB_FALSE;
    rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
    rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    rs[D3DRS_ZWRITEENABLE] = TRUE;
    rs[D3DRS_LASTPIXEL] = TRUE;
    rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    rs[D3DRS_CULLMODE] = D3DCULL_CCW;
    rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_FOGSTART] = 0;
    rs[D3DRS_FOGEND] = 0x3F800000;   // 1.0f
    rs[D3DRS_FOGDENSITY] = 0x3F800000;
    rs[D3DRS_STENCILFAIL] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILZFAIL] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_STENCILMASK] = 0xFFFFFFFF;
    rs[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFF;
    rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
    rs[D3DRS_CLIPPING] = TRUE;
    rs[D3DRS_LIGHTING] = TRUE;
    rs[D3DRS_COLORVERTEX] = TRUE;
    rs[D3DRS_LOCALVIEWER] = TRUE;
    rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
    rs[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
    rs[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
    rs[D3DRS_POINTSIZE] = 0x3F800000;
    rs[D3DRS_POINTSIZE_MIN] = 0x3F800000;
    rs[D3DRS_POINTSIZE_MAX] = 0x42800000;   // 64.0f
    rs[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
    rs[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFF;
    rs[D3DRS_COLORWRITEENABLE] = 0xF;
    rs[D3DRS_COLORWRITEENABLE1] = 0xF;
    rs[D3DRS_COLORWRITEENABLE2] = 0xF;
    rs[D3DRS_COLORWRITEENABLE3] = 0xF;
    rs[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
    rs[D3DRS_CCW_STENCILFAIL] = D3DSTENCILOP_KEEP;
    rs[D3DRS_CCW_STENCILZFAIL] = D3DSTENCILOP_KEEP;
    rs[D3DRS_CCW_STENCILPASS] = D3DSTENCILOP_KEEP;
    rs[D3DRS_CCW_STENCILFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_BLENDFACTOR] = 0xFFFFFFFF;
    rs[D3DRS_SRCBLENDALPHA] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLENDALPHA] = D3DBLEND_ZERO;
    rs[D3DRS_BLENDOPALPHA] = D3DBLENDOP_ADD;
    for (DWORD s = 0; s < kMaxSamplerSlots; ++s) {
        DWORD* ts = stageStates_[s];
        std::memset(ts, 0, sizeof(stageStates_[s]));
        ts[D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        ts[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        ts[D3DTSS_COLORARG2] = D3DTA_CURRENT;
        ts[D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        ts[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        ts[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        ts[D3DTSS_TEXCOORDINDEX] = s;
        ts[D3DTSS_COLORARG0] = D3DTA_CURRENT;
        ts[D3DTSS_ALPHAARG0] = D3DTA_CURRENT;
        ts[D3DTSS_RESULTARG] = D3DTA_CURRENT;
        DWORD* ss = samplerStates_[s];
        std::memset(ss, 0, sizeof(samplerStates_[s]));
        ss[D3DSAMP_ADDRESSU] = ss[D3DSAMP_ADDRESSV] = ss[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
        ss[D3DSAMP_MAGFILTER] = ss[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        ss[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
        ss[D3DSAMP_MAXANISOTROPY] = 1;
    }
    Identity(&world_);
    Identity(&view_);
    Identity(&projection_);
    for (D3DMATRIX& m : textureTransforms_) Identity(&m);
    viewport_ = {0, 0, pp_.BackBufferWidth, pp_.BackBufferHeight, 0.0f, 1.0f};
    scissor_ = {0, 0, (LONG)pp_.BackBufferWidth, (LONG)pp_.BackBufferHeight};
    std::memset(&material_, 0, sizeof(material_));
    material_.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    lights_.clear();
    fvf_ = 0;
    inScene_ = false;
}

void Device::UnbindAll() {
    for (Stream& s : streams_) {
        VertexBuffer* vb = s.vb;
        s = Stream();
        if (vb) vb->Release();
    }
    if (IndexBuffer* ib = indices_) {
        indices_ = nullptr;
        ib->Release();
    }
    for (Texture*& t : textures_) {
        Texture* old = t;
        t = nullptr;
        if (old) old->Release();
    }
}

// A full-screen device is lost when its focus window stops being the
// application's active, restored window, as the window layer sees it (the
// same the core reads with GetForegroundWindow), and may be reset once the
// window is active again.  Raw focus reports of the windowing system that
// the window layer does not follow (no window manager, a stale report) leave
// the device alone as they leave the window.
void Device::ActivationObserver(void* user) {
    Device* device = static_cast<Device*>(user);
    if (device->pp_.Windowed) return;
    const HWND window = device->focusWindow_ ? device->focusWindow_ : device->pp_.hDeviceWindow;
    const bool active = window && GetForegroundWindow() == window && !IsIconic(window);
    if (!active && device->state_ == kOperational) device->state_ = kLost;
    if (active && device->state_ == kLost) device->state_ = kNotReset;
}

void Device::TestLose() {
    if (state_ == kOperational) state_ = kLost;
}

void Device::TestRegain() {
    if (state_ == kLost) state_ = kNotReset;
}

HRESULT Device::TestCooperativeLevel() {
    switch (state_) {
    case kLost: return D3DERR_DEVICELOST;
    case kNotReset: return D3DERR_DEVICENOTRESET;
    default: return D3D_OK;
    }
}

UINT Device::GetAvailableTextureMem() { return 256u * 1024u * 1024u; }

HRESULT Device::GetDirect3D(IDirect3D9** d3d) {
    if (!d3d) return D3DERR_INVALIDCALL;
    d3d_->AddRef();
    *d3d = d3d_;
    return D3D_OK;
}

HRESULT Device::GetDeviceCaps(D3DCAPS9* caps) {
    if (!caps) return D3DERR_INVALIDCALL;
    FillCaps(adapter_, caps);
    return D3D_OK;
}

HRESULT Device::GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) {
    if (swapChain != 0 || !mode) return D3DERR_INVALIDCALL;
    if (pp_.Windowed) return d3d_->GetAdapterDisplayMode(adapter_, mode);
    mode->Width = pp_.BackBufferWidth;
    mode->Height = pp_.BackBufferHeight;
    mode->RefreshRate = pp_.FullScreen_RefreshRateInHz ? pp_.FullScreen_RefreshRateInHz : 60;
    mode->Format = DisplayFormatForBackBuffer(pp_.BackBufferFormat);
    return D3D_OK;
}

HRESULT Device::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* parameters) {
    if (!parameters) return D3DERR_INVALIDCALL;
    parameters->AdapterOrdinal = adapter_;
    parameters->DeviceType = D3DDEVTYPE_HAL;
    parameters->hFocusWindow = focusWindow_;
    parameters->BehaviorFlags = behavior_;
    return D3D_OK;
}

HRESULT Device::Reset(D3DPRESENT_PARAMETERS* pp) {
    if (!pp) return D3DERR_INVALIDCALL;
    if (state_ == kLost) return D3DERR_DEVICELOST;
    MakeCurrent();
    // Reset unbinds everything; what only the bindings kept alive goes now.
    UnbindAll();
    for (TrackedResource* r : resources_) {
        if (r->trackedPool == D3DPOOL_DEFAULT) {
            state_ = kNotReset;
            return D3DERR_INVALIDCALL;
        }
    }
    D3DPRESENT_PARAMETERS copy = *pp;
    HRESULT hr = ValidatePresentParameters(&copy);
    if (FAILED(hr)) {
        state_ = kNotReset;
        return hr;
    }
    DestroyTargets();
    const D3DPRESENT_PARAMETERS old = pp_;
    pp_ = copy;
    if (!CreateTargets()) {
        DestroyTargets();
        pp_ = old;
        CreateTargets();
        state_ = kNotReset;
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *pp = copy;
    ApplyFullscreen();
    SetDefaultStates();
    state_ = kOperational;
    return D3D_OK;
}

HRESULT Device::Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride, const void*) {
    if (state_ != kOperational) return D3DERR_DEVICELOST;
    if (inScene_) return D3DERR_INVALIDCALL;
    MakeCurrent();
    const GLint w = (GLint)pp_.BackBufferWidth, h = (GLint)pp_.BackBufferHeight;
    glDisable(GL_SCISSOR_TEST);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, backFbo_);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, frontFbo_);
    glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    SDL_Window* window = destWindowOverride ? ZVWin32GetSDLWindow(destWindowOverride) : DeviceWindow();
    if (window && SDL_GL_MakeCurrent(window, context_) == 0) {
        int ww = 0, wh = 0;
        SDL_GL_GetDrawableSize(window, &ww, &wh);
        GLint src[4] = {0, 0, w, h};
        if (sourceRect) ToGLRect(sourceRect->left, sourceRect->top, sourceRect->right, sourceRect->bottom, (UINT)h, src);
        GLint dst[4] = {0, 0, ww, wh};
        if (destRect) ToGLRect(destRect->left, destRect->top, destRect->right, destRect->bottom, (UINT)wh, dst);
        SDL_GL_SetSwapInterval(pp_.PresentationInterval == (UINT)D3DPRESENT_INTERVAL_IMMEDIATE ? 0 : 1);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, frontFbo_);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
        const bool same = src[2] == dst[2] && src[3] == dst[3];
        glBlitFramebuffer(src[0], src[1], src[0] + src[2], src[1] + src[3], dst[0], dst[1], dst[0] + dst[2],
                          dst[1] + dst[3], GL_COLOR_BUFFER_BIT, same ? GL_NEAREST : GL_LINEAR);
        SDL_GL_SwapWindow(window);
        SDL_GL_MakeCurrent(hidden_, context_);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, backFbo_);
    return D3D_OK;
}

static void ReadColor(GLuint fbo, UINT w, UINT h, std::vector<uint8_t>* bgra) {
    bgra->assign((size_t)w * h * 4, 0);
    std::vector<uint8_t> raw((size_t)w * h * 4);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, (GLsizei)w, (GLsizei)h, GL_BGRA, GL_UNSIGNED_BYTE, raw.data());
    for (UINT y = 0; y < h; ++y)
        std::memcpy(bgra->data() + (size_t)y * w * 4, raw.data() + (size_t)(h - 1 - y) * w * 4, (size_t)w * 4);
}

void Device::ReadBackBuffer(std::vector<uint8_t>* bgra) {
    MakeCurrent();
    ReadColor(backFbo_, pp_.BackBufferWidth, pp_.BackBufferHeight, bgra);
    glBindFramebuffer(GL_FRAMEBUFFER, backFbo_);
}

void Device::WriteBackBuffer(const std::vector<uint8_t>& bgra) {
    MakeCurrent();
    const UINT w = pp_.BackBufferWidth, h = pp_.BackBufferHeight;
    if (bgra.size() < (size_t)w * h * 4) return;
    std::vector<uint8_t> flipped(bgra.size());
    for (UINT y = 0; y < h; ++y)
        std::memcpy(flipped.data() + (size_t)y * w * 4, bgra.data() + (size_t)(h - 1 - y) * w * 4, (size_t)w * 4);
    glBindTexture(GL_TEXTURE_2D, backColor_);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, (GLsizei)w, (GLsizei)h, GL_BGRA, GL_UNSIGNED_BYTE, flipped.data());
}

HRESULT Device::GetBackBuffer(UINT swapChain, UINT backBuffer, D3DBACKBUFFER_TYPE, IDirect3DSurface9** surface) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (swapChain != 0 || backBuffer >= pp_.BackBufferCount) return D3DERR_INVALIDCALL;
    Surface* s = new (std::nothrow) Surface(this, Surface::kBackBuffer, pp_.BackBufferWidth, pp_.BackBufferHeight,
                                            pp_.BackBufferFormat, D3DPOOL_DEFAULT);
    if (!s) return E_OUTOFMEMORY;
    *surface = s;
    return D3D_OK;
}

HRESULT Device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DTexture9** texture, void** sharedHandle) {
    if (!texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (sharedHandle || width == 0 || height == 0 || width > 4096 || height > 4096) return D3DERR_INVALIDCALL;
    if (!IsTextureFormat(format)) return D3DERR_INVALIDCALL;
    if (pool > D3DPOOL_SCRATCH) return D3DERR_INVALIDCALL;
    if (usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)) return D3DERR_INVALIDCALL;
    if ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED) return D3DERR_INVALIDCALL;
    UINT maxLevels = 1;
    for (UINT s = std::max(width, height); s > 1; s >>= 1) ++maxLevels;
    if (levels == 0) levels = maxLevels;
    if (levels > maxLevels) return D3DERR_INVALIDCALL;
    MakeCurrent();
    Texture* t = new (std::nothrow) Texture(this, width, height, levels, usage, format, pool);
    if (!t) return E_OUTOFMEMORY;
    *texture = t;
    return D3D_OK;
}

HRESULT Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** vb,
                                   void** sharedHandle) {
    if (!vb) return D3DERR_INVALIDCALL;
    *vb = nullptr;
    if (sharedHandle || length == 0) return D3DERR_INVALIDCALL;
    if (pool > D3DPOOL_SYSTEMMEM) return D3DERR_INVALIDCALL;
    if ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED) return D3DERR_INVALIDCALL;
    if (fvf) {
        FvfLayout layout;
        if (!ComputeFvfLayout(fvf, &layout) || length < layout.stride) return D3DERR_INVALIDCALL;
    }
    MakeCurrent();
    VertexBuffer* b = new (std::nothrow) VertexBuffer(this, length, usage, fvf, pool);
    if (!b) return E_OUTOFMEMORY;
    *vb = b;
    return D3D_OK;
}

HRESULT Device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DIndexBuffer9** ib, void** sharedHandle) {
    if (!ib) return D3DERR_INVALIDCALL;
    *ib = nullptr;
    if (sharedHandle || length == 0) return D3DERR_INVALIDCALL;
    if (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
    if (pool > D3DPOOL_SYSTEMMEM) return D3DERR_INVALIDCALL;
    if ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED) return D3DERR_INVALIDCALL;
    MakeCurrent();
    IndexBuffer* b = new (std::nothrow) IndexBuffer(this, length, usage, format, pool);
    if (!b) return E_OUTOFMEMORY;
    *ib = b;
    return D3D_OK;
}

HRESULT Device::CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                            IDirect3DSurface9** surface, void** sharedHandle) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (sharedHandle || width == 0 || height == 0 || width > 16384 || height > 16384) return D3DERR_INVALIDCALL;
    if (pool == D3DPOOL_MANAGED || pool > D3DPOOL_SCRATCH || !IsTextureFormat(format)) return D3DERR_INVALIDCALL;
    Surface* s = new (std::nothrow) Surface(this, Surface::kOffscreen, width, height, format, pool);
    if (!s) return E_OUTOFMEMORY;
    *surface = s;
    return D3D_OK;
}

HRESULT Device::GetFrontBufferData(UINT swapChain, IDirect3DSurface9* destSurface) {
    if (swapChain != 0 || !destSurface) return D3DERR_INVALIDCALL;
    Surface* dest = static_cast<Surface*>(destSurface);
    if (dest->Format() != D3DFMT_A8R8G8B8 || dest->GetKind() == Surface::kBackBuffer) return D3DERR_INVALIDCALL;
    D3DDISPLAYMODE mode;
    if (FAILED(GetDisplayMode(0, &mode))) return D3DERR_INVALIDCALL;
    if (dest->Width() < mode.Width || dest->Height() < mode.Height) return D3DERR_INVALIDCALL;
    if (state_ != kOperational) return D3DERR_DEVICELOST;
    MakeCurrent();
    std::vector<uint8_t> front;
    const UINT fw = pp_.BackBufferWidth, fh = pp_.BackBufferHeight;
    ReadColor(frontFbo_, fw, fh, &front);
    glBindFramebuffer(GL_FRAMEBUFFER, backFbo_);
    // The front buffer sits where the window's client area is on the desktop.
    int ox = 0, oy = 0;
    if (pp_.Windowed) {
        if (SDL_Window* window = DeviceWindow()) SDL_GetWindowPosition(window, &ox, &oy);
    }
    const UINT dw = dest->Width(), dh = dest->Height();
    D3DLOCKED_RECT locked;
    HRESULT hr = dest->LockRect(&locked, nullptr, 0);
    if (FAILED(hr)) return hr;
    std::vector<uint8_t> row((size_t)dw * 4);
    for (UINT y = 0; y < dh; ++y) {
        for (UINT x = 0; x < dw; ++x) {
            uint8_t* p = &row[(size_t)x * 4];
            const long sx = (long)x - ox, sy = (long)y - oy;
            if (sx >= 0 && sy >= 0 && sx < (long)fw && sy < (long)fh) {
                std::memcpy(p, &front[((size_t)sy * fw + (size_t)sx) * 4], 3);
            } else {
                p[0] = p[1] = p[2] = 0;
            }
            p[3] = 255;
        }
        std::memcpy(static_cast<uint8_t*>(locked.pBits) + (size_t)y * (size_t)locked.Pitch, row.data(), row.size());
    }
    dest->UnlockRect();
    return D3D_OK;
}

HRESULT Device::BeginScene() {
    if (inScene_) return D3DERR_INVALIDCALL;
    inScene_ = true;
    return D3D_OK;
}

HRESULT Device::EndScene() {
    if (!inScene_) return D3DERR_INVALIDCALL;
    inScene_ = false;
    return D3D_OK;
}

HRESULT Device::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
    if ((count > 0 && !rects) || (flags & ~(DWORD)(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)))
        return D3DERR_INVALIDCALL;
    if ((flags & D3DCLEAR_ZBUFFER) && !depthStencil_) return D3DERR_INVALIDCALL;
    if ((flags & D3DCLEAR_STENCIL) && !stencil_) return D3DERR_INVALIDCALL;
    if (state_ != kOperational || flags == 0) return D3D_OK;
    MakeCurrent();
    glBindFramebuffer(GL_FRAMEBUFFER, backFbo_);
    // Clear writes every channel whatever the write masks say.
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glStencilMask(0xFFFFFFFF);
    float c[4];
    ColorToFloats(color, c);
    glClearColor(c[0], c[1], c[2], c[3]);
    glClearDepth(std::min(std::max((double)z, 0.0), 1.0));
    glClearStencil((GLint)(stencil & 0xFF));
    GLbitfield bits = 0;
    if (flags & D3DCLEAR_TARGET) bits |= GL_COLOR_BUFFER_BIT;
    if (flags & D3DCLEAR_ZBUFFER) bits |= GL_DEPTH_BUFFER_BIT;
    if (flags & D3DCLEAR_STENCIL) bits |= GL_STENCIL_BUFFER_BIT;
    LONG bx1 = (LONG)viewport_.X, by1 = (LONG)viewport_.Y;
    LONG bx2 = bx1 + (LONG)viewport_.Width, by2 = by1 + (LONG)viewport_.Height;
    if (renderStates_[D3DRS_SCISSORTESTENABLE]) {
        bx1 = std::max(bx1, scissor_.left);
        by1 = std::max(by1, scissor_.top);
        bx2 = std::min(bx2, scissor_.right);
        by2 = std::min(by2, scissor_.bottom);
    }
    glEnable(GL_SCISSOR_TEST);
    auto clearRect = [&](LONG x1, LONG y1, LONG x2, LONG y2) {
        x1 = std::max(x1, bx1);
        y1 = std::max(y1, by1);
        x2 = std::min(x2, bx2);
        y2 = std::min(y2, by2);
        if (x2 <= x1 || y2 <= y1) return;
        GLint r[4];
        ToGLRect(x1, y1, x2, y2, pp_.BackBufferHeight, r);
        glScissor(r[0], r[1], r[2], r[3]);
        glClear(bits);
    };
    if (count == 0) {
        clearRect(bx1, by1, bx2, by2);
    } else {
        for (DWORD i = 0; i < count; ++i) clearRect(rects[i].x1, rects[i].y1, rects[i].x2, rects[i].y2);
    }
    return D3D_OK;
}

HRESULT Device::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
    if (!matrix) return D3DERR_INVALIDCALL;
    const DWORD s = (DWORD)state;
    if (s == D3DTS_VIEW) view_ = *matrix;
    else if (s == D3DTS_PROJECTION) projection_ = *matrix;
    else if (s == 256) world_ = *matrix;
    else if (s >= D3DTS_TEXTURE0 && s <= D3DTS_TEXTURE7) textureTransforms_[s - D3DTS_TEXTURE0] = *matrix;
    else if (s > 256 && s < 512) return D3D_OK;   // vertex blending matrices are not used
    else return D3DERR_INVALIDCALL;
    return D3D_OK;
}

HRESULT Device::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
    if (!matrix) return D3DERR_INVALIDCALL;
    const DWORD s = (DWORD)state;
    if (s == D3DTS_VIEW) *matrix = view_;
    else if (s == D3DTS_PROJECTION) *matrix = projection_;
    else if (s == 256) *matrix = world_;
    else if (s >= D3DTS_TEXTURE0 && s <= D3DTS_TEXTURE7) *matrix = textureTransforms_[s - D3DTS_TEXTURE0];
    else if (s > 256 && s < 512) Identity(matrix);
    else return D3DERR_INVALIDCALL;
    return D3D_OK;
}

HRESULT Device::SetViewport(const D3DVIEWPORT9* viewport) {
    if (!viewport || viewport->Width == 0 || viewport->Height == 0) return D3DERR_INVALIDCALL;
    if ((uint64_t)viewport->X + viewport->Width > pp_.BackBufferWidth ||
        (uint64_t)viewport->Y + viewport->Height > pp_.BackBufferHeight)
        return D3DERR_INVALIDCALL;
    if (!(viewport->MinZ >= 0.0f && viewport->MaxZ <= 1.0f && viewport->MinZ <= viewport->MaxZ))
        return D3DERR_INVALIDCALL;
    viewport_ = *viewport;
    return D3D_OK;
}

HRESULT Device::GetViewport(D3DVIEWPORT9* viewport) {
    if (!viewport) return D3DERR_INVALIDCALL;
    *viewport = viewport_;
    return D3D_OK;
}

HRESULT Device::SetMaterial(const D3DMATERIAL9* material) {
    if (!material) return D3DERR_INVALIDCALL;
    material_ = *material;
    return D3D_OK;
}

HRESULT Device::GetMaterial(D3DMATERIAL9* material) {
    if (!material) return D3DERR_INVALIDCALL;
    *material = material_;
    return D3D_OK;
}

static D3DLIGHT9 DefaultLight() {
    D3DLIGHT9 l;
    std::memset(&l, 0, sizeof(l));
    l.Type = D3DLIGHT_DIRECTIONAL;
    l.Diffuse = {1.0f, 1.0f, 1.0f, 0.0f};
    l.Direction = {0.0f, 0.0f, 1.0f};
    return l;
}

HRESULT Device::SetLight(DWORD index, const D3DLIGHT9* light) {
    if (!light) return D3DERR_INVALIDCALL;
    if (light->Type < D3DLIGHT_POINT || light->Type > D3DLIGHT_DIRECTIONAL) return D3DERR_INVALIDCALL;
    if (light->Type != D3DLIGHT_DIRECTIONAL) {
        if (!(light->Range >= 0.0f && light->Range <= D3DLIGHT_RANGE_MAX)) return D3DERR_INVALIDCALL;
        if (light->Attenuation0 < 0.0f || light->Attenuation1 < 0.0f || light->Attenuation2 < 0.0f)
            return D3DERR_INVALIDCALL;
    }
    if (light->Type != D3DLIGHT_POINT) {
        const D3DVECTOR& d = light->Direction;
        if (d.x == 0.0f && d.y == 0.0f && d.z == 0.0f) return D3DERR_INVALIDCALL;
    }
    if (light->Type == D3DLIGHT_SPOT && !(light->Theta >= 0.0f && light->Phi >= light->Theta)) return D3DERR_INVALIDCALL;
    lights_[index].light = *light;
    return D3D_OK;
}

HRESULT Device::GetLight(DWORD index, D3DLIGHT9* light) {
    auto it = lights_.find(index);
    if (!light || it == lights_.end()) return D3DERR_INVALIDCALL;
    *light = it->second.light;
    return D3D_OK;
}

HRESULT Device::LightEnable(DWORD index, BOOL enable) {
    auto it = lights_.find(index);
    if (it == lights_.end()) {
        if (!enable) return D3D_OK;
        LightSlot slot;
        slot.light = DefaultLight();
        it = lights_.emplace(index, slot).first;
    }
    if (enable && !it->second.enabled) {
        DWORD active = 0;
        for (const auto& l : lights_) active += l.second.enabled ? 1 : 0;
        if (active >= kMaxActiveLights) return D3DERR_INVALIDCALL;
    }
    it->second.enabled = enable != 0;
    return D3D_OK;
}

HRESULT Device::GetLightEnable(DWORD index, BOOL* enable) {
    auto it = lights_.find(index);
    if (!enable || it == lights_.end()) return D3DERR_INVALIDCALL;
    *enable = it->second.enabled ? TRUE : FALSE;
    return D3D_OK;
}

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if ((DWORD)state >= 256) return D3DERR_INVALIDCALL;
    renderStates_[state] = value;
    return D3D_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    if ((DWORD)state >= 256 || !value) return D3DERR_INVALIDCALL;
    *value = renderStates_[state];
    return D3D_OK;
}

HRESULT Device::GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) {
    if (stage >= kMaxSamplerSlots || !texture) return D3DERR_INVALIDCALL;
    *texture = textures_[stage];
    if (textures_[stage]) textures_[stage]->AddRef();
    return D3D_OK;
}

HRESULT Device::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
    if (stage >= kMaxSamplerSlots) return D3DERR_INVALIDCALL;
    Texture* t = static_cast<Texture*>(texture);
    if (t && !t->Handle()) return D3DERR_INVALIDCALL;   // system-memory textures cannot be sampled
    if (t) t->AddRef();
    Texture* old = textures_[stage];
    textures_[stage] = t;
    if (old) old->Release();
    return D3D_OK;
}

HRESULT Device::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
    if (stage >= kMaxSamplerSlots || (DWORD)type >= 33 || !value) return D3DERR_INVALIDCALL;
    *value = stageStates_[stage][type];
    return D3D_OK;
}

HRESULT Device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    if (stage >= kMaxSamplerSlots || (DWORD)type >= 33) return D3DERR_INVALIDCALL;
    stageStates_[stage][type] = value;
    return D3D_OK;
}

HRESULT Device::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
    if (sampler >= kMaxSamplerSlots || (DWORD)type >= 14 || !value) return D3DERR_INVALIDCALL;
    *value = samplerStates_[sampler][type];
    return D3D_OK;
}

HRESULT Device::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    if (sampler >= kMaxSamplerSlots || (DWORD)type >= 14) return D3DERR_INVALIDCALL;
    samplerStates_[sampler][type] = value;
    return D3D_OK;
}

HRESULT Device::ValidateDevice(DWORD* numPasses) {
    if (!numPasses) return D3DERR_INVALIDCALL;
    *numPasses = 1;
    return D3D_OK;
}

HRESULT Device::SetScissorRect(const RECT* rect) {
    if (!rect || rect->left > rect->right || rect->top > rect->bottom || rect->left < 0 || rect->top < 0)
        return D3DERR_INVALIDCALL;
    scissor_ = *rect;
    return D3D_OK;
}

HRESULT Device::GetScissorRect(RECT* rect) {
    if (!rect) return D3DERR_INVALIDCALL;
    *rect = scissor_;
    return D3D_OK;
}

HRESULT Device::SetFVF(DWORD fvf) {
    if (fvf && !ComputeFvfLayout(fvf, nullptr)) return D3DERR_INVALIDCALL;
    fvf_ = fvf;
    return D3D_OK;
}

HRESULT Device::GetFVF(DWORD* fvf) {
    if (!fvf) return D3DERR_INVALIDCALL;
    *fvf = fvf_;
    return D3D_OK;
}

HRESULT Device::SetVertexShader(IDirect3DVertexShader9* shader) { return shader ? D3DERR_INVALIDCALL : D3D_OK; }

HRESULT Device::SetPixelShader(IDirect3DPixelShader9* shader) { return shader ? D3DERR_INVALIDCALL : D3D_OK; }

HRESULT Device::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* vb, UINT offset, UINT stride) {
    if (stream >= kMaxStreams) return D3DERR_INVALIDCALL;
    VertexBuffer* b = static_cast<VertexBuffer*>(vb);
    if (b) b->AddRef();
    VertexBuffer* old = streams_[stream].vb;
    streams_[stream].vb = b;
    streams_[stream].offset = offset;
    streams_[stream].stride = stride;
    if (old) old->Release();
    return D3D_OK;
}

HRESULT Device::GetStreamSource(UINT stream, IDirect3DVertexBuffer9** vb, UINT* offset, UINT* stride) {
    if (stream >= kMaxStreams || !vb || !offset || !stride) return D3DERR_INVALIDCALL;
    *vb = streams_[stream].vb;
    if (*vb) (*vb)->AddRef();
    *offset = streams_[stream].offset;
    *stride = streams_[stream].stride;
    return D3D_OK;
}

HRESULT Device::SetIndices(IDirect3DIndexBuffer9* ib) {
    IndexBuffer* b = static_cast<IndexBuffer*>(ib);
    if (b) b->AddRef();
    IndexBuffer* old = indices_;
    indices_ = b;
    if (old) old->Release();
    return D3D_OK;
}

HRESULT Device::GetIndices(IDirect3DIndexBuffer9** ib) {
    if (!ib) return D3DERR_INVALIDCALL;
    *ib = indices_;
    if (indices_) indices_->AddRef();
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Drawing
void Device::ApplyState(bool writesNoColour) {
    const DWORD* rs = renderStates_;
    const UINT bh = pp_.BackBufferHeight;
    glBindFramebuffer(GL_FRAMEBUFFER, backFbo_);
    glViewport((GLint)viewport_.X, (GLint)bh - (GLint)(viewport_.Y + viewport_.Height), (GLsizei)viewport_.Width,
               (GLsizei)viewport_.Height);
    glDepthRange(viewport_.MinZ, viewport_.MaxZ);
    switch (rs[D3DRS_FILLMODE]) {
    case D3DFILL_POINT: glPolygonMode(GL_FRONT_AND_BACK, GL_POINT); break;
    case D3DFILL_WIREFRAME: glPolygonMode(GL_FRONT_AND_BACK, GL_LINE); break;
    default: glPolygonMode(GL_FRONT_AND_BACK, GL_FILL); break;
    }
    glFrontFace(GL_CW);
    glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);   // flat shading takes the first vertex, as Direct3D does
    if (rs[D3DRS_CULLMODE] == D3DCULL_CW || rs[D3DRS_CULLMODE] == D3DCULL_CCW) {
        glEnable(GL_CULL_FACE);
        glCullFace(rs[D3DRS_CULLMODE] == D3DCULL_CCW ? GL_BACK : GL_FRONT);
    } else {
        glDisable(GL_CULL_FACE);
    }
    if (rs[D3DRS_ZENABLE] && depthStencil_) {
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(CompareFunc(rs[D3DRS_ZFUNC]));
        glDepthMask(rs[D3DRS_ZWRITEENABLE] ? GL_TRUE : GL_FALSE);
    } else {
        glDisable(GL_DEPTH_TEST);
    }
    if (rs[D3DRS_STENCILENABLE] && stencil_) {
        glEnable(GL_STENCIL_TEST);
        const GLint ref = (GLint)(rs[D3DRS_STENCILREF] & 0xFF);
        const GLuint mask = rs[D3DRS_STENCILMASK];
        glStencilFuncSeparate(GL_FRONT, CompareFunc(rs[D3DRS_STENCILFUNC]), ref, mask);
        glStencilOpSeparate(GL_FRONT, StencilOp(rs[D3DRS_STENCILFAIL]), StencilOp(rs[D3DRS_STENCILZFAIL]),
                            StencilOp(rs[D3DRS_STENCILPASS]));
        if (rs[D3DRS_TWOSIDEDSTENCILMODE]) {
            glStencilFuncSeparate(GL_BACK, CompareFunc(rs[D3DRS_CCW_STENCILFUNC]), ref, mask);
            glStencilOpSeparate(GL_BACK, StencilOp(rs[D3DRS_CCW_STENCILFAIL]), StencilOp(rs[D3DRS_CCW_STENCILZFAIL]),
                                StencilOp(rs[D3DRS_CCW_STENCILPASS]));
        } else {
            glStencilFuncSeparate(GL_BACK, CompareFunc(rs[D3DRS_STENCILFUNC]), ref, mask);
            glStencilOpSeparate(GL_BACK, StencilOp(rs[D3DRS_STENCILFAIL]), StencilOp(rs[D3DRS_STENCILZFAIL]),
                                StencilOp(rs[D3DRS_STENCILPASS]));
        }
        glStencilMask(rs[D3DRS_STENCILWRITEMASK]);
    } else {
        glDisable(GL_STENCIL_TEST);
    }
    const DWORD cw = writesNoColour ? 0 : rs[D3DRS_COLORWRITEENABLE];
    glColorMask((cw & D3DCOLORWRITEENABLE_RED) != 0, (cw & D3DCOLORWRITEENABLE_GREEN) != 0,
                (cw & D3DCOLORWRITEENABLE_BLUE) != 0, (cw & D3DCOLORWRITEENABLE_ALPHA) != 0);
    if (rs[D3DRS_ALPHABLENDENABLE]) {
        glEnable(GL_BLEND);
        auto factors = [](DWORD src, DWORD dst, GLenum* s, GLenum* d) {
            if (src == D3DBLEND_BOTHSRCALPHA) {
                *s = GL_SRC_ALPHA;
                *d = GL_ONE_MINUS_SRC_ALPHA;
            } else if (src == D3DBLEND_BOTHINVSRCALPHA) {
                *s = GL_ONE_MINUS_SRC_ALPHA;
                *d = GL_SRC_ALPHA;
            } else {
                *s = BlendFactor(src);
                *d = BlendFactor(dst);
            }
        };
        GLenum s, d, sa, da;
        factors(rs[D3DRS_SRCBLEND], rs[D3DRS_DESTBLEND], &s, &d);
        GLenum op = BlendOp(rs[D3DRS_BLENDOP]), opa = op;
        if (rs[D3DRS_SEPARATEALPHABLENDENABLE]) {
            factors(rs[D3DRS_SRCBLENDALPHA], rs[D3DRS_DESTBLENDALPHA], &sa, &da);
            opa = BlendOp(rs[D3DRS_BLENDOPALPHA]);
        } else {
            sa = s;
            da = d;
        }
        glBlendFuncSeparate(s, d, sa, da);
        glBlendEquationSeparate(op, opa);
        float bf[4];
        ColorToFloats(rs[D3DRS_BLENDFACTOR], bf);
        glBlendColor(bf[0], bf[1], bf[2], bf[3]);
    } else {
        glDisable(GL_BLEND);
    }
    if (rs[D3DRS_SCISSORTESTENABLE]) {
        glEnable(GL_SCISSOR_TEST);
        GLint r[4];
        ToGLRect(scissor_.left, scissor_.top, scissor_.right, scissor_.bottom, bh, r);
        glScissor(r[0], r[1], std::max(r[2], 0), std::max(r[3], 0));
    } else {
        glDisable(GL_SCISSOR_TEST);
    }
}

// What the fixed-function programs read of a draw, with the lighting switch
// and the enabled lights (in index order) worked out once for it.
DrawState Device::DrawStateFor(const FvfLayout& layout) const {
    DrawState s;
    s.renderStates = renderStates_;
    s.stage0 = stageStates_[0];
    s.texture = textures_[0] != nullptr;
    s.rhw = layout.rhw;
    s.hasColor0 = layout.diffuse >= 0;
    s.hasColor1 = layout.specular >= 0;
    s.world = &world_;
    s.view = &view_;
    s.projection = &projection_;
    s.viewport = &viewport_;
    s.material = &material_;
    s.lighting = renderStates_[D3DRS_LIGHTING] && !layout.rhw;
    if (s.lighting)
        for (const auto& entry : lights_)
            if (entry.second.enabled && s.lightCount < kProgramLights) s.lights[s.lightCount++] = &entry.second.light;
    s.general = generalPrograms_;
    s.colourless = WritesNoColour(renderStates_, generalPrograms_);
    return s;
}

void Device::ApplyTexture() {
    glActiveTexture(GL_TEXTURE0);
    Texture* t = textures_[0];
    if (!t) {
        glBindTexture(GL_TEXTURE_2D, 0);
        return;
    }
    t->UploadUnspecified();
    glBindTexture(GL_TEXTURE_2D, t->Handle());
    const DWORD* ss = samplerStates_[0];
    const bool minLinear = ss[D3DSAMP_MINFILTER] >= D3DTEXF_LINEAR;
    GLenum minFilter = minLinear ? GL_LINEAR : GL_NEAREST;
    if (ss[D3DSAMP_MIPFILTER] == D3DTEXF_POINT)
        minFilter = minLinear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
    else if (ss[D3DSAMP_MIPFILTER] >= D3DTEXF_LINEAR)
        minFilter = minLinear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, (GLint)minFilter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER,
                    ss[D3DSAMP_MAGFILTER] >= D3DTEXF_LINEAR ? GL_LINEAR : GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, (GLint)AddressMode(ss[D3DSAMP_ADDRESSU]));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, (GLint)AddressMode(ss[D3DSAMP_ADDRESSV]));
    float border[4];
    ColorToFloats(ss[D3DSAMP_BORDERCOLOR], border);
    glTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, border);
}

HRESULT Device::PrepareDraw(const FvfLayout& layout, GLuint vertexBuffer, size_t vertexOffset, UINT stride) {
    MakeCurrent();
    const DrawState draw = DrawStateFor(layout);
    ApplyState(draw.colourless);
    programs_.ApplyFixedFunction(draw);
    ApplyTexture();
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer);
    auto at = [&](int offset) { return reinterpret_cast<const void*>(vertexOffset + (size_t)offset); };
    glEnableVertexAttribArray(kPos);
    glVertexAttribPointer(kPos, layout.positionSize, GL_FLOAT, GL_FALSE, (GLsizei)stride, at(0));
    if (layout.normal >= 0 && !layout.rhw) {
        glEnableVertexAttribArray(kNormal);
        glVertexAttribPointer(kNormal, 3, GL_FLOAT, GL_FALSE, (GLsizei)stride, at(layout.normal));
    } else {
        glDisableVertexAttribArray(kNormal);
        glVertexAttrib3f(kNormal, 0.0f, 0.0f, 0.0f);
    }
    if (layout.diffuse >= 0) {
        glEnableVertexAttribArray(kColor0);
        glVertexAttribPointer(kColor0, 4, GL_UNSIGNED_BYTE, GL_TRUE, (GLsizei)stride, at(layout.diffuse));
    } else {
        glDisableVertexAttribArray(kColor0);
        glVertexAttrib4f(kColor0, 1.0f, 1.0f, 1.0f, 1.0f);
    }
    if (layout.specular >= 0) {
        glEnableVertexAttribArray(kColor1);
        glVertexAttribPointer(kColor1, 4, GL_UNSIGNED_BYTE, GL_TRUE, (GLsizei)stride, at(layout.specular));
    } else {
        glDisableVertexAttribArray(kColor1);
        glVertexAttrib4f(kColor1, 0.0f, 0.0f, 0.0f, 0.0f);
    }
    const int set = (int)(stageStates_[0][D3DTSS_TEXCOORDINDEX] & 0xFFFF);
    if (set < layout.texCount) {
        glEnableVertexAttribArray(kTex);
        glVertexAttribPointer(kTex, layout.texSize[set], GL_FLOAT, GL_FALSE, (GLsizei)stride,
                              at(layout.texOffset[set]));
    } else {
        glDisableVertexAttribArray(kTex);
        glVertexAttrib4f(kTex, 0.0f, 0.0f, 0.0f, 1.0f);
    }
    return D3D_OK;
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    uint64_t vertices;
    GLenum mode;
    if (!VerticesForPrimitives(type, primitiveCount, &vertices, &mode) || !inScene_) return D3DERR_INVALIDCALL;
    const Stream& s = streams_[0];
    FvfLayout layout;
    if (!s.vb || !ComputeFvfLayout(fvf_, &layout) || layout.positionSize == 0) return D3DERR_INVALIDCALL;
    const UINT stride = s.stride ? s.stride : layout.stride;
    if (stride < layout.stride) return D3DERR_INVALIDCALL;
    const uint64_t end = (uint64_t)s.offset + ((uint64_t)startVertex + vertices - 1) * stride + layout.stride;
    if (end > s.vb->Length()) return D3DERR_INVALIDCALL;
    if (state_ != kOperational) return D3D_OK;
    PrepareDraw(layout, s.vb->Buffer(), s.offset, stride);
    glDrawArrays(mode, (GLint)startVertex, (GLsizei)vertices);
    return D3D_OK;
}

HRESULT Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex,
                                     UINT numVertices, UINT startIndex, UINT primitiveCount) {
    uint64_t count;
    GLenum mode;
    if (!VerticesForPrimitives(type, primitiveCount, &count, &mode) || !inScene_) return D3DERR_INVALIDCALL;
    const Stream& s = streams_[0];
    FvfLayout layout;
    if (!s.vb || !indices_ || !ComputeFvfLayout(fvf_, &layout) || layout.positionSize == 0)
        return D3DERR_INVALIDCALL;
    const UINT stride = s.stride ? s.stride : layout.stride;
    if (stride < layout.stride) return D3DERR_INVALIDCALL;
    const UINT indexSize = indices_->Format() == D3DFMT_INDEX16 ? 2 : 4;
    if (((uint64_t)startIndex + count) * indexSize > indices_->Length()) return D3DERR_INVALIDCALL;
    (void)minVertexIndex;
    (void)numVertices;
    // Every vertex the indices reach must lie inside the stream.
    const uint64_t available =
        s.vb->Length() >= s.offset + layout.stride ? (s.vb->Length() - s.offset - layout.stride) / stride + 1 : 0;
    uint32_t maxIndex = 0, minIndex = 0xFFFFFFFFu;
    const uint8_t* data = indices_->Data() + (size_t)startIndex * indexSize;
    // Usually the whole buffer is known to fit; otherwise the range is scanned.
    const bool fits = baseVertexIndex >= 0 && (int64_t)baseVertexIndex + indices_->MaxIndex() < (int64_t)available;
    for (uint64_t i = 0; i < (fits ? 0 : count); ++i) {
        uint32_t v;
        if (indexSize == 2) {
            uint16_t v16;
            std::memcpy(&v16, data + i * 2, 2);
            v = v16;
        } else {
            std::memcpy(&v, data + i * 4, 4);
        }
        maxIndex = std::max(maxIndex, v);
        minIndex = std::min(minIndex, v);
    }
    if (!fits && ((int64_t)baseVertexIndex + minIndex < 0 || (int64_t)baseVertexIndex + maxIndex >= (int64_t)available))
        return D3DERR_INVALIDCALL;
    if (state_ != kOperational) return D3D_OK;
    PrepareDraw(layout, s.vb->Buffer(), s.offset, stride);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indices_->Buffer());
    glDrawElementsBaseVertex(mode, (GLsizei)count, indexSize == 2 ? GL_UNSIGNED_SHORT : GL_UNSIGNED_INT,
                             reinterpret_cast<const void*>((size_t)startIndex * indexSize), baseVertexIndex);
    return D3D_OK;
}

HRESULT Device::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertexData,
                                UINT vertexStride) {
    uint64_t vertices;
    GLenum mode;
    if (!VerticesForPrimitives(type, primitiveCount, &vertices, &mode) || !inScene_ || !vertexData)
        return D3DERR_INVALIDCALL;
    FvfLayout layout;
    if (!ComputeFvfLayout(fvf_, &layout) || layout.positionSize == 0 || vertexStride < layout.stride)
        return D3DERR_INVALIDCALL;
    // Direct3D leaves stream 0 unbound after a draw from user memory.
    SetStreamSource(0, nullptr, 0, 0);
    if (state_ != kOperational) return D3D_OK;
    MakeCurrent();
    glBindBuffer(GL_ARRAY_BUFFER, scratchVb_);
    glBufferData(GL_ARRAY_BUFFER, (GLsizeiptr)(vertices * vertexStride), vertexData, GL_STREAM_DRAW);
    PrepareDraw(layout, scratchVb_, 0, vertexStride);
    glDrawArrays(mode, 0, (GLsizei)vertices);
    return D3D_OK;
}

HRESULT Device::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT numVertices,
                                       UINT primitiveCount, const void* indexData, D3DFORMAT indexFormat,
                                       const void* vertexData, UINT vertexStride) {
    uint64_t count;
    GLenum mode;
    if (!VerticesForPrimitives(type, primitiveCount, &count, &mode) || !inScene_ || !indexData || !vertexData)
        return D3DERR_INVALIDCALL;
    if (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
    FvfLayout layout;
    if (!ComputeFvfLayout(fvf_, &layout) || layout.positionSize == 0 || vertexStride < layout.stride)
        return D3DERR_INVALIDCALL;
    const UINT indexSize = indexFormat == D3DFMT_INDEX16 ? 2 : 4;
    const uint8_t* idx = static_cast<const uint8_t*>(indexData);
    const uint64_t limit = (uint64_t)minVertexIndex + numVertices;
    for (uint64_t i = 0; i < count; ++i) {
        uint32_t v;
        if (indexSize == 2) {
            uint16_t v16;
            std::memcpy(&v16, idx + i * 2, 2);
            v = v16;
        } else {
            std::memcpy(&v, idx + i * 4, 4);
        }
        if (v < minVertexIndex || v >= limit) return D3DERR_INVALIDCALL;
    }
    SetStreamSource(0, nullptr, 0, 0);
    SetIndices(nullptr);
    if (state_ != kOperational) return D3D_OK;
    MakeCurrent();
    glBindBuffer(GL_ARRAY_BUFFER, scratchVb_);
    glBufferData(GL_ARRAY_BUFFER, (GLsizeiptr)(limit * vertexStride), vertexData, GL_STREAM_DRAW);
    PrepareDraw(layout, scratchVb_, 0, vertexStride);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, scratchIb_);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, (GLsizeiptr)(count * indexSize), indexData, GL_STREAM_DRAW);
    glDrawElements(mode, (GLsizei)count, indexSize == 2 ? GL_UNSIGNED_SHORT : GL_UNSIGNED_INT, nullptr);
    return D3D_OK;
}

}  // namespace zvd3d9

// ---------------------------------------------------------------------------
// Test hooks
void ZVD3D9TestLoseDevice(IDirect3DDevice9* device) {
    if (device) static_cast<zvd3d9::Device*>(device)->TestLose();
}

void ZVD3D9TestRegainDevice(IDirect3DDevice9* device) {
    if (device) static_cast<zvd3d9::Device*>(device)->TestRegain();
}

void ZVD3D9TestUseGeneralPrograms(IDirect3DDevice9* device, bool general) {
    if (device) static_cast<zvd3d9::Device*>(device)->TestUseGeneralPrograms(general);
}

size_t ZVD3D9TestProgramCount(IDirect3DDevice9* device) {
    return device ? static_cast<zvd3d9::Device*>(device)->TestProgramCount() : 0;
}
