#pragma once

// A solid sphere of the given radius around the current origin, built with
// GLU the first time a radius is drawn and replayed from a display list after.
// Needs a current OpenGL context.
void drawSolidSphere(double radius);

// One record of the shape cache: a display list and the parameters it was
// compiled for. Records are malloc'd and live as long as the program.
struct CachedShape {
    unsigned int listId;
    CachedShape* next;
    int paramCount;
    double* params; // owned by the record
};

// The listId of the newest record of kind whose params equal the given ones
// over count values, or 0. Records holding fewer than count values never
// match.
unsigned int lookupCachedShape(int kind, const double* params, int count);
// Records a new display-list name for kind and params (which pass to the
// cache); returns the name, or 0 when no record could be made.
unsigned int cacheNewShape(int kind, double* params, int count);
// Exact element-by-element equality over count values; count <= 0 is equal.
bool sameShapeParams(const double* a, const double* b, int count);

// The newest record of kind, or null; for looking into the cache.
const CachedShape* cachedShapes(int kind);
