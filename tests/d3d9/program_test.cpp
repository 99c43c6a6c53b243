// The fixed-function programs made for a draw's state give the pixels of the
// general program, which reads the same state from uniforms: every stage-0
// setup the engine draws with (models lit and unlit, with and without a
// texture and specular, the font, the shadow volumes), the alpha test's
// functions, normals normalised and a stage's second alpha argument, read
// back and compared channel by channel.
#include <SDL.h>

#include <functional>
#include <string>

#include "d3d9_support.h"
#include "zvd3d9programs.h"

namespace {

using d3d9test::Channel;
using d3d9test::D3D9Test;

// D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1
struct FullVertex {
    float x, y, z;
    float nx, ny, nz;
    DWORD diffuse, specular;
    float u, v;
};
constexpr DWORD kFullFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1;
// D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1, as the models are drawn
struct ModelVertex {
    float x, y, z;
    float nx, ny, nz;
    float u, v;
};
constexpr DWORD kModelFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;
// D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1, as the font draws
struct TextVertex {
    float x, y, z, rhw;
    DWORD color;
    float u, v;
};
constexpr DWORD kTextFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

class ProgramTest : public D3D9Test {
protected:
    // Every program drawn with must build: one that does not leaves its draws
    // to the general program, and the comparison would see no difference.
    static void CountErrors(void* errors, int category, SDL_LogPriority priority, const char*) {
        if (category == SDL_LOG_CATEGORY_RENDER && priority >= SDL_LOG_PRIORITY_ERROR) ++*static_cast<int*>(errors);
    }

    void SetUp() override {
        SDL_LogGetOutputFunction(&log_, &logData_);
        SDL_LogSetOutputFunction(&CountErrors, &buildErrors_);
        logPriority_ = SDL_LogGetPriority(SDL_LOG_CATEGORY_RENDER);
        SDL_LogSetPriority(SDL_LOG_CATEGORY_RENDER, SDL_LOG_PRIORITY_ERROR);
        D3D9Test::SetUp();
        if (HasFatalFailure()) return;
        SetCamera();
        // A texture with every channel and alpha varying across it.
        ASSERT_EQ(device_->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture_, nullptr), D3D_OK);
        D3DLOCKED_RECT locked;
        ASSERT_EQ(texture_->LockRect(0, &locked, nullptr, 0), D3D_OK);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                const uint32_t a = (uint32_t)(x * 36), r = (uint32_t)(255 - y * 30), g = (uint32_t)((x + y) * 17),
                               b = (uint32_t)(x * y * 4);
                const uint32_t texel = a << 24 | r << 16 | g << 8 | b;
                std::memcpy(static_cast<uint8_t*>(locked.pBits) + (size_t)y * locked.Pitch + (size_t)x * 4, &texel, 4);
            }
        ASSERT_EQ(texture_->UnlockRect(0), D3D_OK);
        D3DMATERIAL9 m = {};
        m.Diffuse = {0.8f, 0.7f, 0.6f, 0.9f};
        m.Ambient = {0.6f, 0.5f, 0.4f, 1.0f};
        m.Specular = {0.5f, 0.6f, 0.7f, 1.0f};
        m.Emissive = {0.05f, 0.02f, 0.0f, 0.0f};
        m.Power = 12.0f;
        device_->SetMaterial(&m);
        // Three lights as the game has, a spot and a directional one.
        const D3DVECTOR positions[3] = {{-2.0f, 1.0f, 2.0f}, {2.0f, -1.0f, 3.0f}, {0.0f, 2.0f, 1.0f}};
        for (DWORD i = 0; i < 3; ++i) {
            D3DLIGHT9 l = {};
            l.Type = D3DLIGHT_POINT;
            l.Diffuse = {0.9f - 0.2f * (float)i, 0.7f, 0.5f + 0.2f * (float)i, 1.0f};
            l.Specular = {0.4f, 0.4f, 0.4f, 1.0f};
            l.Ambient = {0.1f, 0.1f, 0.15f, 1.0f};
            l.Position = positions[i];
            l.Range = 20.0f;
            l.Attenuation0 = 0.3f;
            l.Attenuation1 = 0.1f;
            device_->SetLight(i, &l);
            device_->LightEnable(i, TRUE);
        }
        D3DLIGHT9 spot = {};
        spot.Type = D3DLIGHT_SPOT;
        spot.Diffuse = {0.5f, 0.5f, 0.9f, 1.0f};
        spot.Position = {0.0f, 0.0f, 0.0f};
        spot.Direction = {0.0f, 0.0f, 1.0f};
        spot.Range = 50.0f;
        spot.Attenuation0 = 1.0f;
        spot.Theta = 0.3f;
        spot.Phi = 0.9f;
        spot.Falloff = 1.0f;
        device_->SetLight(5, &spot);
        D3DLIGHT9 sun = {};
        sun.Type = D3DLIGHT_DIRECTIONAL;
        sun.Diffuse = {0.2f, 0.3f, 0.1f, 1.0f};
        sun.Direction = {0.3f, -0.5f, 1.0f};
        device_->SetLight(6, &sun);
        device_->SetRenderState(D3DRS_AMBIENT, 0xFF505050);
        device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    }
    void TearDown() override {
        if (device_) device_->SetTexture(0, nullptr);
        if (texture_) {
            EXPECT_EQ(texture_->Release(), 0u);
        }
        D3D9Test::TearDown();
        SDL_LogSetOutputFunction(log_, logData_);
        SDL_LogSetPriority(SDL_LOG_CATEGORY_RENDER, logPriority_);
        EXPECT_EQ(buildErrors_, 0) << "a program failed to build";
    }

    // A bent sheet of quads across the view: normals, colours and texture
    // coordinates change over it, so that lighting and the stage show.
    static std::vector<FullVertex> Sheet() {
        std::vector<FullVertex> out;
        const int n = 6;
        auto vertex = [](int i, int j) {
            const float x = -3.0f + 6.0f * (float)i / n, y = -2.5f + 5.0f * (float)j / n;
            const float z = 4.0f + 0.3f * x * x;
            const float len = std::sqrt(1.0f + 0.36f * x * x);
            const DWORD diffuse = (DWORD)(0x40 + 30 * j) << 24 | (DWORD)(0x30 + 35 * i) << 16 |
                                  (DWORD)(0xF0 - 30 * j) << 8 | (DWORD)(0x80 + 10 * i);
            const DWORD specular = (DWORD)(20 * i) << 16 | (DWORD)(25 * j) << 8 | 0x30;
            return FullVertex{x, y, z, 0.6f * x / len, 0.0f, -1.0f / len, diffuse, specular,
                              1.5f * (float)i / n, 1.5f * (float)j / n};
        };
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) {
                const FullVertex a = vertex(i, j + 1), b = vertex(i + 1, j + 1), c = vertex(i, j),
                                 d = vertex(i + 1, j);
                out.insert(out.end(), {a, b, c, b, d, c});
            }
        return out;
    }

    // normalLength scales the sheet's unit normals.
    void DrawSheet(DWORD fvf, float normalLength = 1.0f) {
        std::vector<FullVertex> full = Sheet();
        for (FullVertex& v : full) {
            v.nx *= normalLength;
            v.ny *= normalLength;
            v.nz *= normalLength;
        }
        if (fvf == kFullFvf) return DrawList(full, kFullFvf);
        if (fvf == kModelFvf) {
            std::vector<ModelVertex> model;
            for (const FullVertex& v : full) model.push_back({v.x, v.y, v.z, v.nx, v.ny, v.nz, v.u, v.v});
            return DrawList(model, kModelFvf);
        }
        // Pre-transformed, as the font's quads.
        std::vector<TextVertex> text;
        for (const FullVertex& v : full)
            text.push_back({80.0f + 20.0f * v.x, 60.0f - 20.0f * v.y, 0.5f, 1.0f, v.diffuse, v.u, v.v});
        DrawList(text, kTextFvf);
    }

    // The frame `draw` draws on the background colour, through the general
    // programs or the specialised ones.
    std::vector<uint32_t> Frame(bool general, const std::function<void()>& draw) {
        ZVD3D9TestUseGeneralPrograms(device_, general);
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xFF203040, 1.0f, 0);
        EXPECT_EQ(device_->BeginScene(), D3D_OK);
        draw();
        EXPECT_EQ(device_->EndScene(), D3D_OK);
        ZVD3D9TestUseGeneralPrograms(device_, false);
        return ReadBack();
    }

    // Pixels of two frames whose channels differ by more than 1/255; the
    // first is named in a failure when `report` is set.
    static size_t DifferingPixels(const std::string& name, const std::vector<uint32_t>& a,
                                  const std::vector<uint32_t>& b, bool report) {
        EXPECT_EQ(a.size(), b.size()) << name;
        size_t differing = 0;
        for (size_t i = 0; i < a.size() && i < b.size(); ++i)
            for (int shift = 0; shift < 32; shift += 8)
                if (std::abs(Channel(a[i], shift) - Channel(b[i], shift)) > 1) {
                    if (differing++ == 0 && report)
                        ADD_FAILURE() << name << ": pixel " << i % kWidth << "," << i / kWidth << " " << std::hex
                                      << a[i] << " against " << b[i];
                    break;
                }
        return differing;
    }

    // The frame drawn by `draw` through the general programs (first) and
    // through the specialised ones: no channel differs by more than 1/255.
    void ExpectSamePixels(const std::string& name, const std::function<void()>& draw) {
        const std::vector<uint32_t> general = Frame(true, draw), specialised = Frame(false, draw);
        size_t changed = 0;
        for (uint32_t c : general)
            if ((c & 0xFFFFFF) != 0x203040u) ++changed;
        EXPECT_EQ(DifferingPixels(name, general, specialised, true), 0u) << name;
        EXPECT_GT(changed, 0u) << name << " drew nothing to compare";
    }

    // Two draws that give the same picture another way; `differs`, a draw
    // that must not (so that the comparison can tell).
    void ExpectSameFrames(const std::string& name, const std::function<void()>& draw,
                          const std::function<void()>& sameAs, const std::function<void()>& differs) {
        const std::vector<uint32_t> frame = Frame(false, draw);
        EXPECT_EQ(DifferingPixels(name, frame, Frame(false, sameAs), true), 0u) << name;
        EXPECT_GT(DifferingPixels(name, frame, Frame(false, differs), false), 0u) << name << ": cannot tell";
    }

    void SetStage(DWORD colorOp, DWORD colorArg1, DWORD colorArg2, DWORD alphaOp, DWORD alphaArg1, DWORD alphaArg2) {
        device_->SetTextureStageState(0, D3DTSS_COLOROP, colorOp);
        device_->SetTextureStageState(0, D3DTSS_COLORARG1, colorArg1);
        device_->SetTextureStageState(0, D3DTSS_COLORARG2, colorArg2);
        device_->SetTextureStageState(0, D3DTSS_ALPHAOP, alphaOp);
        device_->SetTextureStageState(0, D3DTSS_ALPHAARG1, alphaArg1);
        device_->SetTextureStageState(0, D3DTSS_ALPHAARG2, alphaArg2);
    }

    IDirect3DTexture9* texture_ = nullptr;
    SDL_LogOutputFunction log_ = nullptr;
    void* logData_ = nullptr;
    SDL_LogPriority logPriority_ = SDL_LOG_PRIORITY_CRITICAL;
    int buildErrors_ = 0;
};

// The lighting paths' model draws: lit with specular (simple lighting and the
// stencil passes), unlit, with and without a texture, smooth and flat, with
// three to five lights, and the alpha-blended passes.
TEST_F(ProgramTest, ModelDrawsMatchTheGeneralProgram) {
    for (DWORD fvf : {kModelFvf, kFullFvf})
        for (bool textured : {true, false})
            for (bool lit : {true, false})
                for (bool specular : {true, false})
                    for (DWORD shade : {(DWORD)D3DSHADE_GOURAUD, (DWORD)D3DSHADE_FLAT}) {
                        const std::string name = std::string(fvf == kModelFvf ? "model" : "coloured") +
                                                 (textured ? " textured" : " plain") + (lit ? " lit" : " unlit") +
                                                 (specular ? " specular" : "") +
                                                 (shade == D3DSHADE_FLAT ? " flat" : " smooth");
                        device_->SetTexture(0, textured ? texture_ : nullptr);
                        device_->SetRenderState(D3DRS_LIGHTING, lit);
                        device_->SetRenderState(D3DRS_SPECULARENABLE, specular);
                        device_->SetRenderState(D3DRS_SHADEMODE, shade);
                        ExpectSamePixels(name, [&] { DrawSheet(fvf); });
                    }
    device_->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
    device_->SetRenderState(D3DRS_LIGHTING, TRUE);
    device_->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    device_->SetTexture(0, texture_);
    device_->LightEnable(5, TRUE);
    device_->LightEnable(6, TRUE);
    ExpectSamePixels("five lights, a spot and a directional one", [&] { DrawSheet(kModelFvf); });
    device_->SetRenderState(D3DRS_LOCALVIEWER, FALSE);
    device_->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
    ExpectSamePixels("distant viewer, normalised normals", [&] { DrawSheet(kFullFvf); });
    // The additive pass of a light over the ambient pass.
    ExpectSamePixels("additive pass", [&] {
        DrawSheet(kModelFvf);
        device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
        device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
        DrawSheet(kModelFvf);
        device_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    });
}

// The font's stage (texture times diffuse, colour and alpha) blended over a
// model, and the shadow volumes' stencil counting drawn with colour kept out
// by the blend, then the lit pass where the count stayed 0.
TEST_F(ProgramTest, FontAndShadowVolumeDrawsMatchTheGeneralProgram) {
    device_->SetTexture(0, texture_);
    ExpectSamePixels("font over a model", [&] {
        device_->SetRenderState(D3DRS_LIGHTING, TRUE);
        SetStage(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT);
        DrawSheet(kModelFvf);
        device_->SetRenderState(D3DRS_LIGHTING, FALSE);
        device_->SetRenderState(D3DRS_ZENABLE, FALSE);
        device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        SetStage(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
        DrawSheet(kTextFvf);
        device_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        device_->SetRenderState(D3DRS_ZENABLE, TRUE);
        SetStage(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT);
    });
    // With the alpha test on, the texture's alpha decides where the volume counts.
    device_->SetRenderState(D3DRS_ALPHAREF, 0x6C);
    device_->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    for (bool alphaTested : {false, true}) {
        const char* name = alphaTested ? "alpha-tested shadow volume then lit pass" : "shadow volume then lit pass";
        ExpectSamePixels(name, [&] {
            device_->SetRenderState(D3DRS_LIGHTING, TRUE);
            device_->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
            DrawSheet(kModelFvf);
            device_->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
            device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
            device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ZERO);
            device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
            device_->SetRenderState(D3DRS_STENCILENABLE, TRUE);
            device_->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
            device_->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_INCR);
            // A volume in front of the sheet's left half.
            std::vector<ModelVertex> volume;
            for (const FullVertex& v : Sheet())
                if (v.x <= 0.0f) volume.push_back({v.x, v.y, v.z - 1.0f, v.nx, v.ny, v.nz, v.u, v.v});
            device_->SetRenderState(D3DRS_ALPHATESTENABLE, alphaTested);
            DrawList(volume, kModelFvf);
            device_->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
            device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
            device_->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
            device_->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
            DrawSheet(kModelFvf);
            device_->SetRenderState(D3DRS_STENCILENABLE, FALSE);
            device_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
            device_->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
        });
    }
}

// Stage operations and arguments beyond the engine's own, and the alpha
// test with every function: the discard is in these programs only.
TEST_F(ProgramTest, StageOperationsAndAlphaTestsMatchTheGeneralProgram) {
    device_->SetTexture(0, texture_);
    device_->SetRenderState(D3DRS_TEXTUREFACTOR, 0x80C06020);
    const DWORD ops[] = {D3DTOP_DISABLE,           D3DTOP_SELECTARG1,       D3DTOP_SELECTARG2,
                         D3DTOP_MODULATE,          D3DTOP_MODULATE2X,       D3DTOP_MODULATE4X,
                         D3DTOP_ADD,               D3DTOP_ADDSIGNED,        D3DTOP_ADDSIGNED2X,
                         D3DTOP_SUBTRACT,          D3DTOP_ADDSMOOTH,        D3DTOP_BLENDDIFFUSEALPHA,
                         D3DTOP_BLENDTEXTUREALPHA, D3DTOP_BLENDFACTORALPHA, D3DTOP_BLENDCURRENTALPHA};
    for (DWORD op : ops) {
        SetStage(op, D3DTA_TEXTURE, D3DTA_DIFFUSE, op, D3DTA_TFACTOR | D3DTA_COMPLEMENT, D3DTA_TEXTURE);
        ExpectSamePixels("operation " + std::to_string(op), [&] { DrawSheet(kFullFvf); });
    }
    SetStage(D3DTOP_ADD, D3DTA_SPECULAR | D3DTA_ALPHAREPLICATE, D3DTA_CURRENT | D3DTA_COMPLEMENT, D3DTOP_SELECTARG2,
             D3DTA_TEXTURE, D3DTA_DIFFUSE);
    ExpectSamePixels("specular, current, modifiers", [&] { DrawSheet(kFullFvf); });

    SetStage(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT);
    device_->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device_->SetRenderState(D3DRS_ALPHAREF, 0x6C);
    for (DWORD f = D3DCMP_NEVER; f <= D3DCMP_ALWAYS; ++f) {
        device_->SetRenderState(D3DRS_ALPHAFUNC, f);
        // What a draw discards shows the one below it.
        ExpectSamePixels("alpha test " + std::to_string(f), [&] {
            device_->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
            device_->SetTexture(0, nullptr);
            DrawSheet(kModelFvf);
            device_->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
            device_->SetTexture(0, texture_);
            device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
            DrawSheet(kFullFvf);
            device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
        });
    }
}

// Normals that are not of unit length, normalised: lit as unit normals are
// (not as the same normals left alone).
TEST_F(ProgramTest, NormalisedNormalsLightAsUnitNormals) {
    device_->SetTexture(0, texture_);
    device_->SetRenderState(D3DRS_LIGHTING, TRUE);
    device_->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    auto shortNormals = [&] { DrawSheet(kModelFvf, 0.5f); };
    device_->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
    ExpectSamePixels("short normals, normalised", shortNormals);
    ExpectSameFrames(
        "short normals, normalised", shortNormals, [&] { DrawSheet(kModelFvf); },
        [&] {
            device_->SetRenderState(D3DRS_NORMALIZENORMALS, FALSE);
            shortNormals();
            device_->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
        });
    device_->SetRenderState(D3DRS_NORMALIZENORMALS, FALSE);
    ExpectSamePixels("short normals as they are", shortNormals);
}

// A stage's alpha from its second argument, blended over the background:
// the texture factor's alpha there gives what it gives as the first argument
// (and not the diffuse colour's alpha).
TEST_F(ProgramTest, TheSecondAlphaArgumentIsRead) {
    device_->SetTexture(0, texture_);
    device_->SetRenderState(D3DRS_TEXTUREFACTOR, 0x60C06020);
    auto blended = [&](DWORD alphaOp, DWORD alphaArg1, DWORD alphaArg2) {
        return [=] {
            SetStage(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, alphaOp, alphaArg1, alphaArg2);
            device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
            device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
            device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
            DrawSheet(kFullFvf);
            device_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        };
    };
    for (DWORD arg : {(DWORD)D3DTA_TFACTOR, (DWORD)D3DTA_TEXTURE, (DWORD)(D3DTA_TFACTOR | D3DTA_COMPLEMENT)})
        ExpectSamePixels("alpha argument 2 = " + std::to_string(arg), blended(D3DTOP_SELECTARG2, D3DTA_DIFFUSE, arg));
    ExpectSameFrames("alpha of the texture factor as argument 2",
                     blended(D3DTOP_SELECTARG2, D3DTA_DIFFUSE, D3DTA_TFACTOR),
                     blended(D3DTOP_SELECTARG1, D3DTA_TFACTOR, D3DTA_DIFFUSE),
                     blended(D3DTOP_SELECTARG1, D3DTA_DIFFUSE, D3DTA_TFACTOR));
}

// A program is made once for a state and drawn with again from then on.
TEST_F(ProgramTest, ProgramsAreMadeOnFirstUseAndKept) {
    const size_t general = ZVD3D9TestProgramCount(device_);
    EXPECT_EQ(general, 2u);   // smooth and flat
    device_->SetTexture(0, texture_);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    DrawSheet(kModelFvf);
    const size_t one = ZVD3D9TestProgramCount(device_);
    EXPECT_EQ(one, general + 1);
    DrawSheet(kModelFvf);
    EXPECT_EQ(ZVD3D9TestProgramCount(device_), one);
    device_->SetTexture(0, nullptr);
    DrawSheet(kModelFvf);
    EXPECT_EQ(ZVD3D9TestProgramCount(device_), one + 1);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    // The programs outlive a reset of the device, and drawing goes on.
    D3DPRESENT_PARAMETERS pp = WindowedParameters();
    device_->SetTexture(0, nullptr);
    ASSERT_EQ(device_->Reset(&pp), D3D_OK);
    SetCamera();
    EXPECT_EQ(ZVD3D9TestProgramCount(device_), one + 1);
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    DrawList(Quad(1.0f, 5.0f, 0xFF20C040), d3d9test::kVertexFvf);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_TRUE(d3d9test::ColorNear(Center(), 0x20 / 255.0f, 0xC0 / 255.0f, 0x40 / 255.0f, 0));
}

// Keys that differ in one field only are told apart both ways, whichever the
// field: no draw state can take the program of another.
TEST(ProgramKeyTest, EveryFieldTellsKeysApart) {
    for (int f = 0; f < zvd3d9::kKeyFieldCount; ++f) {
        zvd3d9::ProgramKey a, b;
        b.value[f] = 1;
        EXPECT_TRUE(a < b && !(b < a) && a != b) << "field " << f;
    }
}

}  // namespace
