// Fixture of the 3DS model tests: a core with its window, the real graphics
// and visibility managers, a scratch folder on the search path for the .3ds
// files and textures our writers make, log capture, and readers for the
// model's buffers and for screenshots.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "model3ds.h"
#include "toolkit3ds.h"
#include "zv3dswriter.h"
#include "render_support.h"
#include "zvcore.h"
#include "zvgraphicsd3d9.h"
#include "zvimagewriters.h"

namespace m3dstest {

using zvrendertest::Bitmap;
using zvrendertest::Blue;
using zvrendertest::Contains;
using zvrendertest::Count;
using zvrendertest::Green;
using zvrendertest::ReadBmp;
using zvrendertest::Red;

// The scope and message of every warning and error entry of a log, in
// order: "[scope] Error : \"message\"" (time and source position left out).
inline std::vector<std::string> Entries(const std::string& log) {
    std::vector<std::string> out;
    for (size_t at = log.find("\n["); at != std::string::npos; at = log.find("\n[", at + 1)) {
        size_t end = log.find("\"\nAt ", at);
        size_t next = log.find("\n[", at + 1);
        if (end == std::string::npos || (next != std::string::npos && next < end)) continue;
        out.push_back(log.substr(at + 1, end + 1 - (at + 1)));
    }
    return out;
}

inline Vector3 V(float x, float y, float z) { return Vector3(x, y, z); }

// A square in the file's plane y = y0 (z up), seen turning counter-clockwise
// from -y: the engine puts it in the plane z = y0 facing the camera at -z.
inline zvtools::Mesh3ds QuadFacingMinusY(const std::string& name, float x0, float x1, float z0, float z1, float y0,
                                         const std::string& material) {
    zvtools::Mesh3ds m;
    m.name = name;
    m.vertices = {x0, y0, z0, x1, y0, z0, x1, y0, z1, x0, y0, z1};
    m.texCoords = {0, 0, 1, 0, 1, 1, 0, 1};
    m.faces = {0, 1, 2, 7, 0, 2, 3, 7};
    if (!material.empty()) m.groups.push_back(zvtools::MatGroup3ds{material, {0, 1}});
    return m;
}

// A square in the file's plane z = 0 facing up (+z), the engine's floor.
inline zvtools::Mesh3ds Floor(const std::string& name, float half, const std::string& material) {
    zvtools::Mesh3ds m;
    m.name = name;
    m.vertices = {-half, -half, 0, half, -half, 0, half, half, 0, -half, half, 0};
    m.texCoords = {0, 0, 1, 0, 1, 1, 0, 1};
    m.faces = {0, 1, 2, 7, 0, 2, 3, 7};
    if (!material.empty()) m.groups.push_back(zvtools::MatGroup3ds{material, {0, 1}});
    return m;
}

// A material without specular light, so that colours stay predictable.
inline zvtools::Material3ds Matte(const std::string& name, uint8_t r, uint8_t g, uint8_t b,
                                  const std::string& texture = "") {
    zvtools::Material3ds m;
    m.name = name;
    m.ambient[0] = r;
    m.ambient[1] = g;
    m.ambient[2] = b;
    m.diffuse[0] = r;
    m.diffuse[1] = g;
    m.diffuse[2] = b;
    m.specular[0] = m.specular[1] = m.specular[2] = 0;
    m.texture = texture;
    return m;
}


class Model3DSTest : public zvrendertest::FrameFixture {
protected:
    void SetUp() override {
        ClearErrors3ds();
        ZVTestCaptureLog(&log);
        saved = Paths;
        Paths.count = 0;
        dir = std::string(GetExeDir().c_str()) + "model3dsdata/";
        mkdir(dir.c_str(), 0755);
        Paths.Add(String(dir.c_str()));
        OpenCore("model3ds test");
    }
    void TearDown() override {
        for (IGeometry* g : geometries) g->Release();
        geometries.clear();
        CloseCore();
        Paths = saved;
        ClearErrors3ds();
    }
    std::string Write(const std::string& name, const zvtools::Scene3ds& scene) {
        EXPECT_TRUE(zvtools::WriteScene3ds(dir + name, scene));
        return dir + name;
    }
    // A width x height TGA of texels given as 0xRRGGBB, top row first.
    void WriteTexture(const std::string& name, int width, int height, const std::vector<uint32_t>& rgb) {
        std::vector<uint8_t> bgra;
        for (uint32_t c : rgb) bgra.insert(bgra.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), 255});
        EXPECT_TRUE(zvtools::WriteTGA(dir + name, width, height, bgra.data()));
    }
    // CreateGeometry("3ds", file); the instance is released by TearDown.
    Model3DS* Load(const std::string& file, HRESULT expected = S_OK) {
        IGeometry* g = nullptr;
        HRESULT hr = graphics->CreateGeometry("3ds", file.c_str(), &g);
        EXPECT_EQ(hr, expected) << log;
        if (hr < 0 || !g) return nullptr;
        geometries.push_back(g);
        Model3DS* m = dynamic_cast<Model3DS*>(g);
        EXPECT_NE(m, nullptr);
        return m;
    }
    void Drop(IGeometry* g) {
        for (size_t i = 0; i < geometries.size(); ++i) {
            if (geometries[i] == g) geometries.erase(geometries.begin() + (long)i);
        }
        g->Release();
    }
    // The vertices as the loader wrote them (the buffer is locked once more).
    std::vector<Model3DSMeta::Vertex> Vertices(Model3DSMeta* meta) {
        std::vector<Model3DSMeta::Vertex> out;
        void* data = nullptr;
        if (meta->pVB->Lock(&data, nullptr) < 0 || !data) return out;
        const auto* v = static_cast<const Model3DSMeta::Vertex*>(data);
        out.assign(v, v + meta->pVB->GetNumVertices());
        meta->pVB->Unlock();
        return out;
    }
    std::vector<u16> Indices(Model3DSMeta* meta) {
        const ZVGraphics::IB* ib = static_cast<const ZVGraphics::IB*>(meta->pIB);
        return std::vector<u16>(ib->pIndices, ib->pIndices + ib->nIndices);
    }
    uint32_t PixelOf(const Bitmap& bmp, const Vector3& p) {
        int x, y;
        Project(p, &x, &y);
        if (x < 0 || y < 0 || x >= bmp.width || y >= bmp.height) return 0xDEADBEEF;
        return bmp.At(x, y);
    }
    // Draws one frame and reads it back through a screenshot.
    Bitmap Frame(const char* name) {
        Bitmap bmp;
        EXPECT_EQ(graphics->UpdateAndRender(0.01f), S_OK) << log;
        EXPECT_EQ(graphics->SaveScreenshot(name), S_OK);
        EXPECT_TRUE(ReadBmp(name, &bmp));
        std::remove(name);
        return bmp;
    }

    std::string dir;
    Vector<String> saved;
    std::vector<IGeometry*> geometries;
};

}  // namespace m3dstest
