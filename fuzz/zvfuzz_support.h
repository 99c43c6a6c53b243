// Shared by the fuzz targets: the input handed to readers that take file
// names, and a graphics manager stand-in for the model readers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "zvgraphics.h"

namespace zvfuzz {

// A directory of this process under $TMPDIR or /tmp ("/tmp/zvfuzz.<pid>/"),
// removed with everything in it when the process exits normally.
const std::string& WorkDir();

// Writes bytes to WorkDir() + name (the same file on every call with the
// same name) and returns its full path.
std::string WriteFile(const std::string& name, const void* data, size_t size);
inline std::string WriteFile(const std::string& name, const std::string& text) {
    return WriteFile(name, text.data(), text.size());
}

// What the readers need from the graphics manager: buffers in memory,
// textures that are never loaded, degenerate triangles removed as the
// engine removes them.  Objects live until the manager goes.
class FakeGraphics : public IGraphics {
public:
    FakeGraphics() = default;
    ~FakeGraphics();

    u32 AddRef() override { return ++ref_; }
    u32 Release() override { return ref_ > 0 ? --ref_ : 0; }
    const String& GetName() override;

    HRESULT CorrectIndices(u16** indices, u32* count) override;
    HRESULT CreateVB(u32 fvf, u32 vertexCount, bool dynamic, IVertexBuffer** out) override;
    HRESULT CreateIB(u32 indexCount, bool dynamic, IIndexBuffer** out) override;
    HRESULT CreateTexture(const String& fileName, ITexture** out) override;

private:
    FakeGraphics(const FakeGraphics&) = delete;
    FakeGraphics& operator=(const FakeGraphics&) = delete;

    u32 ref_ = 1;
    std::vector<IInterface*> objects_;  // deleted with the manager
};

}  // namespace zvfuzz
