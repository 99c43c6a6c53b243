// Sound sample content for the fuzz targets and their seed corpora, made
// by our own writers: a small MD5 model (mesh and animation over the joints
// MD5JointNames names) and the names of the files the model targets find
// beside their input.
#pragma once

#include <string>
#include <vector>

#include "zvmd5writer.h"

namespace zvfuzz {

// The joints of SampleMD5Mesh, root first.
const std::vector<std::string>& MD5JointNames();
zvtools::MD5MeshFile SampleMD5Mesh(bool twoMeshes);
zvtools::MD5Anim SampleMD5Anim(int numFrames);

// The mesh and animation files the .def target reads beside its input.
const char* const kDefMeshFile = "sample.md5mesh";
const char* const kDefAnimFile = "sample.md5anim";

// The name of the Cal3D demo model (zvtools::WriteCal3DDemoModel) the .cfg
// target reads beside its input.
const char* const kCal3DDemoName = "demo";

}  // namespace zvfuzz
