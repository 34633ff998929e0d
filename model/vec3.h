#pragma once

// A point or direction with single-precision components. The default
// constructor leaves the components unset on purpose: vertex and normal arrays
// are made with it and filled afterwards.
class Vec3 {
  public:
    float x, y, z;

    Vec3() {}
    Vec3(float x, float y, float z) : x(x), y(y), z(z) {}

    // One single-precision operation per component.
    Vec3 operator+(Vec3 other) const { return Vec3(x + other.x, y + other.y, z + other.z); }
    Vec3 operator-(Vec3 other) const { return Vec3(x - other.x, y - other.y, z - other.z); }
    Vec3 operator*(float s) const { return Vec3(x * s, y * s, z * s); }
    Vec3 operator/(float s) const { return Vec3(x / s, y / s, z / s); }
};

// Products and sums formed in double, each result rounded to float once.
Vec3 crossProduct(Vec3 a, Vec3 b);
float dotProduct(Vec3 a, Vec3 b);
// Sum of squares rounded to float, then the double square root rounded again.
float magnitude(Vec3 v);
// v / magnitude(v); a zero vector gives NaN components, unreported.
Vec3 normalize(Vec3 v);
// to - from.
Vec3 vectorBetween(Vec3 from, Vec3 to);
