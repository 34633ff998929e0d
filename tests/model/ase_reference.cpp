#include "ase_reference.h"

#include "text_scan.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// What a file may make the reader allocate: the same budget as the reader's.
unsigned long long budgetFor(size_t size) {
    return std::min(1048576ull + 16384ull * size, 1073741824ull + 4ull * size);
}

// A count that is negative or needs more than the budget left is taken as 0.
int believe(int count, unsigned long long recordBytes, unsigned long long& budget) {
    if (count < 0 || (unsigned long long)count * recordBytes > budget)
        return 0;
    budget -= (unsigned long long)count * recordBytes;
    return count;
}

// The C library's "%d" and "%f" as the GNU C library has them. On Linux they
// are the C library's own. Elsewhere the C library has other rules (mingw's
// "%d" is held at 32 bits, its "%f" takes other broken numbers), and the
// reader's scanners stand in for it: they read as the GNU C library does, to
// the character and to the bit, which the tests show on Linux.
template <typename T>
int scanOne(FILE* file, T* value, const char* format, bool (*scan)(const Text&, size_t&, T*)) {
#ifdef _WIN32
    (void)format;
    int c;
    while ((c = std::getc(file)) != EOF && std::isspace(c)) {
    }
    if (c == EOF)
        return EOF;
    long start = std::ftell(file) - 1;
    std::string word(1, char(c));
    while ((c = std::getc(file)) != EOF && !std::isspace(c))
        word += char(c);
    Text text;
    text.data = reinterpret_cast<const unsigned char*>(word.data());
    text.size = word.size();
    size_t used = 0;
    bool converted = scan(text, used, value);
    std::fseek(file, start + long(used), SEEK_SET);
    return converted ? 1 : 0;
#else
    (void)scan;
    return std::fscanf(file, format, value);
#endif
}

int scanInts(FILE* file, int* values, int count) {
    for (int i = 0; i < count; i++) {
        if (scanOne(file, &values[i], "%d", scanInt) != 1)
            return i;
    }
    return count;
}

int scanFloats(FILE* file, float* values, int count) {
    for (int i = 0; i < count; i++) {
        if (scanOne(file, &values[i], "%f", scanFloatSlowly) != 1)
            return i;
    }
    return count;
}

// Matches a pattern of plain characters, where a blank matches any white
// space, as scanf does; true when all of it matched.
bool matchText(FILE* file, const char* pattern) {
    std::string format = std::string(pattern) + "%n";
    int matched = -1;
    return std::fscanf(file, format.c_str(), &matched) >= 0 && matched >= 0;
}

struct PlainReader {
    FILE* pFile = nullptr;
    char strWord[kTextSize];

    // "%s" into the word buffer; a longer word is cut and its rest consumed.
    bool readWord() {
        if (std::fscanf(pFile, "%254s", strWord) != 1)
            return false;
        int c;
        while ((c = std::getc(pFile)) != EOF && !std::isspace(c)) {
        }
        if (c != EOF)
            std::ungetc(c, pFile);
        return true;
    }
    void discardLine() {
        char rest[100];
        if (!std::fgets(rest, sizeof rest, pFile))
            return;
    }
    bool is(const char* keyword) const { return std::strcmp(strWord, keyword) == 0; }

    float readFloat() {
        float value = 0.0f;
        scanFloats(pFile, &value, 1);
        return value;
    }

    void readQuotedText(char* field) {
        int quoted = -1;
        if (std::fscanf(pFile, " \"%n", &quoted) < 0 || quoted < 0)
            return;
        char word[kTextSize];
        if (std::fscanf(pFile, "%254s", word) != 1)
            return;
        int c;
        while ((c = std::getc(pFile)) != EOF && !std::isspace(c)) {
        }
        if (c != EOF)
            std::ungetc(c, pFile);
        size_t length = std::strlen(word);
        if (length > 0)
            word[length - 1] = 0;
        std::strcpy(field, word);
    }

    int countObjects() {
        std::rewind(pFile);
        int count = 0;
        while (readWord()) {
            if (is("*GEOMOBJECT"))
                count++;
            else
                discardLine();
        }
        return count;
    }

    int countMaterialSections() {
        std::rewind(pFile);
        int count = 0;
        while (readWord()) {
            if (is("*MATERIAL"))
                count++;
            else
                discardLine();
        }
        return count;
    }

    int readMaterialCount() {
        std::rewind(pFile);
        while (readWord()) {
            if (is("*MATERIAL_COUNT")) {
                int value = 0;
                scanInts(pFile, &value, 1);
                return value;
            }
            discardLine();
        }
        return 0;
    }

    void readMaterial(tMaterialInfo& material, int n) {
        std::rewind(pFile);
        int count = 0;
        bool found = false;
        while (!found && readWord()) {
            if (is("*MATERIAL"))
                found = ++count == n;
            else
                discardLine();
        }
        if (!found)
            return;
        while (readWord()) {
            if (is("*MATERIAL")) {
                break;
            } else if (is("*MATERIAL_DIFFUSE")) {
                scanFloats(pFile, material.diffuse, 3);
            } else if (is("*MATERIAL_SPECULAR")) {
                scanFloats(pFile, material.specular, 3);
            } else if (is("*BITMAP")) {
                readQuotedText(material.strBitmap);
            } else if (is("*MATERIAL_NAME")) {
                readQuotedText(material.strMaterialName);
            } else if (is("*UVW_U_TILING")) {
                material.uTiling = readFloat();
            } else if (is("*UVW_V_TILING")) {
                material.vTiling = readFloat();
            } else {
                discardLine();
            }
        }
    }

    // Leaves the stream behind object n's "*GEOMOBJECT" word, or at the end.
    void moveToObject(int n) {
        std::rewind(pFile);
        int count = 0;
        while (readWord()) {
            if (is("*GEOMOBJECT")) {
                if (++count == n)
                    return;
            } else {
                discardLine();
            }
        }
    }

    // The counts of object n, each keyword read over the last; which of them
    // the object has is noted in seen.
    void readObjectCounts(t3DObject& object, int n, bool seen[3]) {
        moveToObject(n);
        while (readWord()) {
            if (is("*GEOMOBJECT"))
                break;
            int which = is("*MESH_NUMVERTEX")    ? 0
                        : is("*MESH_NUMFACES")   ? 1
                        : is("*MESH_NUMTVERTEX") ? 2
                                                 : -1;
            if (which < 0) {
                discardLine();
                continue;
            }
            int* count = which == 0   ? &object.vertexCount
                         : which == 1 ? &object.faceCount
                                      : &object.texVertexCount;
            scanInts(pFile, count, 1);
            seen[which] = true;
        }
    }

    static bool inside(const void* array, int count, int index) {
        return array && index >= 0 && index < count;
    }

    void readVertex(t3DObject& object) {
        int index = 0;
        scanInts(pFile, &index, 1);
        float abc[3];
        int got = scanFloats(pFile, abc, 3);
        float a = abc[0], b = abc[1], c = abc[2];
        if (!inside(object.pVertices, object.vertexCount, index))
            return;
        Vec3& vertex = object.pVertices[index];
        if (got > 0)
            vertex.x = a;
        if (got > 1)
            vertex.z = -b;
        if (got > 2)
            vertex.y = c;
    }

    void readTexVertex(tModel& model, t3DObject& object) {
        int index = 0;
        scanInts(pFile, &index, 1);
        float ab[2];
        int got = scanFloats(pFile, ab, 2);
        float a = ab[0], b = ab[1];
        if (!inside(object.pTexVertices, object.texVertexCount, index))
            return;
        if (object.materialId < 0 || object.materialId >= int(model.materials.size()))
            return;
        const tMaterialInfo& material = model.materials[size_t(object.materialId)];
        Vec2& texVertex = object.pTexVertices[index];
        if (got > 0)
            texVertex.u = a;
        if (got > 1)
            texVertex.v = b;
        texVertex.u = texVertex.u * material.uTiling;
        texVertex.v = texVertex.v * material.vTiling;
        object.hasTexture = true;
    }

    void readFace(t3DObject& object, bool corners) {
        int index = 0;
        // "%d:", then "\tA:\t%d B:\t%d C:\t%d" or "%d %d %d".
        if (scanInts(pFile, &index, 1) == 1)
            matchText(pFile, ":");
        int v[3];
        int got = 0;
        if (!corners)
            got = scanInts(pFile, v, 3);
        for (const char* label : {" A:", " B:", " C:"}) {
            if (!corners || !matchText(pFile, label) || scanInts(pFile, &v[got], 1) != 1)
                break;
            got++;
        }
        if (!inside(object.pTriangles, object.faceCount, index))
            return;
        int* target =
            corners ? object.pTriangles[index].vertexIndex : object.pTriangles[index].texIndex;
        for (int k = 0; k < got; k++)
            target[k] = v[k];
    }

    void readObjectKeyword(tModel& model, t3DObject& object, const char* wanted, int n) {
        moveToObject(n);
        while (readWord()) {
            if (is("*GEOMOBJECT"))
                break;
            bool dataKeyword = is("*MESH_VERTEX") || is("*MESH_TVERT") || is("*MESH_FACE") ||
                               is("*MESH_TFACE") || is("*MATERIAL_REF");
            if (!dataKeyword) {
                discardLine();
                continue;
            }
            if (!is(wanted))
                continue;
            if (is("*MESH_VERTEX")) {
                readVertex(object);
            } else if (is("*MESH_TVERT")) {
                readTexVertex(model, object);
            } else if (is("*MESH_FACE")) {
                readFace(object, true);
            } else if (is("*MESH_TFACE")) {
                readFace(object, false);
            } else {
                double value = readFloat();
                if (value >= -2147483648.0 && value < 2147483648.0)
                    object.materialId = int(value);
                return;
            }
        }
    }
};

bool sameFloat(float a, float b) {
    if (std::isnan(a) && std::isnan(b))
        return true;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool sameFloats(const float* a, const float* b, size_t count) {
    for (size_t i = 0; i < count; i++) {
        if (!sameFloat(a[i], b[i]))
            return false;
    }
    return true;
}

} // namespace

void referenceReadModel(tModel* model, const char* data, size_t size) {
    PlainReader reader;
    reader.pFile = std::tmpfile();
    if (size > 0 && std::fwrite(data, 1, size, reader.pFile) != size)
        return;

    unsigned long long budget = budgetFor(size);
    model->objectCount = reader.countObjects();
    int materialCount = believe(reader.readMaterialCount(), sizeof(tMaterialInfo), budget);
    model->materialCount = materialCount;
    // Materials the file does not reach stay all zero.
    int sections = reader.countMaterialSections();
    for (int i = 0; i < materialCount; i++) {
        tMaterialInfo newMaterial;
        std::memset(static_cast<void*>(&newMaterial), 0, sizeof newMaterial);
        model->materials.push_back(newMaterial);
        if (i < sections)
            reader.readMaterial(model->materials[size_t(i)], i + 1);
    }
    for (int i = 0; i < model->objectCount; i++) {
        t3DObject newObject;
        std::memset(static_cast<void*>(&newObject), 0, sizeof newObject);
        model->objects.push_back(newObject);
        t3DObject& object = model->objects[size_t(i)];
        bool seen[3] = {false, false, false};
        reader.readObjectCounts(object, i + 1, seen);
        // The arrays get their final sizes, vertices counted with their normals.
        if (seen[0]) {
            object.vertexCount = believe(object.vertexCount, 2 * sizeof(Vec3), budget);
            object.pVertices = new Vec3[size_t(object.vertexCount)];
            std::memset(static_cast<void*>(object.pVertices), 0,
                        sizeof(Vec3) * size_t(object.vertexCount));
        }
        if (seen[1]) {
            object.faceCount = believe(object.faceCount, sizeof(tTriangle), budget);
            object.pTriangles = new tTriangle[size_t(object.faceCount)]();
        }
        if (seen[2]) {
            object.texVertexCount = believe(object.texVertexCount, sizeof(Vec2), budget);
            object.pTexVertices = new Vec2[size_t(object.texVertexCount)]();
        }
        for (const char* wanted :
             {"*MATERIAL_REF", "*MESH_VERTEX", "*MESH_TVERT", "*MESH_FACE", "*MESH_TFACE"})
            reader.readObjectKeyword(*model, object, wanted, i + 1);
    }
    std::fclose(reader.pFile);
}

void referenceVertexNormals(tModel* model) {
    for (int i = 0; i < model->objectCount; i++) {
        t3DObject& object = model->objects[size_t(i)];
        int faceCount = object.pTriangles ? object.faceCount : 0;
        Vec3* faceNormals = new Vec3[size_t(faceCount)];
        bool* usable = new bool[size_t(faceCount)];
        object.pVertexNormals = new Vec3[size_t(object.vertexCount)];
        for (int f = 0; f < faceCount; f++) {
            const int* c = object.pTriangles[f].vertexIndex;
            usable[f] = object.pVertices;
            for (int k = 0; k < 3; k++)
                usable[f] = usable[f] && c[k] >= 0 && c[k] < object.vertexCount;
            if (!usable[f])
                continue;
            Vec3 vPoly[3] = {object.pVertices[c[0]], object.pVertices[c[1]],
                             object.pVertices[c[2]]};
            Vec3 vVector1 = vectorBetween(vPoly[2], vPoly[0]);
            Vec3 vVector2 = vectorBetween(vPoly[1], vPoly[2]);
            faceNormals[f] = crossProduct(vVector1, vVector2);
        }
        Vec3 vSum(0, 0, 0);
        Vec3 vZero(0, 0, 0);
        int shared = 0;
        for (int v = 0; v < object.vertexCount; v++) {
            for (int f = 0; f < faceCount; f++) {
                const int* c = object.pTriangles[f].vertexIndex;
                if (usable[f] && (c[0] == v || c[1] == v || c[2] == v)) {
                    vSum = vSum + faceNormals[f];
                    shared++;
                }
            }
            object.pVertexNormals[v] = vSum / float(-shared);
            object.pVertexNormals[v] = normalize(object.pVertexNormals[v]);
            vSum = vZero;
            shared = 0;
        }
        delete[] faceNormals;
        delete[] usable;
    }
}

bool sameModel(const tModel& a, const tModel& b, std::string* why) {
    auto differ = [&](const std::string& what) {
        *why = what;
        return false;
    };
    if (a.objectCount != b.objectCount || a.materialCount != b.materialCount ||
        a.objects.size() != b.objects.size() || a.materials.size() != b.materials.size())
        return differ("counts");
    for (size_t i = 0; i < a.materials.size(); i++) {
        const tMaterialInfo& m = a.materials[i];
        const tMaterialInfo& n = b.materials[i];
        std::string at = "material " + std::to_string(i) + ": ";
        if (std::strcmp(m.strMaterialName, n.strMaterialName) != 0)
            return differ(at + "name '" + m.strMaterialName + "' / '" + n.strMaterialName + "'");
        if (std::strcmp(m.strBitmap, n.strBitmap) != 0)
            return differ(at + "bitmap '" + m.strBitmap + "' / '" + n.strBitmap + "'");
        if (!sameFloats(m.diffuse, n.diffuse, 3) || !sameFloats(m.specular, n.specular, 3))
            return differ(at + "colours");
        if (!sameFloat(m.uTiling, n.uTiling) || !sameFloat(m.vTiling, n.vTiling))
            return differ(at + "tiling");
        if (m.textureId != n.textureId)
            return differ(at + "texture");
    }
    for (size_t i = 0; i < a.objects.size(); i++) {
        const t3DObject& o = a.objects[i];
        const t3DObject& p = b.objects[i];
        std::string at = "object " + std::to_string(i) + ": ";
        if (o.vertexCount != p.vertexCount || o.faceCount != p.faceCount ||
            o.texVertexCount != p.texVertexCount)
            return differ(at + "counts");
        if (o.materialId != p.materialId || o.hasTexture != p.hasTexture)
            return differ(at + "material or texture flag");
        if (!o.pVertices != !p.pVertices || !o.pTriangles != !p.pTriangles ||
            !o.pTexVertices != !p.pTexVertices || !o.pVertexNormals != !p.pVertexNormals)
            return differ(at + "arrays present");
        for (int j = 0; o.pVertices && j < o.vertexCount; j++) {
            if (!sameFloats(&o.pVertices[j].x, &p.pVertices[j].x, 1) ||
                !sameFloats(&o.pVertices[j].y, &p.pVertices[j].y, 1) ||
                !sameFloats(&o.pVertices[j].z, &p.pVertices[j].z, 1))
                return differ(at + "vertex " + std::to_string(j));
        }
        for (int j = 0; o.pVertexNormals && j < o.vertexCount; j++) {
            if (!sameFloat(o.pVertexNormals[j].x, p.pVertexNormals[j].x) ||
                !sameFloat(o.pVertexNormals[j].y, p.pVertexNormals[j].y) ||
                !sameFloat(o.pVertexNormals[j].z, p.pVertexNormals[j].z))
                return differ(at + "normal " + std::to_string(j));
        }
        for (int j = 0; o.pTexVertices && j < o.texVertexCount; j++) {
            if (!sameFloat(o.pTexVertices[j].u, p.pTexVertices[j].u) ||
                !sameFloat(o.pTexVertices[j].v, p.pTexVertices[j].v))
                return differ(at + "texture vertex " + std::to_string(j));
        }
        for (int j = 0; o.pTriangles && j < o.faceCount; j++) {
            if (std::memcmp(&o.pTriangles[j], &p.pTriangles[j], sizeof(tTriangle)) != 0)
                return differ(at + "triangle " + std::to_string(j));
        }
    }
    return true;
}
