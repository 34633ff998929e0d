#include "ase_model.h"

namespace {

bool allIndex(const int (&indices)[3], size_t count) {
    for (int index : indices) {
        if (index < 0 || size_t(index) >= count)
            return false;
    }
    return true;
}

} // namespace

const AseMaterial* faceMaterial(const AseModel& model, const AseObject& object,
                                const AseFace& face) {
    if (object.materialRef < 0 || size_t(object.materialRef) >= model.materials.size())
        return nullptr;
    const AseMaterial* material = &model.materials[size_t(object.materialRef)];
    while (!material->subMaterials.empty()) {
        long long n = (long long)material->subMaterials.size();
        long long m = face.materialId % n;
        material = &material->subMaterials[size_t(m < 0 ? m + n : m)];
    }
    return material;
}

bool drawableFace(const AseObject& object, const AseFace& face) {
    return allIndex(face.corner, object.vertices.size());
}

bool texturedFace(const AseObject& object, const AseFace& face) {
    return allIndex(face.texCorner, object.texVertices.size());
}
