// Vertex and index buffers, textures and surfaces.
//
// Every resource keeps a system-memory copy of its contents: Lock hands out
// a pointer into it and Unlock uploads what was written (a DISCARD lock
// re-specifies the whole GL buffer, orphaning the old storage).  Resources
// hold a reference on their device, as Direct3D's do; when the device is
// destroyed first, the resources left are cut loose (their GL objects go with
// the context) and only their memory remains until their last Release.
#include <algorithm>
#include <cstring>

#include "zvd3d9internal.h"

namespace zvd3d9 {

namespace {

// Link of a new resource to its device.
void Attach(Device* device, TrackedResource* resource, D3DPOOL pool, bool track) {
    resource->trackedPool = pool;
    device->AddRef();
    if (track) device->Track(resource);
}

// A resource is going away: unlink it, and give back its device reference
// unless the device itself is being destroyed.
void Detach(Device* device, TrackedResource* resource) {
    if (!device) return;
    device->Untrack(resource);
    if (!device->Dying()) device->Release();
}

HRESULT GetDeviceOf(Device* device, IDirect3DDevice9** out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = device;
    if (!device) return D3DERR_INVALIDCALL;
    device->AddRef();
    return D3D_OK;
}

bool ValidRect(const RECT* rect, UINT width, UINT height) {
    return !rect || (rect->left >= 0 && rect->top >= 0 && rect->left < rect->right && rect->top < rect->bottom &&
                     (UINT)rect->right <= width && (UINT)rect->bottom <= height);
}

// Shared Lock bookkeeping of both buffer kinds.
HRESULT LockRange(std::vector<uint8_t>& data, UINT offset, UINT size, DWORD flags, void** out, int* locks,
                  bool* discard, bool* dirty, UINT* begin, UINT* end) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = nullptr;
    const UINT length = (UINT)data.size();
    if (offset > length) return D3DERR_INVALIDCALL;
    if (size == 0) size = length - offset;
    if ((uint64_t)offset + size > length) return D3DERR_INVALIDCALL;
    ++*locks;
    if (flags & D3DLOCK_DISCARD) *discard = true;
    if (!(flags & D3DLOCK_READONLY) && size > 0) {
        if (!*dirty) {
            *begin = offset;
            *end = offset + size;
            *dirty = true;
        } else {
            *begin = std::min(*begin, offset);
            *end = std::max(*end, offset + size);
        }
    }
    *out = data.data() + offset;
    return D3D_OK;
}

void Upload(Device* device, GLenum target, GLuint buffer, const std::vector<uint8_t>& data, bool discard,
            UINT begin, UINT end, bool dynamic) {
    if (!device || !buffer) return;
    device->MakeCurrent();
    glBindBuffer(target, buffer);
    if (discard)
        glBufferData(target, (GLsizeiptr)data.size(), data.data(), dynamic ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW);
    else
        glBufferSubData(target, (GLintptr)begin, (GLsizeiptr)(end - begin), data.data() + begin);
}

}  // namespace

// ---------------------------------------------------------------------------
VertexBuffer::VertexBuffer(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool)
    : device_(device), usage_(usage), fvf_(fvf), data_(length, 0) {
    Attach(device, this, pool, true);
    if (pool != D3DPOOL_SYSTEMMEM) {
        glGenBuffers(1, &buffer_);
        glBindBuffer(GL_ARRAY_BUFFER, buffer_);
        glBufferData(GL_ARRAY_BUFFER, (GLsizeiptr)length, data_.data(),
                     (usage & D3DUSAGE_DYNAMIC) ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW);
    }
}

VertexBuffer::~VertexBuffer() {
    if (device_) {
        device_->MakeCurrent();
        if (buffer_) glDeleteBuffers(1, &buffer_);
    }
    Detach(device_, this);
}

void VertexBuffer::Orphan() {
    if (buffer_) glDeleteBuffers(1, &buffer_);
    buffer_ = 0;
    device_ = nullptr;
}

HRESULT VertexBuffer::QueryInterface(REFIID, void** object) {
    if (object) *object = nullptr;
    return E_NOINTERFACE;
}

ULONG VertexBuffer::AddRef() { return ++ref_; }

ULONG VertexBuffer::Release() {
    if (ref_ == 0) return 0;
    if (--ref_ == 0) {
        delete this;
        return 0;
    }
    return ref_;
}

HRESULT VertexBuffer::GetDevice(IDirect3DDevice9** device) { return GetDeviceOf(device_, device); }

DWORD VertexBuffer::SetPriority(DWORD priority) {
    const DWORD old = priority_;
    priority_ = priority;
    return old;
}

DWORD VertexBuffer::GetPriority() { return priority_; }

HRESULT VertexBuffer::Lock(UINT offset, UINT size, void** data, DWORD flags) {
    if (!(usage_ & D3DUSAGE_DYNAMIC)) flags &= ~(DWORD)(D3DLOCK_DISCARD | D3DLOCK_NOOVERWRITE);
    return LockRange(data_, offset, size, flags, data, &locks_, &discard_, &dirty_, &dirtyBegin_, &dirtyEnd_);
}

HRESULT VertexBuffer::Unlock() {
    if (locks_ == 0) return D3DERR_INVALIDCALL;
    if (--locks_ > 0) return D3D_OK;
    if (dirty_ || discard_)
        Upload(device_, GL_ARRAY_BUFFER, buffer_, data_, discard_, dirtyBegin_, dirtyEnd_,
               (usage_ & D3DUSAGE_DYNAMIC) != 0);
    dirty_ = discard_ = false;
    return D3D_OK;
}

HRESULT VertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    desc->Format = D3DFMT_VERTEXDATA;
    desc->Type = D3DRTYPE_VERTEXBUFFER;
    desc->Usage = usage_;
    desc->Pool = trackedPool;
    desc->Size = (UINT)data_.size();
    desc->FVF = fvf_;
    return D3D_OK;
}

// ---------------------------------------------------------------------------
IndexBuffer::IndexBuffer(Device* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool)
    : device_(device), usage_(usage), format_(format), data_(length, 0) {
    Attach(device, this, pool, true);
    if (pool != D3DPOOL_SYSTEMMEM) {
        glGenBuffers(1, &buffer_);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffer_);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, (GLsizeiptr)length, data_.data(),
                     (usage & D3DUSAGE_DYNAMIC) ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW);
    }
}

IndexBuffer::~IndexBuffer() {
    if (device_) {
        device_->MakeCurrent();
        if (buffer_) glDeleteBuffers(1, &buffer_);
    }
    Detach(device_, this);
}

void IndexBuffer::Orphan() {
    if (buffer_) glDeleteBuffers(1, &buffer_);
    buffer_ = 0;
    device_ = nullptr;
}

HRESULT IndexBuffer::QueryInterface(REFIID, void** object) {
    if (object) *object = nullptr;
    return E_NOINTERFACE;
}

ULONG IndexBuffer::AddRef() { return ++ref_; }

ULONG IndexBuffer::Release() {
    if (ref_ == 0) return 0;
    if (--ref_ == 0) {
        delete this;
        return 0;
    }
    return ref_;
}

HRESULT IndexBuffer::GetDevice(IDirect3DDevice9** device) { return GetDeviceOf(device_, device); }

DWORD IndexBuffer::SetPriority(DWORD priority) {
    const DWORD old = priority_;
    priority_ = priority;
    return old;
}

DWORD IndexBuffer::GetPriority() { return priority_; }

HRESULT IndexBuffer::Lock(UINT offset, UINT size, void** data, DWORD flags) {
    if (!(usage_ & D3DUSAGE_DYNAMIC)) flags &= ~(DWORD)(D3DLOCK_DISCARD | D3DLOCK_NOOVERWRITE);
    return LockRange(data_, offset, size, flags, data, &locks_, &discard_, &dirty_, &dirtyBegin_, &dirtyEnd_);
}

HRESULT IndexBuffer::Unlock() {
    if (locks_ == 0) return D3DERR_INVALIDCALL;
    if (--locks_ > 0) return D3D_OK;
    if (dirty_ || discard_) {
        Upload(device_, GL_ELEMENT_ARRAY_BUFFER, buffer_, data_, discard_, dirtyBegin_, dirtyEnd_,
               (usage_ & D3DUSAGE_DYNAMIC) != 0);
        UpdateMaxIndex();
    }
    dirty_ = discard_ = false;
    return D3D_OK;
}

void IndexBuffer::UpdateMaxIndex() {
    uint32_t m = 0;
    if (format_ == D3DFMT_INDEX16) {
        for (size_t i = 0; i + 2 <= data_.size(); i += 2) {
            uint16_t v;
            std::memcpy(&v, &data_[i], 2);
            m = std::max<uint32_t>(m, v);
        }
    } else {
        for (size_t i = 0; i + 4 <= data_.size(); i += 4) {
            uint32_t v;
            std::memcpy(&v, &data_[i], 4);
            m = std::max(m, v);
        }
    }
    maxIndex_ = m;
}

HRESULT IndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    desc->Format = format_;
    desc->Type = D3DRTYPE_INDEXBUFFER;
    desc->Usage = usage_;
    desc->Pool = trackedPool;
    desc->Size = (UINT)data_.size();
    return D3D_OK;
}

// ---------------------------------------------------------------------------
Texture::Texture(Device* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool)
    : device_(device), usage_(usage), format_(format) {
    Attach(device, this, pool, true);
    FormatInfo info;
    GetFormatInfo(format, &info);
    levels_.resize(levels);
    UINT w = width, h = height;
    for (Level& l : levels_) {
        l.width = w;
        l.height = h;
        l.pitch = w * info.bytes;
        l.data.assign((size_t)l.pitch * h, 0);
        w = std::max(1u, w / 2);
        h = std::max(1u, h / 2);
    }
    if (pool == D3DPOOL_DEFAULT || pool == D3DPOOL_MANAGED) {
        glGenTextures(1, &texture_);
        glBindTexture(GL_TEXTURE_2D, texture_);
        // Each level gets its GL image at its first upload (see UploadLevel).
        unspecified_ = levels;
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, (GLint)levels - 1);
        if (info.alphaOne) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_A, GL_ONE);
    }
}

Texture::~Texture() {
    for (Level& l : levels_) delete l.surface;
    if (device_) {
        device_->MakeCurrent();
        if (texture_) glDeleteTextures(1, &texture_);
    }
    Detach(device_, this);
}

void Texture::Orphan() {
    if (texture_) glDeleteTextures(1, &texture_);
    texture_ = 0;
    device_ = nullptr;
}

HRESULT Texture::QueryInterface(REFIID, void** object) {
    if (object) *object = nullptr;
    return E_NOINTERFACE;
}

ULONG Texture::AddRef() { return ++ref_; }

ULONG Texture::Release() {
    if (ref_ == 0) return 0;
    if (--ref_ == 0) {
        delete this;
        return 0;
    }
    return ref_;
}

HRESULT Texture::GetDevice(IDirect3DDevice9** device) { return GetDeviceOf(device_, device); }

DWORD Texture::SetPriority(DWORD priority) {
    const DWORD old = priority_;
    priority_ = priority;
    return old;
}

DWORD Texture::GetPriority() { return priority_; }

DWORD Texture::SetLOD(DWORD lod) {
    const DWORD old = lod_;
    if (trackedPool == D3DPOOL_MANAGED) lod_ = std::min<DWORD>(lod, (DWORD)levels_.size() - 1);
    return old;
}

HRESULT Texture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
    if (!desc || level >= levels_.size()) return D3DERR_INVALIDCALL;
    desc->Format = format_;
    desc->Type = D3DRTYPE_SURFACE;
    desc->Usage = usage_;
    desc->Pool = trackedPool;
    desc->MultiSampleType = D3DMULTISAMPLE_NONE;
    desc->MultiSampleQuality = 0;
    desc->Width = levels_[level].width;
    desc->Height = levels_[level].height;
    return D3D_OK;
}

HRESULT Texture::GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (level >= levels_.size()) return D3DERR_INVALIDCALL;
    Level& l = levels_[level];
    if (!l.surface) l.surface = new Surface(device_, Surface::kTextureLevel, l.width, l.height, format_, trackedPool,
                                            this, level);
    AddRef();
    *surface = l.surface;
    return D3D_OK;
}

HRESULT Texture::LockRect(UINT level, D3DLOCKED_RECT* lockedRect, const RECT* rect, DWORD flags) {
    if (!lockedRect || level >= levels_.size()) return D3DERR_INVALIDCALL;
    Level& l = levels_[level];
    if (l.locked || !ValidRect(rect, l.width, l.height)) return D3DERR_INVALIDCALL;
    FormatInfo info;
    GetFormatInfo(format_, &info);
    const size_t offset = rect ? (size_t)rect->top * l.pitch + (size_t)rect->left * info.bytes : 0;
    lockedRect->Pitch = (INT)l.pitch;
    lockedRect->pBits = l.data.data() + offset;
    l.locked = true;
    l.lockFlags = flags;
    return D3D_OK;
}

HRESULT Texture::UnlockRect(UINT level) {
    if (level >= levels_.size() || !levels_[level].locked) return D3DERR_INVALIDCALL;
    levels_[level].locked = false;
    if (!(levels_[level].lockFlags & D3DLOCK_READONLY)) UploadLevel(level);
    return D3D_OK;
}

void Texture::UploadLevel(UINT level) {
    if (!device_ || !texture_ || level >= levels_.size()) return;
    FormatInfo info;
    GetFormatInfo(format_, &info);
    device_->MakeCurrent();
    glBindTexture(GL_TEXTURE_2D, texture_);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    Level& l = levels_[level];
    if (l.specified) {
        glTexSubImage2D(GL_TEXTURE_2D, (GLint)level, 0, 0, (GLsizei)l.width, (GLsizei)l.height, info.glFormat,
                        info.glType, l.data.data());
    } else {
        glTexImage2D(GL_TEXTURE_2D, (GLint)level, (GLint)info.internal, (GLsizei)l.width, (GLsizei)l.height, 0,
                     info.glFormat, info.glType, l.data.data());
        l.specified = true;
        --unspecified_;
    }
}

void Texture::UploadUnspecified() {
    for (UINT i = 0; unspecified_ > 0 && i < levels_.size(); ++i)
        if (!levels_[i].specified) UploadLevel(i);
}

// ---------------------------------------------------------------------------
Surface::Surface(Device* device, Kind kind, UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                 Texture* texture, UINT level)
    : device_(device), kind_(kind), width_(width), height_(height), format_(format), texture_(texture),
      level_(level) {
    if (kind_ != kTextureLevel) {
        Attach(device, this, pool, true);
        FormatInfo info;
        GetFormatInfo(format, &info);
        if (kind_ == kOffscreen) memory_.assign((size_t)width * height * info.bytes, 0);
    } else {
        trackedPool = pool;
    }
}

Surface::~Surface() {
    if (kind_ != kTextureLevel) Detach(device_, this);
}

void Surface::Orphan() { device_ = nullptr; }

HRESULT Surface::QueryInterface(REFIID, void** object) {
    if (object) *object = nullptr;
    return E_NOINTERFACE;
}

// A texture's level shares the texture's count.
ULONG Surface::AddRef() {
    if (kind_ == kTextureLevel) return texture_->AddRef();
    return ++ref_;
}

ULONG Surface::Release() {
    if (kind_ == kTextureLevel) return texture_->Release();
    if (ref_ == 0) return 0;
    if (--ref_ == 0) {
        delete this;
        return 0;
    }
    return ref_;
}

HRESULT Surface::GetDevice(IDirect3DDevice9** device) {
    if (kind_ == kTextureLevel) return texture_->GetDevice(device);
    return GetDeviceOf(device_, device);
}

HRESULT Surface::GetDesc(D3DSURFACE_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    if (kind_ == kTextureLevel) return texture_->GetLevelDesc(level_, desc);
    desc->Format = format_;
    desc->Type = D3DRTYPE_SURFACE;
    desc->Usage = kind_ == kBackBuffer ? D3DUSAGE_RENDERTARGET : 0;
    desc->Pool = trackedPool;
    desc->MultiSampleType = D3DMULTISAMPLE_NONE;
    desc->MultiSampleQuality = 0;
    desc->Width = width_;
    desc->Height = height_;
    return D3D_OK;
}

HRESULT Surface::LockRect(D3DLOCKED_RECT* lockedRect, const RECT* rect, DWORD flags) {
    if (kind_ == kTextureLevel) return texture_->LockRect(level_, lockedRect, rect, flags);
    if (!lockedRect || locked_ || !ValidRect(rect, width_, height_)) return D3DERR_INVALIDCALL;
    FormatInfo info;
    GetFormatInfo(format_, &info);
    if (kind_ == kBackBuffer) {
        if (!device_) return D3DERR_INVALIDCALL;
        std::vector<uint8_t> bgra;
        device_->ReadBackBuffer(&bgra);
        memory_.assign((size_t)width_ * height_ * info.bytes, 0);
        for (UINT y = 0; y < height_; ++y)
            RowFromBGRA(format_, bgra.data() + (size_t)y * width_ * 4, memory_.data() + (size_t)y * width_ * info.bytes,
                        width_);
    }
    const size_t pitch = (size_t)width_ * info.bytes;
    const size_t offset = rect ? (size_t)rect->top * pitch + (size_t)rect->left * info.bytes : 0;
    lockedRect->Pitch = (INT)pitch;
    lockedRect->pBits = memory_.data() + offset;
    locked_ = true;
    lockFlags_ = flags;
    return D3D_OK;
}

HRESULT Surface::UnlockRect() {
    if (kind_ == kTextureLevel) return texture_->UnlockRect(level_);
    if (!locked_) return D3DERR_INVALIDCALL;
    locked_ = false;
    if (kind_ == kBackBuffer && device_ && !(lockFlags_ & D3DLOCK_READONLY)) {
        FormatInfo info;
        GetFormatInfo(format_, &info);
        std::vector<uint8_t> bgra((size_t)width_ * height_ * 4);
        for (UINT y = 0; y < height_; ++y)
            RowToBGRA(format_, memory_.data() + (size_t)y * width_ * info.bytes, bgra.data() + (size_t)y * width_ * 4,
                      width_);
        device_->WriteBackBuffer(bgra);
    }
    if (kind_ == kBackBuffer) {
        memory_.clear();
        memory_.shrink_to_fit();
    }
    return D3D_OK;
}

bool Surface::ReadBGRA(const RECT& rect, std::vector<uint8_t>* out) {
    if (!ValidRect(&rect, width_, height_)) return false;
    D3DLOCKED_RECT locked;
    if (FAILED(LockRect(&locked, &rect, D3DLOCK_READONLY))) return false;
    const UINT w = (UINT)(rect.right - rect.left), h = (UINT)(rect.bottom - rect.top);
    out->assign((size_t)w * h * 4, 0);
    for (UINT y = 0; y < h; ++y)
        RowToBGRA(format_, static_cast<const uint8_t*>(locked.pBits) + (size_t)y * (size_t)locked.Pitch,
                  out->data() + (size_t)y * w * 4, w);
    UnlockRect();
    return true;
}

}  // namespace zvd3d9
