// kivMatrix: a 4x4 single-precision transformation matrix.
//
// Row-major: element (row i, column j) is m[4 * i + j]. Points are row
// vectors multiplied on the left, so a translation lives in row 3
// (elements 12, 13, 14) and A * B applies A first, then B.
#pragma once

#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

class kivPoint;
class kivVector;
class kivPoint4;

class kivMatrix {
  public:
    float m[16];

    // --- Construction -----------------------------------------------------
    // The identity.
    constexpr kivMatrix()
        : m{1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f,
            0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f} {}
    // Sixteen elements in row-major order.
    constexpr kivMatrix(float a00, float a01, float a02, float a03, float a10, float a11, float a12,
                        float a13, float a20, float a21, float a22, float a23, float a30, float a31,
                        float a32, float a33)
        : m{a00, a01, a02, a03, a10, a11, a12, a13, a20, a21, a22, a23, a30, a31, a32, a33} {}
    // Sixteen elements in row-major order from an array.
    explicit kivMatrix(const float* elements) {
        for (int i = 0; i < 16; ++i) m[i] = elements[i];
    }

    // --- Element access ---------------------------------------------------
    // Pointer to the first element of row i, so that M[i][j] is element (i, j).
    float* operator[](int i) { return m + 4 * i; }
    const float* operator[](int i) const { return m + 4 * i; }
    // Pointer to element (i, j).
    float* index(int i, int j) { return m + 4 * i + j; }
    const float* index(int i, int j) const { return m + 4 * i + j; }

    // --- Arithmetic -------------------------------------------------------
    // Matrix product: R[i][j] = sum over k of A[i][k] * B[k][j].
    kivMatrix operator*(const kivMatrix& b) const {
        kivMatrix r;
        for (int i = 0; i < 4; ++i) {
            const float* a = m + 4 * i;
            for (int j = 0; j < 4; ++j) {
                r.m[4 * i + j] =
                    a[0] * b.m[j] + a[1] * b.m[4 + j] + a[2] * b.m[8 + j] + a[3] * b.m[12 + j];
            }
        }
        return r;
    }
    kivMatrix operator+(const kivMatrix& b) const {
        kivMatrix r;
        for (int i = 0; i < 16; ++i) r.m[i] = m[i] + b.m[i];
        return r;
    }
    kivMatrix operator-(const kivMatrix& b) const {
        kivMatrix r;
        for (int i = 0; i < 16; ++i) r.m[i] = m[i] - b.m[i];
        return r;
    }

    // A new matrix R with R[i][j] = A[j][i]; this matrix is unchanged.
    kivMatrix transpose() const;
    // Sets this matrix to the identity.
    void identity() { *this = kivMatrix(); }

    // --- Determinants and inverses ----------------------------------------
    static float det2x2(float a, float b, float c, float d) { return a * d - b * c; }
    // Determinant of the 3x3 matrix with columns (a1 a2 a3), (b1 b2 b3), (c1 c2 c3).
    static float det3x3(float a1, float a2, float a3, float b1, float b2, float b3, float c1,
                        float c2, float c3) {
        return a1 * det2x2(b2, b3, c2, c3) - b1 * det2x2(a2, a3, c2, c3) +
               c1 * det2x2(a2, a3, b2, b3);
    }
    // Determinant by cofactor expansion along row 0.
    float det4x4() const;
    // out becomes the adjugate: out[j][i] is the cofactor of element (i, j).
    void adjoint(kivMatrix& out) const;
    // Replaces this matrix by its inverse and returns it. A matrix with
    // |det| below 0.0001 counts as singular and inverts to the identity.
    kivMatrix invert();

    // Inverse by Gaussian elimination against the identity, column by
    // column. On failure (a column without a pivot, or a pivot below 0.0001
    // in back substitution) both this matrix and the result are the identity.
    kivMatrix invert2();
    // Reduces this matrix to upper-triangular form, applying the same row
    // operations to b. A zero pivot is exchanged with the first following
    // row that is non-zero in that column. Returns -1 when a column has no
    // such row, else the parity (0 or 1) of the number of row exchanges.
    int lin_solv(kivMatrix& b);
    // Back substitution of one right-hand column (four values, replaced by
    // the solution) through this upper-triangular matrix, from row 3 up to
    // row 0. Returns -1 as soon as a pivot's magnitude is below 0.0001, else 0.
    int lin_norm(float* column) const;

    // --- Construction of rotations ----------------------------------------
    // Sets this matrix to the rotation that takes the local +z axis onto the
    // direction of a, with the local x axis along b x a (perpendicular to
    // both). When a and b are parallel the x row is left as the zero vector.
    void make_z_align_rot(const kivVector& a, const kivVector& b);

    // Writes "The matrix is:" and the four rows to standard output.
    void print() const;
};

// The point and vector types, with their products by matrices.
#include "foundation/vector_types.h"

KORVO_EXPORT_END
