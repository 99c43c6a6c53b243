// The texture font: queues of 2D and 3D text turned into textured quads in
// two dynamic vertex buffers once per frame.
//
// Layout of one queued text: P is the top-left corner of the current line's
// first cell, D one cell along the writing direction and V one cell down the
// line.  Every text is written as a transparent placeholder quad just before
// P followed by one quad per character, each the previous quad moved by D; a
// newline moves P down by 1.1 x V and starts again with a placeholder.  A
// visible background adds one band per line under the line's cells.
#include "font.h"

#include <cmath>

#include "zvplugin.h"

namespace {

const char* const kSource = "font";
const char* const kInvalid = "Invalid Call/Param";
const u32 kNewline = 10;
const double kLineSpacing = 1.1;

u32 GetPlugInInfos(PlugIn* blank) {
    blank->name = "Font";
    blank->major = 0;
    blank->minor = 30;
    blank->type = "font";
    blank->factory = PlugIn::FromGeometry(Font::Create);
    return 0;
}

PlugInRegistrar g_registrar(ZVPLUGIN_GEOMETRY, GetPlugInInfos);

// A point or a cell vector, in double precision while the quads are laid out.
struct Vec {
    double x, y, z;
    Vec operator+(const Vec& o) const { return Vec{x + o.x, y + o.y, z + o.z}; }
    Vec operator-(const Vec& o) const { return Vec{x - o.x, y - o.y, z - o.z}; }
    Vec operator*(double s) const { return Vec{x * s, y * s, z * s}; }
};

// The frame of one text: see the comment at the top of the file.
struct TextFrame {
    Vec p, d, v;
};

void Put(Font::Vertex2D* out, const Vec& at, u32 colour, float u, float v) {
    out->x = (float)at.x;
    out->y = (float)at.y;
    out->z = 1.0f;
    out->rhw = 1.0f;
    out->color = colour;
    out->u = u;
    out->v = v;
}

void Put(Font::Vertex3D* out, const Vec& at, u32 colour, float u, float v) {
    out->x = (float)at.x;
    out->y = (float)at.y;
    out->z = (float)at.z;
    out->color = colour;
    out->u = u;
    out->v = v;
}

// Writes the six vertices of the quad with corners a (top-left), a + down and
// a + along, in the order a, a+down, a+along, a+down, a+along+down, a+along.
template <typename VertexT>
VertexT* PutQuad(VertexT* out, const Vec& a, const Vec& along, const Vec& down, u32 colour, float u0, float v0,
                 float u1, float v1) {
    const Vec b = a + down, c = a + along, e = a + along + down;
    Put(out++, a, colour, u0, v0);
    Put(out++, b, colour, u0, v1);
    Put(out++, c, colour, u1, v0);
    Put(out++, b, colour, u0, v1);
    Put(out++, e, colour, u1, v1);
    Put(out++, c, colour, u1, v0);
    return out;
}

// One background band per line; returns the quads written.
template <typename VertexT>
u32 WriteBackground(VertexT* out, const String& text, const TextFrame& f, u32 colour) {
    u32 quads = 0;
    Vec p = f.p;
    u32 cells = 0;
    for (u32 i = 0; i <= text.length; ++i) {
        if (i < text.length && (u8)text.data[i] != kNewline) {
            ++cells;
            continue;
        }
        out = PutQuad(out, p, f.d * (double)cells, f.v, colour, 0.0f, 0.0f, 0.0f, 0.0f);
        ++quads;
        p = p + f.v * kLineSpacing;
        cells = 0;
    }
    return quads;
}

// The placeholder and glyph quads of one text: 1 + length quads.  The
// placeholders get a fully transparent colour, so they never show whatever
// the image holds at its corner.
template <typename VertexT>
VertexT* WriteGlyphs(VertexT* out, const String& text, const TextFrame& f, u32 colour) {
    Vec p = f.p;
    Vec left = p - f.d;  // the top-left corner of the quad written last
    out = PutQuad(out, left, f.d, f.v, 0x00000000u, 0.0f, 0.0f, 0.0f, 0.0f);
    for (u32 i = 0; i < text.length; ++i) {
        const u32 code = (u8)text.data[i];
        if (code == kNewline) {
            p = p + f.v * kLineSpacing;
            left = p - f.d;
            out = PutQuad(out, left, f.d, f.v, 0x00000000u, 0.0f, 0.0f, 0.0f, 0.0f);
            continue;
        }
        left = left + f.d;
        const float u = (float)(code % 16) / 16.0f, v = (float)(code / 16) / 16.0f;
        out = PutQuad(out, left, f.d, f.v, colour, u, v, u + Font::kGlyphWidth, v + Font::kCellSide);
    }
    return out;
}

TextFrame Frame2D(const Font::Text2D& t) {
    const double dx = t.fDirX, dy = t.fDirY;
    const double length = std::sqrt(dx * dx + dy * dy);
    const double size = t.nSize;
    TextFrame f;
    f.p = Vec{(double)t.nX, (double)t.nY, 1.0};
    f.d = Vec{dx / length * size, dy / length * size, 0.0};
    // The direction turned by +90 degrees about Z: (1, 0) gives (0, 1), down
    // the screen.
    f.v = Vec{-f.d.y, f.d.x, 0.0};
    return f;
}

Vec Unit(const Vector3& v, double size) {
    const double length = v.Length();
    return Vec{v.x / length * size, v.y / length * size, v.z / length * size};
}

TextFrame Frame3D(const Font::Text3D& t) {
    TextFrame f;
    f.p = Vec{t.vPos.x, t.vPos.y, t.vPos.z};
    f.d = Unit(t.vRight, t.fSize);
    f.v = Unit(t.vDown, t.fSize);
    return f;
}

const String& TextOf(const Font::Text2D& t) { return t.strText; }
const String& TextOf(const Font::Text3D& t) { return t.strText; }
TextFrame FrameOf(const Font::Text2D& t) { return Frame2D(t); }
TextFrame FrameOf(const Font::Text3D& t) { return Frame3D(t); }

// Draws the queue of one kind: backgrounds, then glyphs.
template <typename VertexT, typename TextT>
HRESULT DrawQueue(CallScope& scope, IGraphics* graphics, IVertexBuffer* vb, ITexture* texture,
                  const Vector<TextT>& queue) {
    u64 needed = 0;
    bool anyBackground = false;
    for (u32 i = 0; i < queue.count; ++i) {
        needed += 6 + 6 * (u64)TextOf(queue[i]).length;
        if (queue[i].nBackColor >> 24) anyBackground = true;
    }
    if (needed > vb->GetNumVertices()) {
        scope.ReportFailure("Too many chars for the VB", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    if (queue.count == 0) return S_OK;

    Matrix identity;
    identity.SetIdentity();
    void* data = nullptr;
    if (anyBackground) {
        if (scope.ReportFailure("-", kSource, __LINE__, vb->Lock(&data, nullptr)) < 0) return ZVE_SUBFUNCTION;
        VertexT* out = static_cast<VertexT*>(data);
        u32 quads = 0;
        for (u32 i = 0; i < queue.count; ++i) {
            if (!(queue[i].nBackColor >> 24)) continue;
            const u32 written = WriteBackground(out, TextOf(queue[i]), FrameOf(queue[i]), queue[i].nBackColor);
            out += 6 * written;
            quads += written;
        }
        if (scope.ReportFailure("-", kSource, __LINE__, vb->Unlock()) < 0) return ZVE_SUBFUNCTION;
        if (scope.ReportFailure("-", kSource, __LINE__, vb->Active(0)) < 0) return ZVE_SUBFUNCTION;
        graphics->DesactiveTexture(0);
        DrawPrimitiveInfos range = {0, 6 * quads, 0, 0};
        if (scope.ReportFailure("-", kSource, __LINE__, graphics->Draw(D3DPT_TRIANGLELIST, &identity, &range, false)) <
            0)
            return ZVE_SUBFUNCTION;
    }

    if (scope.ReportFailure("-", kSource, __LINE__, vb->Lock(&data, nullptr)) < 0) return ZVE_SUBFUNCTION;
    VertexT* out = static_cast<VertexT*>(data);
    for (u32 i = 0; i < queue.count; ++i) out = WriteGlyphs(out, TextOf(queue[i]), FrameOf(queue[i]), queue[i].nColor);
    if (scope.ReportFailure("-", kSource, __LINE__, vb->Unlock()) < 0) return ZVE_SUBFUNCTION;
    if (scope.ReportFailure("-", kSource, __LINE__, vb->Active(0)) < 0) return ZVE_SUBFUNCTION;
    texture->Active(0);
    DrawPrimitiveInfos range = {0, (u32)needed, 0, 0};
    if (scope.ReportFailure("-", kSource, __LINE__, graphics->Draw(D3DPT_TRIANGLELIST, &identity, &range, false)) < 0)
        return ZVE_SUBFUNCTION;
    return S_OK;
}

template <typename T>
void Empty(Vector<T>& queue) {
    while (queue.count > 0) queue.Remove(queue.count - 1);
}

bool NonZero2D(float x, float y) {
    const double sq = (double)x * x + (double)y * y;
    return sq > 0.0 && std::isfinite(sq);
}

bool NonZero3D(const Vector3& v) {
    const double sq = v.LengthSq();
    return sq > 0.0 && std::isfinite(sq);
}

// A view whose direction lies this close to the camera's up vector (the
// squared sine of the angle between them) counts as looking along it.
const double kAlongUpSineSq = 1e-12;

// The axes of a text that faces a camera looking along its up vector, where
// up x dir gives no side: right is the world axis least along dir, made
// perpendicular to it, and down = right x dir.  The text's plane is then
// perpendicular to the view, and right, down and dir turn the same way as
// up x dir, -up and dir do for every other view (the text is not mirrored).
void AxesAlongUp(const Vector3& dir, Vector3* right, Vector3* down) {
    const double ax = std::fabs(dir.x), ay = std::fabs(dir.y), az = std::fabs(dir.z);
    const Vector3 axis = (ax <= ay && ax <= az) ? Vector3(1.0f, 0.0f, 0.0f)
                         : ay <= az             ? Vector3(0.0f, 1.0f, 0.0f)
                                                : Vector3(0.0f, 0.0f, 1.0f);
    *right = axis - dir * (float)axis.Dot(dir);
    down->Cross(*right, dir);
}

// The cells of the longest line and the number of lines.
void Measure(const String& text, u32* longest, u32* lines) {
    *longest = 0;
    *lines = 1;
    u32 cells = 0;
    for (u32 i = 0; i < text.length; ++i) {
        if ((u8)text.data[i] == kNewline) {
            ++*lines;
            cells = 0;
        } else if (++cells > *longest) {
            *longest = cells;
        }
    }
}

// The height of a text of `lines` lines, in cells.
double LinesHeight(u32 lines) { return 1.0 + kLineSpacing * (double)(lines - 1); }

}  // namespace

// ---------------------------------------------------------------------------

String FitLinesToWidth(const String& text, u32 size, u32 x, u32 right) {
    const u32 columns = (size == 0 || right <= x) ? 0 : (right - x) / size;
    String fitted;
    u32 start = 0;
    while (start <= text.length) {
        u32 end = start;
        while (end < text.length && (u8)text.data[end] != kNewline) ++end;
        if (end - start <= columns) {
            fitted += text.SubString(start, end);
        } else if (columns >= 3) {
            fitted += text.SubString(start, start + columns - 3);
            fitted += "...";
        } else {
            fitted += text.SubString(start, start + columns);
        }
        if (end == text.length) break;
        fitted += "\n";
        start = end + 1;
    }
    return fitted;
}

HRESULT Font::Create(const String& type, const String& command, IGraphics* graphics, IGeometry** out) {
    CallScope scope(nullptr, "Font::Create()");
    if (!out) {
        scope.ReportFailure(kInvalid, kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    if (type != "font") {
        scope.ReportFailure("Unsupported Type", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    Font* font = new (std::nothrow) Font();
    if (!font) {
        scope.ReportFailure("Not Enough Memory", kSource, __LINE__, E_OUTOFMEMORY);
        return ZVE_SUBFUNCTION;
    }
    *out = font;
    font->AddRef();
    HRESULT hr = font->Init(command, graphics);
    if (hr < 0) {
        scope.WriteLog(ZVLOG_ERROR, type + " '" + command + "' : Init() failed", kSource, __LINE__);
        font->Release();
        *out = nullptr;
        return hr;
    }
    return S_OK;
}

Font::Font()
    : nRef(0),
      pGraphics(nullptr),
      strFileName("NO_FONT"),
      pVB2D(nullptr),
      pVB3D(nullptr),
      pTexture(nullptr),
      bFacingRefused(false) {}

Font::~Font() {
    if (pVB2D) pVB2D->Release();
    if (pVB3D) pVB3D->Release();
    if (pTexture) pTexture->Release();
    if (pGraphics) {
        pGraphics->RemoveGeometry(this);
        pGraphics->Release();
    }
}

u32 Font::AddRef() { return ++nRef; }

u32 Font::Release() {
    if (nRef == 0) return 0;
    if (--nRef == 0) {
        delete this;
        return 0;
    }
    return nRef;
}

const String& Font::GetName() {
    static String name("Font");
    return name;
}

HRESULT Font::Clone(IInterface** out) {
    CallScope scope(this, "Clone()");
    if (!out) {
        scope.ReportFailure(kInvalid, kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    AddRef();
    *out = this;
    return S_OK;
}

HRESULT Font::Update(float elapsed) {
    (void)elapsed;
    return S_FALSE;
}

HRESULT Font::Reset() { return S_FALSE; }

HRESULT Font::SendCommand(const String& command, String* parameter) {
    CallScope scope(this, "SendCommand()");
    (void)command;
    (void)parameter;
    return S_FALSE;
}

HRESULT Font::GetTypeAndCommand(String* type, String* command) {
    if (type) *type = "font";
    if (command) *command = strFileName;
    return S_OK;
}

HRESULT Font::Init(const String& fileName, IGraphics* graphics) {
    CallScope scope(this, "Init()");
    if (!graphics) {
        scope.ReportFailure(kInvalid, kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    strFileName = fileName;
    if (scope.ReportFailure("-", kSource, __LINE__, graphics->CreateTexture(fileName, &pTexture)) < 0)
        return ZVE_SUBFUNCTION;
    if (scope.ReportFailure("-", kSource, __LINE__, graphics->CreateVB(kFVF2D, kVertexCount, true, &pVB2D)) < 0)
        return ZVE_SUBFUNCTION;
    if (scope.ReportFailure("-", kSource, __LINE__, graphics->CreateVB(kFVF3D, kVertexCount, true, &pVB3D)) < 0)
        return ZVE_SUBFUNCTION;
    pGraphics = graphics;
    return S_OK;
}

HRESULT Font::DrawText2D(const String& text, u32 colour, u32 background, u32 size, u32 x, u32 y, float dirX,
                         float dirY) {
    CallScope scope(this, "DrawText2D()");
    if (text.IsEmpty() || size == 0 || !NonZero2D(dirX, dirY)) {
        scope.ReportFailure(kInvalid, kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    Text2D record;
    record.strText = text;
    record.nColor = colour;
    record.nBackColor = background;
    record.nSize = size;
    record.nX = x;
    record.nY = y;
    record.fDirX = dirX;
    record.fDirY = dirY;
    if (vText2D.Add(record) < 0) {
        scope.ReportFailure("Not Enough Memory", kSource, __LINE__, E_OUTOFMEMORY);
        return ZVE_SUBFUNCTION;
    }
    return S_OK;
}

HRESULT Font::DrawText2DScaled(const String& text, u32 colour, u32 background, float size, float x, float y,
                               float dirX, float dirY) {
    CallScope scope(this, "DrawText2DScaled()");
    if (!(size > 0.0f && size <= 1.0f) || !(x >= 0.0f && x <= 1.0f) || !(y >= 0.0f && y <= 1.0f) || !pGraphics) {
        scope.ReportFailure(kInvalid, kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    DisplaySettings mode;
    if (scope.ReportFailure("-", kSource, __LINE__, pGraphics->GetScreenMode(&mode)) < 0) return ZVE_SUBFUNCTION;
    const u32 pixels = (u32)((double)mode.nHeight * size);
    const u32 px = (u32)((double)mode.nWidth * x), py = (u32)((double)mode.nHeight * y);
    HRESULT hr = DrawText2D(text, colour, background, pixels, px, py, dirX, dirY);
    if (scope.ReportFailure("-", kSource, __LINE__, hr) < 0) return ZVE_SUBFUNCTION;
    return S_OK;
}

HRESULT Font::DrawText3D(const String& text, u32 colour, u32 background, float size, Vector3 position,
                         Vector3 right, Vector3 down) {
    CallScope scope(this, "DrawText3D()");
    if (text.IsEmpty() || !(size > 0.0f) || !std::isfinite(size) || !NonZero3D(right) || !NonZero3D(down)) {
        scope.ReportFailure(kInvalid, kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    Text3D record;
    record.strText = text;
    record.nColor = colour;
    record.nBackColor = background;
    record.fSize = size;
    record.vPos = position;
    record.vRight = right;
    record.vDown = down;
    if (vText3D.Add(record) < 0) {
        scope.ReportFailure("Not Enough Memory", kSource, __LINE__, E_OUTOFMEMORY);
        return ZVE_SUBFUNCTION;
    }
    return S_OK;
}

HRESULT Font::DrawText3DFacing(const String& text, u32 colour, u32 background, float size, Vector3 position) {
    Vector3 eye, at, up;
    if (pGraphics) pGraphics->GetCamera(&eye, &at, &up);
    Vector3 dir = at - eye;
    dir.Normalize();
    Vector3 right;
    right.Cross(up, dir);
    Vector3 down = -up;
    const double upSq = up.LengthSq(), dirSq = dir.LengthSq();
    if (upSq > 0.0 && dirSq > 0.0 && right.LengthSq() <= kAlongUpSineSq * upSq * dirSq) AxesAlongUp(dir, &right, &down);
    if (!NonZero3D(right) || !NonZero3D(down)) {
        // Without a camera, or with one that is not finite, no text can face
        // it: the programs would have every such text of every frame refused.
        // The first refusal is reported, the later ones only refused.
        if (!bFacingRefused) {
            bFacingRefused = true;
            CallScope scope(this, "DrawText3DFacing()");
            String message("No text can face the camera (");
            message += CameraVectorsText({{"eye ", eye}, {", look-at point ", at}, {", up ", up}});
            message += "): texts turned towards it are not drawn";
            scope.ReportFailure(message, kSource, __LINE__, E_INVALIDARG);
        }
        return ZVE_SUBFUNCTION;
    }
    return DrawText3D(text, colour, background, size, position, right, down);
}

HRESULT Font::GetExtendText2D(const String& text, u32 size, float dirX, float dirY, float* width, float* height) {
    CallScope scope(this, "GetExtendText2D()");
    if (text.IsEmpty() || size == 0 || !NonZero2D(dirX, dirY) || !width || !height) {
        scope.ReportFailure(kInvalid, kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    u32 longest, lines;
    Measure(text, &longest, &lines);
    *width = (float)((double)longest * size);
    *height = (float)(LinesHeight(lines) * size);
    return S_OK;
}

HRESULT Font::GetExtendText2DScaled(const String& text, float size, float dirX, float dirY, float* width,
                                    float* height) {
    CallScope scope(this, "GetExtendText2DScaled()");
    if (text.IsEmpty() || !(size > 0.0f && size <= 1.0f) || !NonZero2D(dirX, dirY) || !width || !height) {
        scope.ReportFailure(kInvalid, kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    u32 longest, lines;
    Measure(text, &longest, &lines);
    *width = (float)((double)longest * size);
    *height = (float)(LinesHeight(lines) * size);
    return S_OK;
}

HRESULT Font::GetExtendText3D(const String& text, float size, Vector3 right, Vector3 down, Vector3* extent) {
    CallScope scope(this, "GetExtendText3D()");
    if (text.IsEmpty() || !(size > 0.0f) || !std::isfinite(size) || !NonZero3D(right) || !NonZero3D(down) ||
        !extent) {
        scope.ReportFailure(kInvalid, kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    u32 longest, lines;
    Measure(text, &longest, &lines);
    const Vec e = Unit(right, (double)longest * size) + Unit(down, LinesHeight(lines) * size);
    *extent = Vector3((float)e.x, (float)e.y, (float)e.z);
    return S_OK;
}

void Font::EmptyQueues() {
    Empty(vText2D);
    Empty(vText3D);
}

HRESULT Font::Render2D(CallScope& scope) {
    HRESULT hr = DrawQueue<Vertex2D>(scope, pGraphics, pVB2D, pTexture, vText2D);
    if (hr < 0) return hr;
    Empty(vText2D);
    pGraphics->GetD3DDevice()->SetRenderState(D3DRS_ZENABLE, TRUE);
    return S_OK;
}

HRESULT Font::Render3D(CallScope& scope) {
    HRESULT hr = DrawQueue<Vertex3D>(scope, pGraphics, pVB3D, pTexture, vText3D);
    if (hr < 0) return hr;
    Empty(vText3D);
    pGraphics->GetD3DDevice()->SetRenderState(D3DRS_ZENABLE, TRUE);
    return S_OK;
}

HRESULT Font::Render() {
    CallScope scope(this, "Render()");
    IDirect3DDevice9* device = pGraphics ? pGraphics->GetD3DDevice() : nullptr;
    if (!device) {
        EmptyQueues();
        scope.ReportFailure("IGraphics return NULL d3dDev", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);

    // A frame whose text cannot be drawn drops it: text is queued anew every
    // frame, so keeping it would only pile the next frames' text behind it.
    if (Render2D(scope) < 0 || Render3D(scope) < 0) {
        EmptyQueues();
        return ZVE_SUBFUNCTION;
    }
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    return S_OK;
}
