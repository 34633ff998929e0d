#include "gl_context.h"
#include "solid_sphere.h"

#include <GL/gl.h>
#include <cmath>
#include <gtest/gtest.h>
#include <set>

namespace {

constexpr int kSolidSphere = 10;
constexpr GLuint kRobotList = 10;

int recordsFor(double radius) {
    int count = 0;
    for (const CachedShape* shape = cachedShapes(kSolidSphere); shape; shape = shape->next) {
        if (shape->params[0] == radius && std::signbit(shape->params[0]) == std::signbit(radius))
            count++;
    }
    return count;
}

unsigned int listFor(double radius) {
    return lookupCachedShape(kSolidSphere, &radius, 1);
}

int chainLength() {
    int count = 0;
    for (const CachedShape* shape = cachedShapes(kSolidSphere); shape; shape = shape->next)
        count++;
    return count;
}

// The cache lives as long as the process, so every test draws radii of its
// own and all of them share one context.
class SolidSphere : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        contextOpen = context.open(32, 32);
        if (!contextOpen)
            return;
        // Like the program, a list is compiled under the fixed number 10
        // before the first sphere is drawn.
        glNewList(kRobotList, GL_COMPILE);
        glBegin(GL_TRIANGLES);
        glEnd();
        glEndList();
    }
    static void TearDownTestSuite() { context.close(); }

    void SetUp() override {
        ASSERT_TRUE(contextOpen) << "no surfaceless EGL context";
        glViewport(0, 0, 32, 32);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(-1, 1, -1, 1, -2, 2);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glDisable(GL_LIGHTING);
        glColor3f(1, 1, 1);
    }

    static unsigned char centreAfterDrawing(double radius) {
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        drawSolidSphere(radius);
        glFinish();
        unsigned char rgba[4];
        glReadPixels(16, 16, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
        return rgba[0];
    }

    static GlContext context;
    static bool contextOpen;
};

GlContext SolidSphere::context;
bool SolidSphere::contextOpen = false;

TEST_F(SolidSphere, FirstDrawBuildsTheListAndLaterDrawsReplayIt) {
    int before = chainLength();
    EXPECT_EQ(centreAfterDrawing(0.5), 255) << "drawn while it is compiled";
    EXPECT_EQ(chainLength(), before + 1);
    unsigned int listId = listFor(0.5);
    ASSERT_NE(listId, 0u);
    EXPECT_TRUE(glIsList(listId));

    EXPECT_EQ(centreAfterDrawing(0.5), 255) << "drawn from the list";
    EXPECT_EQ(chainLength(), before + 1);
    EXPECT_EQ(recordsFor(0.5), 1);
    EXPECT_EQ(listFor(0.5), listId);
    EXPECT_EQ(cachedShapes(kSolidSphere)->paramCount, 1);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(SolidSphere, SinglePrecisionRadiusIsItsOwnKey) {
    drawSolidSphere(0.2f);
    drawSolidSphere(0.2);
    drawSolidSphere(0.2f);
    EXPECT_EQ(recordsFor(0.2f), 1);
    EXPECT_EQ(recordsFor(0.2), 1);
    EXPECT_NE(listFor(double(0.2f)), listFor(0.2));
}

TEST_F(SolidSphere, ZeroAndNegativeZeroShareOneList) {
    int before = chainLength();
    drawSolidSphere(0.0);
    drawSolidSphere(-0.0);
    EXPECT_EQ(chainLength(), before + 1);

    drawSolidSphere(0.75);
    drawSolidSphere(-0.75);
    EXPECT_EQ(chainLength(), before + 3);
}

TEST_F(SolidSphere, NewestRecordComesFirst) {
    drawSolidSphere(1.0);
    drawSolidSphere(2.0);
    const CachedShape* head = cachedShapes(kSolidSphere);
    ASSERT_TRUE(head && head->next);
    EXPECT_EQ(head->params[0], 2.0);
    EXPECT_EQ(head->next->params[0], 1.0);
    EXPECT_NE(head->listId, head->next->listId);
}

TEST_F(SolidSphere, ListsNeverReuseTheRobotListOrEachOther) {
    for (int i = 1; i <= 12; i++)
        drawSolidSphere(10.0 + i);
    std::set<unsigned int> ids;
    for (const CachedShape* shape = cachedShapes(kSolidSphere); shape; shape = shape->next) {
        EXPECT_NE(shape->listId, kRobotList);
        EXPECT_TRUE(glIsList(shape->listId));
        ids.insert(shape->listId);
    }
    EXPECT_EQ(int(ids.size()), chainLength());
}

TEST_F(SolidSphere, OtherKindsKeepTheirOwnChains) {
    double* params = static_cast<double*>(malloc(sizeof(double)));
    params[0] = 3.25;
    unsigned int listId = cacheNewShape(3, params, 1);
    ASSERT_NE(listId, 0u);
    EXPECT_EQ(lookupCachedShape(3, &params[0], 1), listId);
    EXPECT_EQ(listFor(3.25), 0u);
    // Kinds outside the table are refused, not written past it.
    EXPECT_EQ(lookupCachedShape(-1, params, 1), 0u);
    EXPECT_EQ(lookupCachedShape(1000, params, 1), 0u);
    EXPECT_EQ(cachedShapes(1000), nullptr);
}

TEST_F(SolidSphere, LookupComparesOverTheCallersCount) {
    double* params = static_cast<double*>(malloc(2 * sizeof(double)));
    params[0] = 4.5;
    params[1] = 9.0;
    unsigned int pair = cacheNewShape(5, params, 2);
    double single[1] = {4.5};
    EXPECT_EQ(lookupCachedShape(5, single, 1), pair) << "the record's own count is not consulted";
    double* one = static_cast<double*>(malloc(sizeof(double)));
    one[0] = 7.0;
    cacheNewShape(6, one, 1);
    // Asking a one-value record about two values must not read past it.
    double longer[2] = {7.0, 1.0};
    EXPECT_EQ(lookupCachedShape(6, longer, 2), 0u);
}

// Runs after the context of the suite above was released.
TEST(ShapeCacheWithoutContext, NoListNameMeansNothingIsCached) {
    const CachedShape* before = cachedShapes(kSolidSphere);
    drawSolidSphere(123.0);
    EXPECT_EQ(cachedShapes(kSolidSphere), before);
    EXPECT_EQ(listFor(123.0), 0u);
}

TEST(ShapeParams, ExactComparisonOverTheGivenCount) {
    const double a[] = {1.0, 2.0, NAN};
    const double b[] = {1.0, 2.5, NAN};
    EXPECT_TRUE(sameShapeParams(a, b, 1));
    EXPECT_FALSE(sameShapeParams(a, b, 2));
    EXPECT_TRUE(sameShapeParams(a, b, 0));
    EXPECT_TRUE(sameShapeParams(a, b, -3));
    EXPECT_FALSE(sameShapeParams(a + 2, a + 2, 1)) << "NaN equals nothing";
    const double zero[] = {0.0}, negativeZero[] = {-0.0};
    EXPECT_TRUE(sameShapeParams(zero, negativeZero, 1));
    const double close[] = {std::nextafter(1.0, 2.0)};
    EXPECT_FALSE(sameShapeParams(a, close, 1));
}

} // namespace
