#include "gl_context.h"
#include "solid_sphere.h"

#include <GL/gl.h>
#include <cmath>
#include <gtest/gtest.h>
#include <set>

namespace {

constexpr int kSolidSphere = 10;
constexpr GLuint kRobotList = 10;

// Records holding exactly this radius, the sign of zero included.
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

// The cache lives as long as the process, so every test draws radii of its
// own and all of them share one context. Its default state draws a white,
// unlit sphere of radius 0.5 over the middle of the picture.
class SolidSphere : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        contextOpen = context.open(32, 32);
        // Like the program, a list is compiled under the fixed number 10
        // before the first sphere is drawn.
        glNewList(kRobotList, GL_COMPILE);
        glEndList();
    }
    static void TearDownTestSuite() { context.close(); }
    void SetUp() override { ASSERT_TRUE(contextOpen) << "no surfaceless EGL context"; }

    static unsigned char centreAfterDrawing(double radius) {
        glClear(GL_COLOR_BUFFER_BIT);
        drawSolidSphere(radius);
        unsigned char rgba[4];
        glReadPixels(16, 16, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
        return rgba[0];
    }

    static inline GlContext context;
    static inline bool contextOpen = false;
};

TEST_F(SolidSphere, FirstDrawBuildsTheListAndLaterDrawsReplayIt) {
    EXPECT_EQ(centreAfterDrawing(0.5), 255) << "drawn while it is compiled";
    unsigned int listId = listFor(0.5);
    EXPECT_TRUE(glIsList(listId));
    EXPECT_EQ(centreAfterDrawing(0.5), 255) << "drawn from the list";
    EXPECT_EQ(recordsFor(0.5), 1);
    EXPECT_EQ(listFor(0.5), listId);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(SolidSphere, EachExactRadiusHasOneListOfItsOwnNewestFirst) {
    // Enough radii that counting list names up from 1 would reach 10.
    for (int i = 1; i <= 12; i++)
        drawSolidSphere(10.0 + i);
    // Single and double precision 0.2 are two radii.
    drawSolidSphere(0.2f);
    drawSolidSphere(0.2);
    drawSolidSphere(0.2f);
    EXPECT_EQ(recordsFor(0.2f), 1);
    EXPECT_EQ(recordsFor(0.2), 1);
    // 0.0 and -0.0 compare equal and share one record; 0.75 and -0.75 do not.
    drawSolidSphere(0.0);
    drawSolidSphere(-0.0);
    EXPECT_EQ(recordsFor(0.0) + recordsFor(-0.0), 1);
    drawSolidSphere(0.75);
    drawSolidSphere(-0.75);
    const CachedShape* head = cachedShapes(kSolidSphere);
    ASSERT_TRUE(head && head->next);
    EXPECT_EQ(head->params[0], -0.75);
    EXPECT_EQ(head->next->params[0], 0.75);
    EXPECT_EQ(head->paramCount, 1);

    std::set<unsigned int> ids;
    int records = 0;
    for (const CachedShape* shape = head; shape; shape = shape->next, records++) {
        EXPECT_NE(shape->listId, kRobotList);
        EXPECT_TRUE(glIsList(shape->listId));
        ids.insert(shape->listId);
    }
    EXPECT_EQ(int(ids.size()), records);
}

TEST_F(SolidSphere, KindsKeepTheirOwnChainsAndLookupsStayInsideTheRecords) {
    double* pair = static_cast<double*>(malloc(2 * sizeof(double)));
    pair[0] = 4.5;
    pair[1] = 9.0;
    unsigned int listId = cacheNewShape(5, pair, 2);
    ASSERT_NE(listId, 0u);
    // The caller's count decides how many values are compared.
    EXPECT_EQ(lookupCachedShape(5, pair, 1), listId);
    EXPECT_EQ(listFor(4.5), 0u);
    // A two-value question must not read past a one-value record.
    double* one = static_cast<double*>(malloc(sizeof(double)));
    one[0] = 7.0;
    cacheNewShape(6, one, 1);
    double longer[2] = {7.0, 1.0};
    EXPECT_EQ(lookupCachedShape(6, longer, 2), 0u);
    // Kinds outside the table are refused, not written past it.
    EXPECT_EQ(lookupCachedShape(-1, pair, 1), 0u);
    EXPECT_EQ(cacheNewShape(1000, pair, 1), 0u);
    EXPECT_EQ(cachedShapes(1000), nullptr);
}

// Runs after the context of the suite above was released.
TEST(ShapeCacheWithoutContext, NoListNameMeansNothingIsCached) {
    const CachedShape* before = cachedShapes(kSolidSphere);
    drawSolidSphere(123.0);
    EXPECT_EQ(cachedShapes(kSolidSphere), before);
}

TEST(ShapeParams, ExactComparisonOverTheGivenCount) {
    const double a[] = {1.0, 2.0, NAN}, b[] = {1.0, 2.5, NAN};
    EXPECT_TRUE(sameShapeParams(a, b, 1));
    EXPECT_FALSE(sameShapeParams(a, b, 2));
    EXPECT_TRUE(sameShapeParams(a, b, -3)) << "no values are equal";
    EXPECT_FALSE(sameShapeParams(a + 2, a + 2, 1)) << "NaN equals nothing";
}

} // namespace
