// Text display of matrices and vectors through the message box.
#include <gtest/gtest.h>

#include <memory>

#include "support/tav_test_support.h"
#include "tav/matrix.h"

namespace tav {
namespace {

using tavtest::TMessageRecorder;

const std::string LB = "\n\r";

TEST(MatrixDisplay, VectorText) {
    TMessageRecorder recorder;
    npvector b;
    b[0] = 123.0;  // not shown
    b[1] = 1.5;
    b[2] = -2.0;
    shownpvector(b, 2, "b", 1);
    ASSERT_EQ(recorder.Messages().size(), 1u);
    EXPECT_EQ(recorder.Messages()[0].text,
              "b has 2 rows, 1 column. " + LB + "  1.5000" + LB + "  -2.0000" + LB);
    EXPECT_EQ(recorder.Messages()[0].type, TMsgDlgType::mtInformation);
    EXPECT_EQ(recorder.Messages()[0].buttons, mbOK);

    mvector v;
    v[1] = 0.123456;
    showmvector(v, 1, "v", 1);
    EXPECT_EQ(recorder.Messages().at(1).text, "v has 1 rows, 1 column. " + LB + "  0.1235" + LB);
}

TEST(MatrixDisplay, MatrixTexts) {
    TMessageRecorder recorder;
    npbynp a;
    a(1, 1) = 1, a(1, 2) = 2, a(2, 1) = 3, a(2, 2) = -4.5;
    shownpbynpmatrix(a, 2, "A", 1);
    ASSERT_EQ(recorder.Messages().size(), 1u);
    EXPECT_EQ(recorder.Messages()[0].text,
              "A is 2 by 2" + LB + LB + "  1.0000  2.0000" + LB + "  3.0000  -4.5000");

    // Header: rows by columns as shown. npbym shows np rows of m columns.
    auto x = std::make_unique<mbynp>();
    (*x)(1, 1) = 1, (*x)(1, 2) = 2, (*x)(2, 1) = 3, (*x)(2, 2) = 4, (*x)(3, 1) = 5;
    showmbynpmatrix(*x, 3, 2, "X", 1);
    EXPECT_EQ(recorder.Messages().at(1).text, "X is 3 by 2" + LB + LB + "  1.0000  2.0000" + LB +
                                                  "  3.0000  4.0000" + LB + "  5.0000  0.0000");
    auto xt = std::make_unique<npbym>();
    transposembynp(*x, *xt, 3, 2);
    shownpbymmatrix(*xt, 3, 2, "Xt", 1);
    EXPECT_EQ(
        recorder.Messages().at(2).text,
        "Xt is 2 by 3" + LB + LB + "  1.0000  3.0000  5.0000" + LB + "  2.0000  4.0000  0.0000");

    // Rows of a glnvmatrix are shown from element 1; element 0 stays out.
    glnvmatrix g;
    g[1][0] = 8, g[1][1] = 1, g[1][2] = 2;
    g[2][0] = 8, g[2][1] = 3, g[2][2] = 4;
    showglnvmatrix(g, 2, "u", 1);
    EXPECT_EQ(recorder.Messages().at(3).text,
              "u is 2 by 2" + LB + LB + "  1.0000  2.0000" + LB + "  3.0000  4.0000");
}

TEST(MatrixDisplay, ShowFlag) {
    TMessageRecorder recorder;
    npvector b;
    npbynp a, y;
    shownpvector(b, 2, "b", 0);
    shownpbynpmatrix(a, 2, "A", 0);
    a(1, 1) = 2.0;
    invertnpbynp(a, y, 1);  // hands its work matrix over with Show false
    EXPECT_TRUE(recorder.Messages().empty());
    shownpvector(b, 0, "b", 0x100);  // any non-zero value shows
    ASSERT_EQ(recorder.Messages().size(), 1u);
    EXPECT_EQ(recorder.Messages()[0].text, "b has 0 rows, 1 column. " + LB);
}

}  // namespace
}  // namespace tav
