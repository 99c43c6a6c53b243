// MD5 writers: .md5mesh, .md5anim and .def texts.
#include "zvmd5writer.h"

#include <locale.h>

#include <cmath>
#include <cstdio>

namespace zvtools {

namespace {

// Numbers are written with a '.', whatever locale the program chose.
class CLocaleScope {
public:
    CLocaleScope() {
        static locale_t loc = newlocale(LC_ALL_MASK, "C", (locale_t)0);
        previous_ = loc ? uselocale(loc) : (locale_t)0;
    }
    ~CLocaleScope() {
        if (previous_) uselocale(previous_);
    }

private:
    locale_t previous_;
};

std::string Int(long long value) { return std::to_string(value); }

int CountBits(int flags) {
    int n = 0;
    for (int bit = 0; bit < 6; ++bit)
        if (flags & (1 << bit)) ++n;
    return n;
}

class Text {
public:
    explicit Text(const MD5WriteOptions& options)
        : eol_(options.crlf ? "\r\n" : "\n"), decimals_(options.decimals) {}
    void Line(const std::string& line) { out_ += line + eol_; }
    const std::string& str() const { return out_; }

    std::string Num(float value) const {
        char buffer[400];  // "%.6f" of the largest float
        if (decimals_ >= 0)
            std::snprintf(buffer, sizeof(buffer), "%.*f", decimals_, (double)value);
        else
            std::snprintf(buffer, sizeof(buffer), "%.9g", (double)value);
        return buffer;
    }
    std::string Triple(const float v[3]) const {
        return "( " + Num(v[0]) + " " + Num(v[1]) + " " + Num(v[2]) + " )";
    }

private:
    std::string eol_;
    int decimals_;
    std::string out_;
};

}  // namespace

int AssignMD5StartIndices(MD5Anim* anim) {
    int next = 0;
    for (MD5AnimJoint& joint : anim->joints) {
        joint.startIndex = next;
        next += CountBits(joint.flags);
    }
    return next;
}

void MD5CompressQuaternion(const float q[4], float out[3]) {
    const float sign = q[3] > 0 ? -1.0f : 1.0f;
    for (int i = 0; i < 3; ++i) out[i] = q[i] * sign;
}

std::string WriteMD5Mesh(const MD5MeshFile& mesh, const MD5WriteOptions& options) {
    CLocaleScope c;
    Text t(options);
    t.Line("MD5Version " + Int(mesh.version));
    t.Line("commandline \"" + mesh.commandline + "\"");
    t.Line("");
    t.Line("numJoints " + Int(mesh.numJointsOverride >= 0 ? mesh.numJointsOverride : (long long)mesh.joints.size()));
    t.Line("numMeshes " + Int(mesh.numMeshesOverride >= 0 ? mesh.numMeshesOverride : (long long)mesh.meshes.size()));
    t.Line("");
    t.Line("joints {");
    for (const MD5Joint& joint : mesh.joints) {
        std::string line = "\t\"" + joint.name + "\"\t" + Int(joint.parent) + " " + t.Triple(joint.pos) + " " +
                           t.Triple(joint.orient);
        if (options.comments) {
            const bool known = joint.parent >= 0 && (size_t)joint.parent < mesh.joints.size();
            line += "\t\t// " + (known ? mesh.joints[(size_t)joint.parent].name : std::string());
        }
        t.Line(line);
    }
    t.Line("}");
    t.Line("");
    for (const MD5Mesh& m : mesh.meshes) {
        t.Line("mesh {");
        if (options.comments && !m.comment.empty()) {
            size_t from = 0;
            for (;;) {
                const size_t end = m.comment.find('\n', from);
                t.Line(options.commentIndent + "// " + m.comment.substr(from, end - from));
                if (end == std::string::npos) break;
                from = end + 1;
            }
        }
        if (m.shaderLine) {
            t.Line("\tshader \"" + m.shader + "\"");
            t.Line("");
        }
        t.Line("\tnumverts " + Int((long long)m.verts.size()));
        for (size_t i = 0; i < m.verts.size(); ++i) {
            const MD5Vert& v = m.verts[i];
            t.Line("\tvert " + Int((long long)i) + " ( " + t.Num(v.u) + " " + t.Num(v.v) + " ) " + Int(v.firstWeight) +
                   " " + Int(v.numWeights));
        }
        t.Line("");
        t.Line("\tnumtris " + Int((long long)m.tris.size()));
        for (size_t i = 0; i < m.tris.size(); ++i) {
            const MD5Tri& tri = m.tris[i];
            t.Line("\ttri " + Int((long long)i) + " " + Int(tri.v[0]) + " " + Int(tri.v[1]) + " " + Int(tri.v[2]));
        }
        t.Line("");
        t.Line("\tnumweights " + Int((long long)m.weights.size()));
        for (size_t i = 0; i < m.weights.size(); ++i) {
            const MD5Weight& w = m.weights[i];
            t.Line("\tweight " + Int((long long)i) + " " + Int(w.joint) + " " + t.Num(w.bias) + " " + t.Triple(w.pos));
        }
        t.Line("}");
        t.Line("");
    }
    return t.str();
}

std::string WriteMD5Anim(const MD5Anim& anim, const MD5WriteOptions& options) {
    CLocaleScope c;
    Text t(options);
    size_t components = 0;
    for (const std::vector<float>& frame : anim.frames)
        if (frame.size() > components) components = frame.size();
    const long long numFrames =
        anim.numFramesOverride >= 0 ? anim.numFramesOverride : (long long)anim.frames.size();
    const long long numJoints =
        anim.numJointsOverride >= 0 ? anim.numJointsOverride : (long long)anim.joints.size();
    const long long numComponents =
        anim.numAnimatedComponentsOverride >= 0 ? anim.numAnimatedComponentsOverride : (long long)components;

    t.Line("MD5Version " + Int(anim.version));
    t.Line("commandline \"" + anim.commandline + "\"");
    t.Line("");
    t.Line("numFrames " + Int(numFrames));
    t.Line("numJoints " + Int(numJoints));
    t.Line("frameRate " + t.Num(anim.frameRate));
    t.Line("numAnimatedComponents " + Int(numComponents));
    t.Line("");
    t.Line("hierarchy {");
    for (const MD5AnimJoint& joint : anim.joints) {
        std::string line = "\t\"" + joint.name + "\"\t" + Int(joint.parent) + " " + Int(joint.flags) + " " +
                           Int(joint.startIndex);
        if (options.comments) {
            const bool known = joint.parent >= 0 && (size_t)joint.parent < anim.joints.size();
            line += "\t// " + (known ? anim.joints[(size_t)joint.parent].name : std::string());
        }
        t.Line(line);
    }
    t.Line("}");
    t.Line("");
    t.Line("bounds {");
    for (const MD5Bound& b : anim.bounds) t.Line("\t" + t.Triple(b.min) + " " + t.Triple(b.max));
    t.Line("}");
    t.Line("");
    t.Line("baseframe {");
    for (const MD5BaseJoint& b : anim.baseframe) t.Line("\t" + t.Triple(b.pos) + " " + t.Triple(b.orient));
    t.Line("}");
    t.Line("");
    for (size_t f = 0; f < anim.frames.size(); ++f) {
        const std::vector<float>& frame = anim.frames[f];
        t.Line("frame " + Int((long long)f) + " {");
        for (const MD5AnimJoint& joint : anim.joints) {
            const int n = CountBits(joint.flags);
            if (n == 0) continue;
            std::string line = "\t";
            for (int i = 0; i < n; ++i) {
                const long long at = (long long)joint.startIndex + i;
                const float value = (at >= 0 && (size_t)at < frame.size()) ? frame[(size_t)at] : 0.0f;
                if (i > 0) line += " ";
                line += t.Num(value);
            }
            t.Line(line);
        }
        t.Line("}");
        t.Line("");
    }
    return t.str();
}

std::string WriteMD5Def(const std::vector<MD5DefModel>& models) {
    std::string out;
    for (const MD5DefModel& model : models) {
        out += "model " + model.name + "\n{\n";
        if (!model.mesh.empty()) out += "\tmesh \"" + model.mesh + "\"\n";
        for (const auto& anim : model.anims) out += "\tanim " + anim.first + " \"" + anim.second + "\"\n";
        out += "}\n\n";
    }
    return out;
}

bool WriteTextFile(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = text.empty() || std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) != 0) ok = false;
    return ok;
}

}  // namespace zvtools
