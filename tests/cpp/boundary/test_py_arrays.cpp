// Copying strided views into owned arrays, the size limits of those copies,
// and how their failures reach Python. Sizes past the address space cannot be
// built from Python (NumPy refuses them first), so they are tested here.
#include <limits>
#include <string>
#include <vector>

#include "boundary/arrays.hpp"
#include "boundary/entry.hpp"
#include "boundary/python_fixture.hpp"

using quilmo::OwnedArray1;
using quilmo::OwnedArray2;
using quilmo::View1;
using quilmo::View2;
using quilmo::boundary::copy_to_owned;

namespace {

struct Pair {
    double re, im;
    bool operator==(const Pair&) const = default;
};

constexpr std::size_t kHuge = std::numeric_limits<std::size_t>::max() / 2;

// What Python sees when `view` is copied inside an entry point.
template <class View>
std::string python_failure_of_copy(const View& view) {
    auto copy = [&]() -> PyObject* { copy_to_owned(view); return Py_None; };
    EXPECT_EQ(quilmo::boundary::entry_wrapper<PyObject*>(copy, nullptr), nullptr);
    return take_exception_text();
}

// The logical content of a view, in row-major index order.
template <class T>
std::vector<T> elements(const View2<T>& view) {
    std::vector<T> out;
    for (std::size_t i = 0; i < view.rows; ++i)
        for (std::size_t j = 0; j < view.cols; ++j) out.push_back(view.at(i, j));
    return out;
}

template <class T>
std::vector<T> elements(const View1<T>& view) {
    return elements(View2<T>{view.data, 1, view.len, 0, view.stride});
}

// 0.5, 1.5, 2.5, ... in every double: no element equals another.
template <class T>
std::vector<T> numbered(std::size_t count) {
    std::vector<T> out(count);
    auto* raw = reinterpret_cast<double*>(out.data());
    for (std::size_t i = 0; i < count * sizeof(T) / sizeof(double); ++i) raw[i] = static_cast<double>(i) + 0.5;
    return out;
}

}  // namespace

TEST(CopyLimits, FailuresReachPythonAsPanicOrMemoryError) {
    Pair one{1.0, 2.0};
    const std::string overflow = "PanicException: capacity overflow";
    EXPECT_EQ(python_failure_of_copy(View2<double>{&one.re, kHuge, 3, 0, 0}), overflow);
    // 2^60 elements of 16 bytes: the count fits, the byte count does not.
    EXPECT_EQ(python_failure_of_copy(View2<Pair>{&one, std::size_t{1} << 30, std::size_t{1} << 30, 0, 0}), overflow);
    EXPECT_EQ(python_failure_of_copy(View1<double>{&one.re, kHuge / 4, 0}), overflow);
    // 2^62 bytes: below the signed limit, beyond any address space.
    EXPECT_EQ(python_failure_of_copy(View1<double>{&one.re, std::size_t{1} << 59, 0}), "MemoryError: ");
}

struct VectorCase {
    const char* name;
    std::ptrdiff_t offset;  // of element 0 in the source
    std::size_t len;
    std::ptrdiff_t stride, copy_stride;  // copy_stride: expected
};

class VectorCopy : public ::testing::TestWithParam<VectorCase> {};

TEST_P(VectorCopy, KeepsContentAndChoosesStride) {
    const VectorCase& c = GetParam();
    std::vector<double> source = numbered<double>(40);
    View1<double> view{source.data() + c.offset, c.len, c.stride};
    OwnedArray1<double> copy = copy_to_owned(view);
    EXPECT_EQ(copy.len(), c.len);
    EXPECT_EQ(copy.stride(), c.copy_stride);
    EXPECT_EQ(elements(copy.view()), elements(view));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, VectorCopy,
    ::testing::Values(VectorCase{"contiguous", 3, 10, 1, 1}, VectorCase{"reversed", 20, 10, -1, -1},
                      VectorCase{"strided", 0, 10, 3, 1}, VectorCase{"strided_reversed", 39, 10, -4, 1},
                      VectorCase{"broadcast", 5, 10, 0, 1}, VectorCase{"single_far_stride", 7, 1, 9, 9},
                      VectorCase{"empty", 0, 0, 5, 5}),
    [](const auto& info) { return std::string(info.param.name); });

struct MatrixCase {
    const char* name;
    std::ptrdiff_t offset;
    std::size_t rows, cols;
    std::ptrdiff_t stride0, stride1;
    bool keeps_strides;  // one block copy; otherwise row-major (cols, 1)
};

class MatrixCopy : public ::testing::TestWithParam<MatrixCase> {};

TEST_P(MatrixCopy, KeepsContentAndChoosesLayout) {
    const MatrixCase& c = GetParam();
    std::vector<Pair> source = numbered<Pair>(100);
    View2<Pair> view{source.data() + c.offset, c.rows, c.cols, c.stride0, c.stride1};
    OwnedArray2<Pair> copy = copy_to_owned(view);
    ASSERT_TRUE(copy.rows() == c.rows && copy.cols() == c.cols);
    EXPECT_EQ(copy.stride0(), c.keeps_strides ? c.stride0 : static_cast<std::ptrdiff_t>(c.cols));
    EXPECT_EQ(copy.stride1(), c.keeps_strides ? c.stride1 : 1);
    EXPECT_TRUE(elements(copy.view()) == elements(view));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, MatrixCopy,
    ::testing::Values(MatrixCase{"row_major", 0, 4, 5, 5, 1, true}, MatrixCase{"column_major", 0, 4, 5, 1, 4, true},
                      MatrixCase{"rows_reversed", 15, 4, 5, -5, 1, true},
                      MatrixCase{"both_reversed", 19, 4, 5, -5, -1, true},
                      MatrixCase{"column_major_reversed", 19, 4, 5, -1, -4, true},
                      MatrixCase{"one_row_any_stride", 2, 1, 5, 77, 1, true},
                      MatrixCase{"one_column_any_stride", 2, 5, 1, 1, -33, true},
                      MatrixCase{"empty", 0, 0, 5, 0, 0, true}, MatrixCase{"row_gaps", 0, 4, 5, 6, 1, false},
                      MatrixCase{"col_strided", 0, 4, 5, 10, 2, false},
                      MatrixCase{"broadcast_rows", 0, 4, 5, 0, 1, false},
                      MatrixCase{"strided_reversed", 90, 3, 4, -20, -3, false}),
    [](const auto& info) { return std::string(info.param.name); });
