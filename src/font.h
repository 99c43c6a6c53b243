// The texture font: fixed-width text drawn from one image holding a 16 x 16
// grid of character cells (code k, an unsigned byte, in column k % 16 and
// row k / 16; a glyph fills the left 0.0425 of its 0.0625-wide cell).
//
// A font is a geometry of the type "font", made by the graphics manager's
// CreateGeometry with the image's file name as command.  During a frame the
// program queues text (2D in pixels, 2D relative to the screen, 3D in world
// space, 3D turned towards the camera); the frame calls Render after all
// models, which turns the queued text into textured quads in two dynamic
// vertex buffers, draws them and empties the queues.  Text must therefore be
// queued again in every frame.
#pragma once

#include "zvgraphics.h"
#include "zvstuff.h"

class IFont : public IGeometry {
public:
    // Queues 2D text: cells of size x size pixels, the first cell's top-left
    // corner at (x, y), written along the direction (dirX, dirY) (any length
    // but 0); the cells' downward axis is the direction turned by +90 degrees.
    // Colours are A8R8G8B8; a background with alpha 0 draws no band.
    virtual HRESULT DrawText2D(const String& text, u32 colour, u32 background, u32 size, u32 x, u32 y, float dirX,
                               float dirY) = 0;
    // As DrawText2D with size, x and y given relative to the screen height,
    // width and height: size in (0, 1], x and y in [0, 1].
    virtual HRESULT DrawText2DScaled(const String& text, u32 colour, u32 background, float size, float x, float y,
                                     float dirX, float dirY) = 0;
    // Queues 3D text: cells of size world units, the first cell's top-left
    // corner at position, written along right, each line from top to bottom
    // along down (neither needs unit length).
    virtual HRESULT DrawText3D(const String& text, u32 colour, u32 background, float size, Vector3 position,
                               Vector3 right, Vector3 down) = 0;
    // DrawText3D with right and down taken from the camera, so that the text
    // faces it.
    virtual HRESULT DrawText3DFacing(const String& text, u32 colour, u32 background, float size,
                                     Vector3 position) = 0;
    // The box the text would cover: *width along the writing direction (the
    // longest line), *height across it (1 + 1.1 x (lines - 1) cells), in
    // pixels.
    virtual HRESULT GetExtendText2D(const String& text, u32 size, float dirX, float dirY, float* width,
                                    float* height) = 0;
    // The same relative to the screen: both as fractions of the screen height
    // (the unit of DrawText2DScaled's size).
    virtual HRESULT GetExtendText2DScaled(const String& text, float size, float dirX, float dirY, float* width,
                                          float* height) = 0;
    // The vector from the first cell's top-left corner to the far corner of
    // the text's box: longest line x size along right plus the lines' height
    // along down.
    virtual HRESULT GetExtendText3D(const String& text, float size, Vector3 right, Vector3 down,
                                    Vector3* extent) = 0;
};

// The text with every line cut that, drawn from x along (1, 0) in cells of
// `size` pixels, would run past the right edge `right` (in pixels); a cut
// line ends in "..." when there is room for it, so that the cut shows.  For
// texts whose content comes from outside (adapter names, animation names,
// numbers), so that they stay inside the window.
String FitLinesToWidth(const String& text, u32 size, u32 x, u32 right);

class Font : public IFont {
public:
    struct Text2D {
        String strText;
        u32 nColor;
        u32 nBackColor;
        u32 nSize;   // pixels: the side of one cell
        u32 nX;      // pixels: the top-left corner of the first cell
        u32 nY;
        float fDirX;  // writing direction, any length but 0
        float fDirY;
    };
    struct Text3D {
        String strText;
        u32 nColor;
        u32 nBackColor;
        float fSize;   // world units
        Vector3 vPos;  // the top-left corner of the first cell
        Vector3 vRight;
        Vector3 vDown;
    };

    // Vertices of each dynamic buffer: 1280 quads of six vertices.
    static constexpr u32 kVertexCount = 7680;
    static constexpr u32 kFVF2D = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;  // 0x144
    static constexpr u32 kFVF3D = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;     // 0x142
    // The part of a cell's texture width a glyph covers, and a cell's side.
    static constexpr float kGlyphWidth = 0.0425f;
    static constexpr float kCellSide = 1.0f / 16.0f;

    struct Vertex2D {
        float x, y, z, rhw;
        u32 color;
        float u, v;
    };
    struct Vertex3D {
        float x, y, z;
        u32 color;
        float u, v;
    };

    // The geometry factory of the "font" plug-in.
    static HRESULT Create(const String& type, const String& command, IGraphics* graphics, IGeometry** out);

    Font();

    u32 AddRef() override;
    u32 Release() override;
    const String& GetName() override;
    HRESULT Clone(IInterface** out) override;

    HRESULT Update(float elapsed) override;
    HRESULT Render() override;
    HRESULT Reset() override;
    HRESULT SendCommand(const String& command, String* parameter) override;
    HRESULT GetTypeAndCommand(String* type, String* command) override;

    HRESULT DrawText2D(const String& text, u32 colour, u32 background, u32 size, u32 x, u32 y, float dirX,
                       float dirY) override;
    HRESULT DrawText2DScaled(const String& text, u32 colour, u32 background, float size, float x, float y,
                             float dirX, float dirY) override;
    HRESULT DrawText3D(const String& text, u32 colour, u32 background, float size, Vector3 position, Vector3 right,
                       Vector3 down) override;
    HRESULT DrawText3DFacing(const String& text, u32 colour, u32 background, float size, Vector3 position) override;
    HRESULT GetExtendText2D(const String& text, u32 size, float dirX, float dirY, float* width,
                            float* height) override;
    HRESULT GetExtendText2DScaled(const String& text, float size, float dirX, float dirY, float* width,
                                  float* height) override;
    HRESULT GetExtendText3D(const String& text, float size, Vector3 right, Vector3 down, Vector3* extent) override;

    // Loads the image and creates the two buffers; called by Create only.
    HRESULT Init(const String& fileName, IGraphics* graphics);

    u32 nRef;
    IGraphics* pGraphics;  // set once Init succeeded; the manager's reference is taken by CreateGeometry
    String strFileName;
    Vector<Text2D> vText2D;
    Vector<Text3D> vText3D;
    IVertexBuffer* pVB2D;
    IVertexBuffer* pVB3D;
    ITexture* pTexture;
    bool bFacingRefused;  // a text that could not face the camera was reported

protected:
    ~Font() override;

private:
    HRESULT Render2D(CallScope& scope);
    HRESULT Render3D(CallScope& scope);
    void EmptyQueues();

    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;
};
