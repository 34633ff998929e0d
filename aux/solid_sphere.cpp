#include "solid_sphere.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <cstdlib>

namespace {

// The kinds of shape that the cache has room for; the solid sphere is one.
constexpr int kShapeKinds = 32;
constexpr int kSolidSphere = 10;

// Chain heads by kind, newest record first.
CachedShape* shapeCache[kShapeKinds];

bool validKind(int kind) {
    return kind >= 0 && kind < kShapeKinds;
}

} // namespace

const CachedShape* cachedShapes(int kind) {
    return validKind(kind) ? shapeCache[kind] : nullptr;
}

bool sameShapeParams(const double* a, const double* b, int count) {
    // Exact comparison on purpose: a NaN never matches, +0.0 matches -0.0.
    for (int i = 0; i < count; i++) {
        if (!(a[i] == b[i]))
            return false;
    }
    return true;
}

unsigned int lookupCachedShape(int kind, const double* params, int count) {
    if (!validKind(kind))
        return 0;
    // A record with fewer values than asked for cannot match, and comparing
    // it would read past its parameter block.
    for (const CachedShape* shape = shapeCache[kind]; shape; shape = shape->next) {
        if (shape->paramCount >= count && sameShapeParams(shape->params, params, count))
            return shape->listId;
    }
    return 0;
}

unsigned int cacheNewShape(int kind, double* params, int count) {
    if (!validKind(kind))
        return 0;
    unsigned int listId = glGenLists(1);
    // Without a list name there is nothing to replay; recording the shape
    // would only make later lookups miss it.
    if (listId == 0)
        return 0;
    CachedShape* shape = static_cast<CachedShape*>(malloc(sizeof(CachedShape)));
    if (!shape) {
        glDeleteLists(listId, 1);
        return 0;
    }
    shape->listId = listId;
    shape->paramCount = count;
    shape->params = params;
    shape->next = shapeCache[kind];
    shapeCache[kind] = shape;
    return listId;
}

void drawSolidSphere(double radius) {
    double* params = static_cast<double*>(malloc(sizeof(double)));
    if (!params)
        return;
    params[0] = radius;

    unsigned int listId = lookupCachedShape(kSolidSphere, params, 1);
    if (listId) {
        glCallList(listId);
        free(params);
        return;
    }

    // Built once per radius: compiled while it is drawn. When the cache
    // cannot take it, the sphere is still drawn, directly.
    listId = cacheNewShape(kSolidSphere, params, 1);
    if (listId)
        glNewList(listId, GL_COMPILE_AND_EXECUTE);
    else
        free(params);
    GLUquadricObj* quadric = gluNewQuadric();
    if (quadric) {
        gluQuadricDrawStyle(quadric, GLU_FILL);
        gluQuadricNormals(quadric, GLU_SMOOTH);
        gluSphere(quadric, radius, 16, 16);
        gluDeleteQuadric(quadric);
    }
    if (listId)
        glEndList();
}
