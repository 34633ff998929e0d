#include "vec3.h"

#include <cmath>

Vec3 crossProduct(Vec3 a, Vec3 b) {
    double x = double(a.y) * b.z - double(a.z) * b.y;
    double y = double(a.z) * b.x - double(a.x) * b.z;
    double z = double(a.x) * b.y - double(a.y) * b.x;
    return Vec3(float(x), float(y), float(z));
}

float dotProduct(Vec3 a, Vec3 b) {
    return float(double(a.x) * b.x + double(a.y) * b.y + double(a.z) * b.z);
}

float magnitude(Vec3 v) {
    float squares = float(double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z);
    return float(std::sqrt(double(squares)));
}

Vec3 normalize(Vec3 v) {
    return v / magnitude(v);
}

Vec3 vectorBetween(Vec3 from, Vec3 to) {
    return to - from;
}
