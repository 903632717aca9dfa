// Copying strided views into owned arrays, the size limits of those copies,
// and how their failures reach Python. Sizes past the address space cannot be
// built from Python (NumPy refuses them first), so they are tested here.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "boundary/arrays.hpp"
#include "boundary/entry.hpp"
#include "common/internal_error.hpp"
#include "python_fixture.hpp"

using quilmo::Buffer;
using quilmo::InternalError;
using quilmo::OutOfMemory;
using quilmo::OwnedArray1;
using quilmo::OwnedArray2;
using quilmo::View1;
using quilmo::View2;
using quilmo::boundary::copy_to_owned;

namespace {

struct Pair {
    double re;
    double im;
};

constexpr std::size_t kHuge = std::numeric_limits<std::size_t>::max() / 2;

std::string internal_error_text(auto&& call) {
    try {
        call();
    } catch (const InternalError& error) {
        return error.message();
    }
    return "";
}

// The logical content of a view, in row-major index order.
template <class T>
std::vector<T> elements(const View2<T>& view) {
    std::vector<T> out;
    for (std::size_t i = 0; i < view.rows; ++i) {
        for (std::size_t j = 0; j < view.cols; ++j) {
            out.push_back(view.at(i, j));
        }
    }
    return out;
}

template <class T>
std::vector<T> elements(const View1<T>& view) {
    std::vector<T> out;
    for (std::size_t i = 0; i < view.len; ++i) {
        out.push_back(view[i]);
    }
    return out;
}

std::vector<double> iota(std::size_t count) {
    std::vector<double> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<double>(i) + 0.5;
    }
    return out;
}

}  // namespace

TEST(CopyLimits, ElementCountOverflowIsCapacityOverflow) {
    double one = 1.0;
    View2<double> view{&one, kHuge, 3, 0, 0};
    EXPECT_EQ(internal_error_text([&] { copy_to_owned(view); }), "capacity overflow");
}

TEST(CopyLimits, ByteCountOverflowIsCapacityOverflow) {
    Pair one{1.0, 2.0};
    // 2^60 elements of 16 bytes: the count fits, the byte count does not.
    View2<Pair> matrix{&one, std::size_t{1} << 30, std::size_t{1} << 30, 0, 0};
    EXPECT_EQ(internal_error_text([&] { copy_to_owned(matrix); }), "capacity overflow");
    View1<double> vector{&one.re, kHuge / 4, 0};
    EXPECT_EQ(internal_error_text([&] { copy_to_owned(vector); }), "capacity overflow");
}

TEST(CopyLimits, UnmetRequestIsOutOfMemory) {
    double one = 1.0;
    // 2^62 bytes: below the signed limit, beyond any address space.
    View1<double> vector{&one, std::size_t{1} << 59, 0};
    try {
        copy_to_owned(vector);
        FAIL() << "no OutOfMemory";
    } catch (const OutOfMemory& error) {
        EXPECT_EQ(error.bytes(), std::size_t{1} << 62);
    }
}

TEST(CopyLimits, FailuresReachPythonAsPanicAndMemoryError) {
    double one = 1.0;
    PyObject* result = quilmo::boundary::entry_wrapper<PyObject*>(
        [&]() -> PyObject* {
            copy_to_owned(View2<double>{&one, kHuge, 3, 0, 0});
            return Py_None;
        },
        nullptr);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(take_exception_text(), "PanicException: capacity overflow");

    result = quilmo::boundary::entry_wrapper<PyObject*>(
        [&]() -> PyObject* {
            copy_to_owned(View1<double>{&one, std::size_t{1} << 59, 0});
            return Py_None;
        },
        nullptr);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(take_exception_text().rfind("MemoryError", 0), 0u);
}

struct VectorCase {
    const char* name;
    std::ptrdiff_t offset;  // of element 0 in the source
    std::size_t len;
    std::ptrdiff_t stride;
    std::ptrdiff_t copy_stride;  // expected
};

class VectorCopy : public ::testing::TestWithParam<VectorCase> {};

TEST_P(VectorCopy, KeepsContentAndChoosesStride) {
    const VectorCase& c = GetParam();
    std::vector<double> source = iota(40);
    View1<double> view{source.data() + c.offset, c.len, c.stride};
    OwnedArray1<double> copy = copy_to_owned(view);
    EXPECT_EQ(copy.len(), c.len);
    EXPECT_EQ(copy.stride(), c.copy_stride);
    EXPECT_EQ(elements(copy.view()), elements(view));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, VectorCopy,
    ::testing::Values(VectorCase{"contiguous", 3, 10, 1, 1},
                      VectorCase{"reversed", 20, 10, -1, -1},
                      VectorCase{"strided", 0, 10, 3, 1},
                      VectorCase{"strided_reversed", 39, 10, -4, 1},
                      VectorCase{"broadcast", 5, 10, 0, 1},
                      VectorCase{"single_far_stride", 7, 1, 9, 9},
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
    std::vector<double> raw = iota(200);
    std::vector<Pair> source(100);
    for (std::size_t i = 0; i < source.size(); ++i) {
        source[i] = Pair{raw[2 * i], -raw[2 * i + 1]};
    }
    View2<Pair> view{source.data() + c.offset, c.rows, c.cols, c.stride0, c.stride1};
    OwnedArray2<Pair> copy = copy_to_owned(view);
    ASSERT_EQ(copy.rows(), c.rows);
    ASSERT_EQ(copy.cols(), c.cols);
    if (c.keeps_strides) {
        EXPECT_EQ(copy.stride0(), c.stride0);
        EXPECT_EQ(copy.stride1(), c.stride1);
    } else {
        EXPECT_EQ(copy.stride0(), static_cast<std::ptrdiff_t>(c.cols));
        EXPECT_EQ(copy.stride1(), 1);
    }
    std::vector<Pair> want = elements(view);
    std::vector<Pair> got = elements(copy.view());
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t k = 0; k < want.size(); ++k) {
        EXPECT_EQ(got[k].re, want[k].re) << k;
        EXPECT_EQ(got[k].im, want[k].im) << k;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, MatrixCopy,
    ::testing::Values(MatrixCase{"row_major", 0, 4, 5, 5, 1, true},
                      MatrixCase{"column_major", 0, 4, 5, 1, 4, true},
                      MatrixCase{"rows_reversed", 15, 4, 5, -5, 1, true},
                      MatrixCase{"both_reversed", 19, 4, 5, -5, -1, true},
                      MatrixCase{"column_major_reversed", 19, 4, 5, -1, -4, true},
                      MatrixCase{"one_row_any_stride", 2, 1, 5, 77, 1, true},
                      MatrixCase{"one_column_any_stride", 2, 5, 1, 1, -33, true},
                      MatrixCase{"empty", 0, 0, 5, 0, 0, true},
                      MatrixCase{"row_gaps", 0, 4, 5, 6, 1, false},
                      MatrixCase{"col_strided", 0, 4, 5, 10, 2, false},
                      MatrixCase{"broadcast_rows", 0, 4, 5, 0, 1, false},
                      MatrixCase{"strided_reversed", 90, 3, 4, -20, -3, false}),
    [](const auto& info) { return std::string(info.param.name); });
