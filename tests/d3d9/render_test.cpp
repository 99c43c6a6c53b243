// Device creation, clear / present / front-buffer reads and drawing: the
// fixed-function results are compared with Direct3D 9's formulas.
#include <array>
#include <cmath>
#include <vector>

#include "d3d9_support.h"
#include "zvdesktop.h"

namespace {

using d3d9test::ColorNear;
using d3d9test::D3D9Test;
using d3d9test::kPlainFvf;
using d3d9test::kScreenFvf;
using d3d9test::kVertexFvf;
using d3d9test::PlainVertex;
using d3d9test::ScreenVertex;
using d3d9test::Vertex;

TEST_F(D3D9Test, WindowedDeviceTakesTheClientSize) {
    RECT client;
    ASSERT_TRUE(GetClientRect(window_, &client));
    EXPECT_EQ(pp_.BackBufferWidth, (UINT)(client.right - client.left));
    EXPECT_EQ(pp_.BackBufferHeight, (UINT)(client.bottom - client.top));
    EXPECT_EQ(pp_.BackBufferCount, 1u);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK);
    D3DCAPS9 caps;
    ASSERT_EQ(device_->GetDeviceCaps(&caps), D3D_OK);
    EXPECT_EQ(caps.MaxActiveLights, 8u);
    D3DVIEWPORT9 vp;
    ASSERT_EQ(device_->GetViewport(&vp), D3D_OK);
    EXPECT_EQ(vp.Width, pp_.BackBufferWidth);
    DWORD value = 0;
    device_->GetRenderState(D3DRS_CULLMODE, &value);
    EXPECT_EQ(value, (DWORD)D3DCULL_CCW);
    device_->GetRenderState(D3DRS_ZENABLE, &value);
    EXPECT_EQ(value, (DWORD)D3DZB_TRUE);
}

TEST_F(D3D9Test, CreationRefusesBadArguments) {
    IDirect3DDevice9* other = nullptr;
    D3DPRESENT_PARAMETERS pp = WindowedParameters();
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, window_, 0, &pp, &other), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, window_,
                                 D3DCREATE_PUREDEVICE | D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &other),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_REF, window_, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &other),
              D3DERR_NOTAVAILABLE);
    pp.AutoDepthStencilFormat = D3DFMT_D15S1;
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, window_, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &other),
              D3DERR_INVALIDCALL);
    pp = WindowedParameters();
    pp.Windowed = FALSE;
    pp.BackBufferWidth = 1234;
    pp.BackBufferHeight = 567;
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, window_, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &other),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(other, nullptr);
}

TEST_F(D3D9Test, ClearPresentAndFrontBufferShowTheColour) {
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xFF336699, 1.0f, 0),
              D3D_OK);
    EXPECT_EQ(Center() & 0xFFFFFF, 0x336699u);
    ASSERT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    // Drawing the next frame does not change the front buffer.
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0), D3D_OK);

    D3DDISPLAYMODE mode;
    ASSERT_EQ(d3d_->GetAdapterDisplayMode(0, &mode), D3D_OK);
    IDirect3DSurface9* surface = nullptr;
    ASSERT_EQ(device_->CreateOffscreenPlainSurface(mode.Width, mode.Height, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, &surface,
                                                   nullptr),
              D3D_OK);
    ASSERT_EQ(device_->GetFrontBufferData(0, surface), D3D_OK);
    POINT origin = {0, 0};
    ClientToScreen(window_, &origin);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(surface->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    auto at = [&](LONG x, LONG y) {
        uint32_t v;
        std::memcpy(&v, static_cast<uint8_t*>(locked.pBits) + (size_t)y * (size_t)locked.Pitch + (size_t)x * 4, 4);
        return v;
    };
    EXPECT_EQ(at(origin.x + 5, origin.y + 5), 0xFF336699u);
    EXPECT_EQ(at(origin.x + (LONG)pp_.BackBufferWidth - 1, origin.y + (LONG)pp_.BackBufferHeight - 1), 0xFF336699u);
    surface->UnlockRect();
    surface->Release();

    IDirect3DSurface9* small = nullptr;
    ASSERT_EQ(device_->CreateOffscreenPlainSurface(8, 8, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, &small, nullptr), D3D_OK);
    EXPECT_EQ(device_->GetFrontBufferData(0, small), D3DERR_INVALIDCALL);
    small->Release();
}

TEST_F(D3D9Test, ClearIgnoresWriteMasksAndHonoursRectangles) {
    device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
    device_->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device_->SetRenderState(D3DRS_STENCILWRITEMASK, 0);
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF102030, 1.0f, 0), D3D_OK);
    EXPECT_EQ(Center() & 0xFFFFFF, 0x102030u);
    D3DRECT rect = {0, 0, 10, 10};
    ASSERT_EQ(device_->Clear(1, &rect, D3DCLEAR_TARGET, 0xFFFF0000, 1.0f, 0), D3D_OK);
    EXPECT_EQ(Pixel(2, 2) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(Pixel(12, 12) & 0xFFFFFF, 0x102030u);
    EXPECT_EQ(device_->Clear(1, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3DERR_INVALIDCALL);
}

TEST_F(D3D9Test, UnlitVerticesUseTheirColourAndWhiteWithout) {
    SetCamera();
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    DrawList(Quad(1.0f, 5.0f, 0xFF20C040), kVertexFvf);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_TRUE(ColorNear(Center(), 0x20 / 255.0f, 0xC0 / 255.0f, 0x40 / 255.0f, 0));

    std::vector<PlainVertex> plain;
    for (const Vertex& v : Quad(1.0f, 5.0f, 0)) plain.push_back({v.x, v.y, v.z, v.nx, v.ny, v.nz});
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    DrawList(plain, kPlainFvf);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_EQ(Center() & 0xFFFFFF, 0xFFFFFFu);
    // Outside the quad the clear colour stays.
    EXPECT_EQ(Pixel(1, 1) & 0xFFFFFF, 0u);
}

// Direct3D 9's vertex lighting of one vertex by one point light.
struct Expected {
    float r, g, b;
};

Expected D3DLighting(const D3DMATERIAL9& m, const D3DLIGHT9& l, D3DCOLOR globalAmbient, const float P[3],
                     const float N[3], bool specular) {
    float d[3] = {l.Position.x - P[0], l.Position.y - P[1], l.Position.z - P[2]};
    const float dist = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    float L[3] = {d[0] / dist, d[1] / dist, d[2] / dist};
    float atten = dist > l.Range ? 0.0f
                                 : 1.0f / (l.Attenuation0 + l.Attenuation1 * dist + l.Attenuation2 * dist * dist);
    if (l.Type == D3DLIGHT_SPOT) {
        const float dl = std::sqrt(l.Direction.x * l.Direction.x + l.Direction.y * l.Direction.y +
                                   l.Direction.z * l.Direction.z);
        const float rho = -(L[0] * l.Direction.x + L[1] * l.Direction.y + L[2] * l.Direction.z) / dl;
        const float cosTheta = std::cos(l.Theta / 2), cosPhi = std::cos(l.Phi / 2);
        atten *= rho > cosTheta ? 1.0f : rho <= cosPhi ? 0.0f : std::pow((rho - cosPhi) / (cosTheta - cosPhi), l.Falloff);
    }
    const float ndl = std::max(0.0f, N[0] * L[0] + N[1] * L[1] + N[2] * L[2]);
    float V[3] = {-P[0], -P[1], -P[2]};
    const float vl = std::sqrt(V[0] * V[0] + V[1] * V[1] + V[2] * V[2]);
    float H[3] = {V[0] / vl + L[0], V[1] / vl + L[1], V[2] / vl + L[2]};
    const float hl = std::sqrt(H[0] * H[0] + H[1] * H[1] + H[2] * H[2]);
    const float ndh = std::max(0.0f, (N[0] * H[0] + N[1] * H[1] + N[2] * H[2]) / hl);
    const float specularTerm = (specular && ndl > 0.0f) ? std::pow(ndh, m.Power) : 0.0f;
    const float ga[3] = {((globalAmbient >> 16) & 255) / 255.0f, ((globalAmbient >> 8) & 255) / 255.0f,
                         (globalAmbient & 255) / 255.0f};
    const float ma[3] = {m.Ambient.r, m.Ambient.g, m.Ambient.b}, md[3] = {m.Diffuse.r, m.Diffuse.g, m.Diffuse.b},
                ms[3] = {m.Specular.r, m.Specular.g, m.Specular.b}, me[3] = {m.Emissive.r, m.Emissive.g, m.Emissive.b};
    const float la[3] = {l.Ambient.r, l.Ambient.g, l.Ambient.b}, ld[3] = {l.Diffuse.r, l.Diffuse.g, l.Diffuse.b},
                ls[3] = {l.Specular.r, l.Specular.g, l.Specular.b};
    float out[3];
    for (int c = 0; c < 3; ++c) {
        const float diffuse = std::min(1.0f, me[c] + ma[c] * (ga[c] + la[c] * atten) + md[c] * ld[c] * ndl * atten);
        const float s = std::min(1.0f, ms[c] * ls[c] * specularTerm * atten);
        out[c] = std::min(1.0f, diffuse + s);
    }
    return {out[0], out[1], out[2]};
}

class LightingTest : public D3D9Test {
protected:
    void SetUp() override {
        D3D9Test::SetUp();
        if (HasFatalFailure()) return;
        SetCamera();
        std::memset(&material_, 0, sizeof(material_));
        material_.Diffuse = {0.8f, 0.6f, 0.4f, 1.0f};
        material_.Ambient = {0.5f, 0.5f, 0.5f, 1.0f};
        material_.Specular = {0.7f, 0.7f, 0.7f, 1.0f};
        material_.Emissive = {0.05f, 0.0f, 0.1f, 0.0f};
        material_.Power = 8.0f;
        std::memset(&light_, 0, sizeof(light_));
        light_.Type = D3DLIGHT_POINT;
        light_.Diffuse = {1.0f, 0.9f, 0.8f, 1.0f};
        light_.Specular = {1.0f, 1.0f, 1.0f, 1.0f};
        light_.Ambient = {0.2f, 0.1f, 0.3f, 1.0f};
        light_.Position = {0.0f, 0.0f, 1.0f};
        light_.Range = 10.0f;
        light_.Attenuation0 = 0.5f;
        light_.Attenuation1 = 0.1f;
        light_.Attenuation2 = 0.02f;
    }

    // The quad's corners are equidistant from the light on its axis, so every
    // vertex gets the same colour and the centre pixel shows it unchanged.
    uint32_t DrawLitQuad(bool specular) {
        device_->SetRenderState(D3DRS_LIGHTING, TRUE);
        device_->SetRenderState(D3DRS_SPECULARENABLE, specular ? TRUE : FALSE);
        device_->SetRenderState(D3DRS_AMBIENT, kAmbient);
        EXPECT_EQ(device_->SetMaterial(&material_), D3D_OK);
        EXPECT_EQ(device_->SetLight(3, &light_), D3D_OK);
        EXPECT_EQ(device_->LightEnable(3, TRUE), D3D_OK);
        std::vector<PlainVertex> plain;
        for (const Vertex& v : Quad(1.0f, 5.0f, 0)) plain.push_back({v.x, v.y, v.z, v.nx, v.ny, v.nz});
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        EXPECT_EQ(device_->BeginScene(), D3D_OK);
        DrawList(plain, kPlainFvf);
        EXPECT_EQ(device_->EndScene(), D3D_OK);
        return Center();
    }

    // Draws quad alone in a cleared frame, its normals renormalised or not.
    void DrawWithNormalising(const std::vector<PlainVertex>& quad, BOOL normalise) {
        device_->SetRenderState(D3DRS_NORMALIZENORMALS, normalise);
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        EXPECT_EQ(device_->BeginScene(), D3D_OK);
        DrawList(quad, kPlainFvf);
        EXPECT_EQ(device_->EndScene(), D3D_OK);
    }

    static constexpr D3DCOLOR kAmbient = 0xFF202830;
    D3DMATERIAL9 material_;
    D3DLIGHT9 light_;
    const float corner_[3] = {1.0f, 1.0f, 5.0f};
    const float normal_[3] = {0.0f, 0.0f, -1.0f};
};

TEST_F(LightingTest, PointLightDiffuseAndAmbientMatchDirect3D) {
    const uint32_t got = DrawLitQuad(false);
    const Expected e = D3DLighting(material_, light_, kAmbient, corner_, normal_, false);
    EXPECT_TRUE(ColorNear(got, e.r, e.g, e.b));
}

TEST_F(LightingTest, SpecularOnlyWhenEnabled) {
    const uint32_t withSpecular = DrawLitQuad(true);
    const Expected e = D3DLighting(material_, light_, kAmbient, corner_, normal_, true);
    EXPECT_TRUE(ColorNear(withSpecular, e.r, e.g, e.b));
    const Expected plain = D3DLighting(material_, light_, kAmbient, corner_, normal_, false);
    EXPECT_GT(e.r - plain.r, 0.02f);   // the case really has a highlight
}

TEST_F(LightingTest, RangeCutsTheLightOff) {
    light_.Range = 4.0f;   // the corners are 4.24 away
    const uint32_t got = DrawLitQuad(true);
    const Expected e = D3DLighting(material_, light_, kAmbient, corner_, normal_, true);
    EXPECT_TRUE(ColorNear(got, e.r, e.g, e.b));
    // Only emissive and the global ambient remain.
    EXPECT_TRUE(ColorNear(got, 0.05f + 0.5f * 0x20 / 255.0f, 0.5f * 0x28 / 255.0f, 0.1f + 0.5f * 0x30 / 255.0f));
}

TEST_F(LightingTest, SpotLightConeMatchesDirect3D) {
    light_.Type = D3DLIGHT_SPOT;
    light_.Direction = {0.0f, 0.0f, 1.0f};
    light_.Theta = 30.0f * 3.14159265f / 180.0f;   // the corners are 19.5 degrees off the axis
    light_.Phi = 60.0f * 3.14159265f / 180.0f;
    light_.Falloff = 2.0f;
    const uint32_t got = DrawLitQuad(true);
    const Expected e = D3DLighting(material_, light_, kAmbient, corner_, normal_, true);
    EXPECT_TRUE(ColorNear(got, e.r, e.g, e.b));
    light_.Phi = light_.Theta = 20.0f * 3.14159265f / 180.0f;   // outside the cone
    const uint32_t dark = DrawLitQuad(true);
    EXPECT_TRUE(ColorNear(dark, 0.05f + 0.5f * 0x20 / 255.0f, 0.5f * 0x28 / 255.0f, 0.1f + 0.5f * 0x30 / 255.0f));
}

TEST_F(LightingTest, DirectionalLightTakesTheVertexColourAsDiffuseMaterial) {
    D3DLIGHT9 sun;
    std::memset(&sun, 0, sizeof(sun));
    sun.Type = D3DLIGHT_DIRECTIONAL;
    sun.Diffuse = {0.5f, 1.0f, 1.0f, 1.0f};
    sun.Direction = {0.0f, 0.0f, 2.0f};   // away from the camera, onto the quad
    device_->SetRenderState(D3DRS_LIGHTING, TRUE);
    device_->SetRenderState(D3DRS_AMBIENT, 0);
    EXPECT_EQ(device_->SetMaterial(&material_), D3D_OK);
    EXPECT_EQ(device_->SetLight(0, &sun), D3D_OK);
    EXPECT_EQ(device_->LightEnable(0, TRUE), D3D_OK);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    DrawList(Quad(1.0f, 5.0f, 0xFF80C0FF), kVertexFvf);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    // Diffuse from the vertex colour (D3DMCS_COLOR1), emissive from the material.
    EXPECT_TRUE(ColorNear(Center(), 0.05f + 0.5f * 0x80 / 255.0f, 0xC0 / 255.0f, 0.1f + 1.0f));
    // With D3DRS_COLORVERTEX off the material's diffuse is used.
    device_->SetRenderState(D3DRS_COLORVERTEX, FALSE);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    DrawList(Quad(1.0f, 5.0f, 0xFF80C0FF), kVertexFvf);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_TRUE(ColorNear(Center(), 0.05f + 0.5f * 0.8f, 0.6f, 0.1f + 0.4f));
}

// A world matrix that scales turns normals by its inverse transpose, as
// Direct3D does: they keep their direction across a uniform scale and lean
// towards the stretched axis's plane under a non-uniform one, and come out
// 1/s as long.  With D3DRS_NORMALIZENORMALS they are made unit length after
// that transform; without, the light they catch scales with them.
TEST_F(LightingTest, ScalingWorldNormalsFollowTheInverseTransposeAndAreNormalised) {
    struct Case {
        const char* name;
        float scale[3];  // the world matrix's diagonal; it also moves the quad to z = 5
    };
    const Case cases[] = {
        {"unscaled", {1, 1, 1}},        {"scaled by 20", {20, 20, 20}}, {"scaled by 0.01", {0.01f, 0.01f, 0.01f}},
        {"stretched in y", {1, 4, 1}}, {"the arena's mirror and stretch", {3, -15, 3}},
    };
    const float normal[3] = {0.0f, 0.6f, -0.8f};  // leaning up, out of the quad towards the camera
    D3DLIGHT9 sun = {};
    sun.Type = D3DLIGHT_DIRECTIONAL;
    sun.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    sun.Direction = {0.0f, -0.6f, 0.8f};  // light towards -L = (0, 0.6, -0.8)
    D3DMATERIAL9 grey = {};
    grey.Diffuse = {0.5f, 0.5f, 0.5f, 1.0f};
    device_->SetRenderState(D3DRS_LIGHTING, TRUE);
    device_->SetRenderState(D3DRS_AMBIENT, 0);
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);  // a mirror turns the quad's winding round
    ASSERT_EQ(device_->SetMaterial(&grey), D3D_OK);
    ASSERT_EQ(device_->SetLight(0, &sun), D3D_OK);
    ASSERT_EQ(device_->LightEnable(0, TRUE), D3D_OK);
    for (const Case& c : cases) {
        // The quad's model size shrinks as the matrix grows, so that it
        // covers the centre of the screen at every scale.
        const float hx = 2.0f / std::fabs(c.scale[0]), hy = 2.0f / std::fabs(c.scale[1]);
        std::vector<PlainVertex> quad;
        for (const Vertex& v : Quad(1.0f, 0.0f, 0))
            quad.push_back({v.x * hx, v.y * hy, 0.0f, normal[0], normal[1], normal[2]});
        D3DMATRIX world = Identity();
        world._11 = c.scale[0];
        world._22 = c.scale[1];
        world._33 = c.scale[2];
        world._43 = 5.0f;
        ASSERT_EQ(device_->SetTransform(D3DTS_WORLD, &world), D3D_OK);
        // Row vectors: n times the inverse transpose of a diagonal matrix is n / s per axis.
        float turned[3], length = 0.0f;
        for (int i = 0; i < 3; ++i) {
            turned[i] = normal[i] / c.scale[i];
            length += turned[i] * turned[i];
        }
        length = std::sqrt(length);
        const float towardsLight[3] = {0.0f, 0.6f, -0.8f};
        float ndl = 0.0f;
        for (int i = 0; i < 3; ++i) ndl += turned[i] * towardsLight[i];
        for (BOOL normalise : {TRUE, FALSE}) {
            DrawWithNormalising(quad, normalise);
            const float lit = std::min(1.0f, 0.5f * std::max(0.0f, normalise ? ndl / length : ndl));
            EXPECT_TRUE(ColorNear(Center(), lit, lit, lit)) << c.name << (normalise ? ", normalised" : ", as they are");
        }
    }
    device_->SetRenderState(D3DRS_NORMALIZENORMALS, FALSE);
}

// One factor of a world or view matrix, as a row-vector 3x3 matrix: a scale
// along the axes, or a turn by a degrees about the x, y or z axis.
struct Factor {
    char kind;  // 's', 'x', 'y' or 'z'
    double a, b = 1.0, c = 1.0;
};
using Mat3 = std::array<std::array<double, 3>, 3>;
using Vec3 = std::array<double, 3>;
enum class Taken { kItself, kInverse, kInverseTranspose };

// The factor's matrix, its inverse or its inverse transpose: a scale's
// inverse transpose is 1/s along each axis, a turn's is the turn itself.
Mat3 FactorMatrix(const Factor& f, Taken taken) {
    Mat3 m = {};
    if (f.kind == 's') {
        const double s[3] = {f.a, f.b, f.c};
        for (int i = 0; i < 3; ++i) m[i][i] = taken == Taken::kItself ? s[i] : 1.0 / s[i];
        return m;
    }
    const int axis = f.kind - 'x', u = (axis + 1) % 3, v = (axis + 2) % 3;
    const double angle = f.a * 3.14159265358979 / 180.0;
    const double sine = taken == Taken::kInverse ? -std::sin(angle) : std::sin(angle);
    m[axis][axis] = 1.0;
    m[u][u] = m[v][v] = std::cos(angle);
    m[u][v] = sine;
    m[v][u] = -sine;
    return m;
}

// Row vector v times each factor's matrix (taken as said) in turn.
Vec3 Turn(Vec3 v, const std::vector<Factor>& factors, Taken taken) {
    for (const Factor& f : factors) {
        const Mat3 m = FactorMatrix(f, taken);
        Vec3 r = {};
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) r[j] += v[k] * m[k][j];
        v = r;
    }
    return v;
}

// The product of the factors with a translation, as Direct3D takes it.
D3DMATRIX Compose(const std::vector<Factor>& factors, float tz) {
    D3DMATRIX m = {};
    for (int i = 0; i < 3; ++i) {
        Vec3 row = {};
        row[i] = 1.0;
        row = Turn(row, factors, Taken::kItself);
        for (int j = 0; j < 3; ++j) m.m[i][j] = (float)row[j];
    }
    m._43 = tz;
    m._44 = 1.0f;
    return m;
}

double Dot(const Vec3& a, const Vec3& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// A world that stretches and turns has an inverse transpose unlike both
// itself and its inverse, and with a turned camera the normals must be
// turned by the inverse transpose of world times view, in that order, to
// meet the lights in camera space.  Row vectors: the inverse transpose of a
// product is the product of the factors' inverse transposes, in order.
TEST_F(LightingTest, StretchedAndTurnedWorldsTurnNormalsByTheInverseTransposeOfWorldAndView) {
    struct Case {
        const char* name;
        std::vector<Factor> world, view;  // the view also moves the model's origin to z = 5
    };
    const Case cases[] = {
        {"stretched along x, then turned about z", {{'s', 3, 1, 1}, {'z', 40}}, {}},
        {"turned about x, then stretched along y", {{'x', 30}, {'s', 1, 2.5, 1}}, {}},
        {"squashed and turned about z, seen by a camera turned about y", {{'s', 0.5, 2, 1}, {'z', -35}}, {{'y', 25}}},
    };
    const Vec3 normal = {0.36, 0.48, -0.8};
    D3DLIGHT9 sun = {};
    sun.Type = D3DLIGHT_DIRECTIONAL;
    sun.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    sun.Direction = {0.0f, 0.48f, 0.8f};
    D3DMATERIAL9 grey = {};
    grey.Diffuse = {0.5f, 0.5f, 0.5f, 1.0f};
    device_->SetRenderState(D3DRS_LIGHTING, TRUE);
    device_->SetRenderState(D3DRS_AMBIENT, 0);
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    ASSERT_EQ(device_->SetMaterial(&grey), D3D_OK);
    ASSERT_EQ(device_->SetLight(0, &sun), D3D_OK);
    ASSERT_EQ(device_->LightEnable(0, TRUE), D3D_OK);
    // The model's origin is seen at the centre of the screen, inside the quad.
    std::vector<PlainVertex> quad;
    for (const Vertex& v : Quad(3.0f, 0.0f, 0))
        quad.push_back({v.x, v.y, 0.0f, (float)normal[0], (float)normal[1], (float)normal[2]});
    for (const Case& c : cases) {
        const D3DMATRIX world = Compose(c.world, 0.0f), view = Compose(c.view, 5.0f);
        ASSERT_EQ(device_->SetTransform(D3DTS_WORLD, &world), D3D_OK);
        ASSERT_EQ(device_->SetTransform(D3DTS_VIEW, &view), D3D_OK);
        std::vector<Factor> worldView = c.world;
        worldView.insert(worldView.end(), c.view.begin(), c.view.end());
        const Vec3 turned = Turn(normal, worldView, Taken::kInverseTranspose);
        const double sunLength = std::sqrt(0.48 * 0.48 + 0.8 * 0.8);
        const Vec3 towardsLight = Turn({0.0, -0.48 / sunLength, -0.8 / sunLength}, c.view, Taken::kItself);
        auto lit = [&](const Vec3& n, bool normalise) {
            const double ndl = Dot(n, towardsLight) / (normalise ? std::sqrt(Dot(n, n)) : 1.0);
            return (float)std::min(1.0, 0.5 * std::max(0.0, ndl));
        };
        // The case tells the inverse transpose from the matrix itself and
        // from its inverse (the factors' inverses in reverse order).
        const std::vector<Factor> reversed(worldView.rbegin(), worldView.rend());
        EXPECT_GT(std::fabs(lit(Turn(normal, worldView, Taken::kItself), true) - lit(turned, true)), 0.05f) << c.name;
        EXPECT_GT(std::fabs(lit(Turn(normal, reversed, Taken::kInverse), true) - lit(turned, true)), 0.05f) << c.name;
        for (BOOL normalise : {TRUE, FALSE}) {
            DrawWithNormalising(quad, normalise);
            const float expected = lit(turned, normalise);
            EXPECT_TRUE(ColorNear(Center(), expected, expected, expected))
                << c.name << (normalise ? ", normalised" : ", as they are");
        }
    }
}

TEST_F(LightingTest, DisabledLightAndNinthLight) {
    EXPECT_EQ(device_->SetLight(3, &light_), D3D_OK);
    for (DWORD i = 0; i < 8; ++i) EXPECT_EQ(device_->LightEnable(10 + i, TRUE), D3D_OK);
    EXPECT_EQ(device_->LightEnable(3, TRUE), D3DERR_INVALIDCALL);
    for (DWORD i = 0; i < 8; ++i) EXPECT_EQ(device_->LightEnable(10 + i, FALSE), D3D_OK);
    D3DLIGHT9 bad = light_;
    bad.Range = -1.0f;
    EXPECT_EQ(device_->SetLight(0, &bad), D3DERR_INVALIDCALL);
}

TEST_F(D3D9Test, DepthTestKeepsTheNearerSurface) {
    SetCamera();
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    DrawList(Quad(1.0f, 3.0f, 0xFFFF0000), kVertexFvf);
    DrawList(Quad(2.0f, 6.0f, 0xFF0000FF), kVertexFvf);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_EQ(Center() & 0xFFFFFF, 0xFF0000u);
    // Without depth writes the later surface wins.
    device_->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    DrawList(Quad(1.0f, 3.0f, 0xFFFF0000), kVertexFvf);
    DrawList(Quad(2.0f, 6.0f, 0xFF0000FF), kVertexFvf);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_EQ(Center() & 0xFFFFFF, 0x0000FFu);
}

TEST_F(D3D9Test, CullingRemovesCounterClockwiseFacesByDefault) {
    SetCamera();
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    DrawList(Quad(1.0f, 5.0f, 0xFF00FF00, true), kVertexFvf);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_EQ(Center() & 0xFFFFFF, 0u);
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    DrawList(Quad(1.0f, 5.0f, 0xFFFF0000, false), kVertexFvf);
    DrawList(Quad(1.0f, 5.0f, 0xFF00FF00, true), kVertexFvf);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_EQ(Center() & 0xFFFFFF, 0x00FF00u);
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    DrawList(Quad(1.0f, 5.0f, 0xFF0000FF, true), kVertexFvf);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_EQ(Center() & 0xFFFFFF, 0x0000FFu);
}

std::vector<ScreenVertex> ScreenQuad(float x1, float y1, float x2, float y2, DWORD color) {
    return {{x1, y1, 0.5f, 1.0f, color, 0.0f, 0.0f}, {x2, y1, 0.5f, 1.0f, color, 1.0f, 0.0f},
            {x1, y2, 0.5f, 1.0f, color, 0.0f, 1.0f}, {x2, y1, 0.5f, 1.0f, color, 1.0f, 0.0f},
            {x2, y2, 0.5f, 1.0f, color, 1.0f, 1.0f}, {x1, y2, 0.5f, 1.0f, color, 0.0f, 1.0f}};
}

TEST_F(D3D9Test, PreTransformedVerticesAreInPixels) {
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    DrawList(ScreenQuad(10.0f, 20.0f, 30.0f, 40.0f, 0xFFFFFF00), kScreenFvf);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    std::vector<uint32_t> p = ReadBack();
    auto at = [&](int x, int y) { return p[(size_t)y * pp_.BackBufferWidth + (size_t)x] & 0xFFFFFF; };
    EXPECT_EQ(at(10, 20), 0xFFFF00u);
    EXPECT_EQ(at(29, 39), 0xFFFF00u);
    EXPECT_EQ(at(20, 30), 0xFFFF00u);
    EXPECT_EQ(at(30, 30), 0u);
    EXPECT_EQ(at(20, 40), 0u);
    EXPECT_EQ(at(9, 30), 0u);
    EXPECT_EQ(at(20, 19), 0u);
}

TEST_F(D3D9Test, TexturedQuadSamplesTheRightTexel) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device_->CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    const uint32_t texels[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};
    std::memcpy(locked.pBits, texels, 8);
    std::memcpy(static_cast<uint8_t*>(locked.pBits) + locked.Pitch, texels + 2, 8);
    ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
    ASSERT_EQ(device_->SetTexture(0, texture), D3D_OK);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    // Vertex colour grey: MODULATE halves every texel.
    DrawList(ScreenQuad(0.0f, 0.0f, 40.0f, 40.0f, 0xFF808080), kScreenFvf);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    std::vector<uint32_t> p = ReadBack();
    auto at = [&](int x, int y) { return p[(size_t)y * pp_.BackBufferWidth + (size_t)x]; };
    EXPECT_TRUE(ColorNear(at(10, 10), 0.5f, 0.0f, 0.0f));
    EXPECT_TRUE(ColorNear(at(30, 10), 0.0f, 0.5f, 0.0f));
    EXPECT_TRUE(ColorNear(at(10, 30), 0.0f, 0.0f, 0.5f));
    EXPECT_TRUE(ColorNear(at(30, 30), 0.5f, 0.5f, 0.5f));
    // SELECTARG1 shows the texel itself.
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    DrawList(ScreenQuad(0.0f, 0.0f, 40.0f, 40.0f, 0xFF808080), kScreenFvf);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_EQ(Pixel(30, 10) & 0xFFFFFF, 0x00FF00u);
    ASSERT_EQ(device_->SetTexture(0, nullptr), D3D_OK);
    EXPECT_EQ(texture->Release(), 0u);
}

// Levels never written still reach GL: a mip-filtered texture whose level 1
// was never locked is complete and samples its level 0.
TEST_F(D3D9Test, MipFilteredTextureWithOnlyItsTopLevelWrittenSamplesIt) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device_->CreateTexture(2, 2, 2, 0, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &texture, nullptr), D3D_OK);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    const uint8_t red[4] = {0, 0, 255, 255};
    for (int i = 0; i < 4; ++i)
        std::memcpy(static_cast<uint8_t*>(locked.pBits) + i / 2 * locked.Pitch + i % 2 * 4, red, 4);
    ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
    ASSERT_EQ(device_->SetTexture(0, texture), D3D_OK);
    device_->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    DrawList(ScreenQuad(0.0f, 0.0f, 40.0f, 40.0f, 0xFFFFFFFF), kScreenFvf);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_EQ(Pixel(20, 20) & 0xFFFFFF, 0xFF0000u);
    ASSERT_EQ(device_->SetTexture(0, nullptr), D3D_OK);
    EXPECT_EQ(texture->Release(), 0u);
}

TEST_F(D3D9Test, TwoSidedStencilWrapsBothWays) {
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->SetRenderState(D3DRS_ZENABLE, FALSE);
    device_->SetRenderState(D3DRS_STENCILENABLE, TRUE);
    device_->SetRenderState(D3DRS_TWOSIDEDSTENCILMODE, TRUE);
    device_->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
    device_->SetRenderState(D3DRS_CCW_STENCILFUNC, D3DCMP_ALWAYS);
    device_->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_INCR);
    device_->SetRenderState(D3DRS_CCW_STENCILPASS, D3DSTENCILOP_DECR);
    device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
    SetCamera();
    auto countIs = [&](DWORD ref) {
        device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
        device_->SetRenderState(D3DRS_TWOSIDEDSTENCILMODE, FALSE);
        device_->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
        device_->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
        device_->SetRenderState(D3DRS_STENCILREF, ref);
        device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        EXPECT_EQ(device_->BeginScene(), D3D_OK);
        DrawList(Quad(1.0f, 5.0f, 0xFFFFFFFF), kVertexFvf);
        EXPECT_EQ(device_->EndScene(), D3D_OK);
        return (Center() & 0xFFFFFF) == 0xFFFFFFu;
    };
    // A counter-clockwise face decrements 0 to 255.
    device_->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 0);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    DrawList(Quad(1.0f, 5.0f, 0xFFFFFFFF, true), kVertexFvf);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_TRUE(countIs(255));
    EXPECT_FALSE(countIs(0));
    // A clockwise face increments 255 to 0; two more make 2.
    device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
    device_->SetRenderState(D3DRS_TWOSIDEDSTENCILMODE, TRUE);
    device_->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
    device_->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_INCR);
    device_->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 255);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    DrawList(Quad(1.0f, 5.0f, 0xFFFFFFFF), kVertexFvf);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_TRUE(countIs(0));
}

TEST_F(D3D9Test, AdditiveBlendingAddsColours) {
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->SetRenderState(D3DRS_ZENABLE, FALSE);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF204060, 1.0f, 0);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    DrawList(ScreenQuad(0.0f, 0.0f, 40.0f, 40.0f, 0xFF101010), kScreenFvf);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_EQ(Pixel(5, 5) & 0xFFFFFF, 0x305070u);
}

TEST_F(D3D9Test, PrimitiveCountsNeverWrap) {
    SetCamera();
    IDirect3DVertexBuffer9* vb = MakeBuffer(Quad(1.0f, 5.0f, 0xFFFFFFFF), kVertexFvf);
    ASSERT_NE(vb, nullptr);
    device_->SetFVF(kVertexFvf);
    device_->SetStreamSource(0, vb, 0, sizeof(Vertex));
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 0x55555556u), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 0xFFFFFFFFu), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 3), D3DERR_INVALIDCALL);   // past the buffer
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0xFFFFFFFFu, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->DrawPrimitive((D3DPRIMITIVETYPE)9, 0, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3D_OK);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3DERR_INVALIDCALL);   // outside a scene
    device_->SetStreamSource(0, nullptr, 0, 0);
    vb->Release();
}

}  // namespace
