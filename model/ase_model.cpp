#include "ase_model.h"

namespace {

bool allIndex(const int (&indices)[3], size_t count) {
    for (int index : indices) {
        if (index < 0 || size_t(index) >= count)
            return false;
    }
    return true;
}

template <typename Material> void collect(Material& material, std::vector<Material*>& into) {
    into.push_back(&material);
    for (Material& sub : material.subMaterials)
        collect(sub, into);
}

template <typename Model, typename Material> std::vector<Material*> collectAll(Model& model) {
    std::vector<Material*> all;
    for (Material& material : model.materials)
        collect(material, all);
    return all;
}

} // namespace

std::vector<const AseMaterial*> allMaterials(const AseModel& model) {
    return collectAll<const AseModel, const AseMaterial>(model);
}

std::vector<AseMaterial*> allMaterials(AseModel& model) {
    return collectAll<AseModel, AseMaterial>(model);
}

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

bool coloredFace(const AseObject& object, const AseFace& face) {
    return allIndex(face.colorCorner, object.colorVertices.size());
}
