// Models of the animated kinds as the viewer shows them in a real frame:
// modelled below their origin, they stand on the floor, and the side their
// files call left is the one the camera sees on the screen's right.
#include <cmath>
#include <cstdint>

#include "viewer_support.h"
#include "zvcal3dwriter.h"
#include "zvimage.h"
#include "zvimagewriters.h"
#include "zvmd5writer.h"

using namespace viewertest;

namespace {

// A sign seen from the front: a panel 16 wide and 20 high whose lowest
// point is 50 below the model's origin (engine y from -50 to -30), and a
// red marker 6 x 6 on the model's left, at the panel's foot.  Both face the
// model's front.
//
// Cal3D files: right-handed, z up, the front is -y, so the left is +x; a
// face's corners turn counter-clockwise seen from outside.
void WriteCal3DSign(const std::string& dir) {
    zvtools::Cal3DSkeleton skeleton;
    skeleton.bones.resize(1);
    skeleton.bones[0].name = "root";
    zvtools::Cal3DMesh mesh;
    auto quad = [&](int material, float x0, float x1, float z0, float z1) {
        zvtools::Cal3DSubMesh sub;
        sub.material = material;
        sub.numMaps = 0;
        const float corners[4][2] = {{x0, z0}, {x1, z0}, {x1, z1}, {x0, z1}};
        for (const auto& c : corners) {
            zvtools::Cal3DVertex v;
            v.pos[0] = c[0];
            v.pos[1] = 0.0f;
            v.pos[2] = c[1];
            v.normal[0] = 0.0f;
            v.normal[1] = -1.0f;
            v.normal[2] = 0.0f;
            v.influences = {{0, 1.0f}};
            sub.vertices.push_back(v);
        }
        sub.faces = {0, 1, 2, 0, 2, 3};
        mesh.subMeshes.push_back(sub);
    };
    quad(0, -8.0f, 8.0f, -50.0f, -30.0f);
    quad(1, 9.0f, 15.0f, -50.0f, -44.0f);
    zvtools::Cal3DMaterial panel, marker;
    panel.diffuse = 0xFFFFFFFFu;
    marker.diffuse = 0xFFFF0000u;
    ASSERT_TRUE(zvtools::WriteCal3DFile(dir + "sign.csf", zvtools::WriteCal3DSkeleton(skeleton)));
    ASSERT_TRUE(zvtools::WriteCal3DFile(dir + "sign.cmf", zvtools::WriteCal3DMesh(mesh)));
    ASSERT_TRUE(zvtools::WriteCal3DFile(dir + "sign_panel.crf", zvtools::WriteCal3DMaterial(panel)));
    ASSERT_TRUE(zvtools::WriteCal3DFile(dir + "sign_marker.crf", zvtools::WriteCal3DMaterial(marker)));
    ASSERT_TRUE(zvtools::WriteCal3DFile(
        dir + "sign.cfg", zvtools::WriteCal3DConfig({{"skeleton", "sign.csf"},
                                                     {"mesh", "sign.cmf"},
                                                     {"material", "sign_panel.crf"},
                                                     {"material", "sign_marker.crf"}})));
}

// MD5 files: right-handed, z up, the front is +x, so the left is +y; the
// panel and the marker take their colours from images beside the mesh.
void WriteMD5Sign(const std::string& dir) {
    zvtools::MD5MeshFile file;
    file.joints.resize(1);
    file.joints[0].name = "origin";
    auto quad = [&](const std::string& shader, float y0, float y1, float z0, float z1) {
        zvtools::MD5Mesh mesh;
        mesh.shader = shader;
        const float corners[4][2] = {{y0, z0}, {y1, z0}, {y1, z1}, {y0, z1}};
        for (int i = 0; i < 4; ++i) {
            zvtools::MD5Vert v;
            v.firstWeight = i;
            v.numWeights = 1;
            mesh.verts.push_back(v);
            zvtools::MD5Weight w;
            w.pos[1] = corners[i][0];
            w.pos[2] = corners[i][1];
            mesh.weights.push_back(w);
        }
        mesh.tris.resize(2);
        const int tris[2][3] = {{0, 1, 2}, {0, 2, 3}};
        for (int t = 0; t < 2; ++t)
            for (int c = 0; c < 3; ++c) mesh.tris[t].v[c] = tris[t][c];
        file.meshes.push_back(mesh);
    };
    quad("panel", -8.0f, 8.0f, -50.0f, -30.0f);
    quad("marker", 9.0f, 15.0f, -50.0f, -44.0f);
    ASSERT_TRUE(WriteFile(dir + "sign.md5mesh", zvtools::WriteMD5Mesh(file)));
    for (const auto& image : {std::make_pair("panel.tga", 0xFFFFFFu), std::make_pair("marker.tga", 0xFF0000u)}) {
        std::vector<uint8_t> bgra;
        for (int i = 0; i < 16; ++i)
            bgra.insert(bgra.end(), {(uint8_t)(image.second & 0xFF), (uint8_t)(image.second >> 8 & 0xFF),
                                     (uint8_t)(image.second >> 16), 255});
        ASSERT_TRUE(zvtools::WriteTGA(dir + image.first, 4, 4, bgra.data()));
    }
}

class ViewerPlacementTest : public ViewerTest {};

}  // namespace

TEST_F(ViewerPlacementTest, SignsBelowTheirOriginStandOnTheFloorWithTheirLeftOnTheScreensRight) {
    WriteCal3DSign(dir);
    WriteMD5Sign(dir);
    for (const char* model : {"sign.cfg", "sign.md5mesh"}) {
        SCOPED_TRACE(model);
        log.clear();
        ASSERT_GE(Start(model), 0) << log;
        // Lifted by the 50 its lowest point lies below the origin.
        EXPECT_NEAR(ModelHeight(), 50.0f, 1e-3f);
        ZVImage image;
        ASSERT_NO_FATAL_FAILURE(ShootModelAlone(&image));
        ASSERT_EQ(image.width, 320);
        auto pixel = [&](int x, int y) { return &image.pixels[((size_t)y * image.width + x) * 4]; };
        const uint8_t* background = pixel(5, 5);
        auto drawn = [&](int x, int y) {
            const uint8_t* p = pixel(x, y);
            return std::abs(p[0] - background[0]) + std::abs(p[1] - background[1]) +
                       std::abs(p[2] - background[2]) > 60;
        };
        // The panel faces the camera (drawn, not culled); its foot meets the
        // floor: the eye is at y = 10, 40 before it, with a vertical field
        // of 90 degrees over 240 rows, so y = 0 is row 150.
        int bottom = -1;
        for (int y = 0; y < image.height; ++y)
            if (drawn(160, y)) bottom = y;
        EXPECT_NEAR(bottom, 150, 2);
        // The marker, red with hardly any green, is on the right only.
        int left = 0, right = 0;
        for (int y = 0; y < image.height; ++y) {
            for (int x = 0; x < image.width; ++x) {
                const uint8_t* p = pixel(x, y);  // blue, green, red
                if (p[2] > 80 && p[1] < 30) ++(x < 160 ? left : right);
            }
        }
        EXPECT_EQ(left, 0);
        EXPECT_GT(right, 100);
        EXPECT_FALSE(Contains(log, "Error")) << log;
        viewer.reset();
    }
}
