// The fuzz targets' shared pieces.
#include "zvfuzz_support.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "zvd3dx9tex.h"
#include "zvgraphstenshad.h"

namespace zvfuzz {

namespace {

std::string g_dir;

void RemoveWorkDir() {
    if (g_dir.empty()) return;
    if (DIR* d = opendir(g_dir.c_str())) {
        std::vector<std::string> names;
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(d);
        for (const std::string& name : names) std::remove((g_dir + name).c_str());
    }
    rmdir(g_dir.c_str());
}

// An index buffer in memory.
class MemoryIB : public IIndexBuffer {
public:
    explicit MemoryIB(u32 count) : indices_(count), copy_(count) {}
    u32 AddRef() override { return ++ref_; }
    u32 Release() override { return ref_ > 0 ? --ref_ : 0; }  // the manager deletes it
    const String& GetName() override {
        static String name("MemoryIB");
        return name;
    }
    HRESULT Active() override { return S_OK; }
    HRESULT Lock(u16** data, u16** systemCopy) override {
        if (!data || !systemCopy) return E_INVALIDARG;
        *data = indices_.data();
        *systemCopy = copy_.data();
        return S_OK;
    }
    HRESULT Unlock() override { return S_OK; }
    u32 GetNumIndices() override { return (u32)indices_.size(); }
    void Destroy() { delete this; }

private:
    std::vector<u16> indices_, copy_;
    u32 ref_ = 1;
};

// A vertex buffer in memory, sized as the device would size it.
class MemoryVB : public IVertexBuffer {
public:
    MemoryVB(u32 stride, u32 count) : bytes_((size_t)stride * count), positions_(count), count_(count) {}
    u32 AddRef() override { return ++ref_; }
    u32 Release() override { return ref_ > 0 ? --ref_ : 0; }  // the manager deletes it
    const String& GetName() override {
        static String name("MemoryVB");
        return name;
    }
    HRESULT Active(u32) override { return S_OK; }
    HRESULT Lock(void** data, Vector3** positions) override {
        if (!data) return E_INVALIDARG;
        *data = bytes_.data();
        if (positions) *positions = positions_.data();
        return S_OK;
    }
    HRESULT Unlock() override { return S_OK; }
    u32 GetNumVertices() override { return count_; }
    void Destroy() { delete this; }

private:
    std::vector<u8> bytes_;
    std::vector<Vector3> positions_;
    u32 count_;
    u32 ref_ = 1;
};

class NullTexture : public ITexture {
public:
    u32 AddRef() override { return ++ref_; }
    u32 Release() override { return ref_ > 0 ? --ref_ : 0; }
    const String& GetName() override {
        static String name("NullTexture");
        return name;
    }
    HRESULT Active(u32) override { return S_OK; }
    void Destroy() { delete this; }

private:
    u32 ref_ = 1;
};

void Destroy(IInterface* object) {
    if (MemoryVB* vb = dynamic_cast<MemoryVB*>(object)) vb->Destroy();
    else if (MemoryIB* ib = dynamic_cast<MemoryIB*>(object)) ib->Destroy();
    else if (NullTexture* t = dynamic_cast<NullTexture*>(object)) t->Destroy();
}

}  // namespace

const std::string& WorkDir() {
    if (g_dir.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        g_dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/zvfuzz." + std::to_string((long)getpid()) + "/";
        mkdir(g_dir.c_str(), 0700);
        std::atexit(RemoveWorkDir);
    }
    return g_dir;
}

std::string WriteFile(const std::string& name, const void* data, size_t size) {
    const std::string path = WorkDir() + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        std::abort();
    }
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
    return path;
}

FakeGraphics::~FakeGraphics() {
    for (IInterface* object : objects_) Destroy(object);
}

const String& FakeGraphics::GetName() {
    static String name("FakeGraphics");
    return name;
}

HRESULT FakeGraphics::CorrectIndices(u16** indices, u32* count) {
    if (!indices || !*indices || !count || *count < 3) return E_INVALIDARG;
    ZVRemoveDegenerateTriangles(*indices, count);
    return S_OK;
}

HRESULT FakeGraphics::CreateVB(u32 fvf, u32 vertexCount, bool, IVertexBuffer** out) {
    const u32 stride = fvf ? D3DXGetFVFVertexSize(fvf) : 1;
    if (!out || (u64)stride * vertexCount > 0xFFFFFFFFull) return E_INVALIDARG;
    MemoryVB* vb = new MemoryVB(stride, vertexCount);
    objects_.push_back(vb);
    *out = vb;
    return S_OK;
}

HRESULT FakeGraphics::CreateIB(u32 indexCount, bool, IIndexBuffer** out) {
    if (!out || indexCount == 0) return E_INVALIDARG;
    MemoryIB* ib = new MemoryIB(indexCount);
    objects_.push_back(ib);
    *out = ib;
    return S_OK;
}

HRESULT FakeGraphics::CreateTexture(const String&, ITexture** out) {
    if (!out) return E_INVALIDARG;
    NullTexture* texture = new NullTexture;
    objects_.push_back(texture);
    *out = texture;
    return S_OK;
}

}  // namespace zvfuzz
