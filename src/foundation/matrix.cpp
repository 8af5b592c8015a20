#include "foundation/matrix.h"

#include <cmath>
#include <cstdio>

namespace {

// Singularity threshold of invert and of the back substitution pivots.
constexpr float kSingular = 0.0001f;

// The 3x3 minor of m that leaves out row i and column j.
float minor3(const kivMatrix& a, int i, int j) {
    float e[9];
    int n = 0;
    for (int r = 0; r < 4; ++r) {
        if (r == i) continue;
        for (int c = 0; c < 4; ++c) {
            if (c != j) e[n++] = a[r][c];
        }
    }
    // det3x3 takes the matrix by columns; the determinant is the same.
    return kivMatrix::det3x3(e[0], e[1], e[2], e[3], e[4], e[5], e[6], e[7], e[8]);
}

}  // namespace

kivMatrix kivMatrix::transpose() const {
    kivMatrix r;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) r.m[4 * i + j] = m[4 * j + i];
    }
    return r;
}

float kivMatrix::det4x4() const {
    return m[0] * minor3(*this, 0, 0) - m[1] * minor3(*this, 0, 1) + m[2] * minor3(*this, 0, 2) -
           m[3] * minor3(*this, 0, 3);
}

void kivMatrix::adjoint(kivMatrix& out) const {
    kivMatrix r;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            const float cofactor = ((i + j) & 1) ? -minor3(*this, i, j) : minor3(*this, i, j);
            r.m[4 * j + i] = cofactor;
        }
    }
    out = r;  // out may be this matrix
}

kivMatrix kivMatrix::invert() {
    const float d = det4x4();
    kivMatrix adj;
    adjoint(adj);
    if (std::fabs(d) < kSingular) {
        identity();
    } else {
        for (int i = 0; i < 16; ++i) m[i] = adj.m[i] / d;
    }
    return *this;
}

int kivMatrix::lin_solv(kivMatrix& b) {
    int exchanges = 0;
    for (int col = 0; col < 4; ++col) {
        // A zero pivot takes the first following row that is non-zero here.
        if ((*this)[col][col] == 0.0f) {
            int row = col + 1;
            while (row < 4 && (*this)[row][col] == 0.0f) ++row;
            if (row == 4) return -1;
            for (int k = 0; k < 4; ++k) {
                float t = (*this)[col][k];
                (*this)[col][k] = (*this)[row][k];
                (*this)[row][k] = t;
                t = b[col][k];
                b[col][k] = b[row][k];
                b[row][k] = t;
            }
            ++exchanges;
        }
        // Eliminate the column below the pivot.
        const float pivot = (*this)[col][col];
        for (int row = col + 1; row < 4; ++row) {
            const float f = (*this)[row][col] / pivot;
            if (f == 0.0f) continue;
            for (int k = 0; k < 4; ++k) {
                (*this)[row][k] -= f * (*this)[col][k];
                b[row][k] -= f * b[col][k];
            }
            (*this)[row][col] = 0.0f;
        }
    }
    return exchanges & 1;
}

int kivMatrix::lin_norm(float* column) const {
    for (int row = 3; row >= 0; --row) {
        const float pivot = (*this)[row][row];
        if (std::fabs(pivot) < kSingular) return -1;
        float sum = column[row];
        for (int k = row + 1; k < 4; ++k) sum -= (*this)[row][k] * column[k];
        column[row] = sum / pivot;
    }
    return 0;
}

kivMatrix kivMatrix::invert2() {
    kivMatrix upper = *this;
    kivMatrix rhs;  // the identity, reduced alongside
    kivMatrix result;
    bool ok = upper.lin_solv(rhs) >= 0;
    for (int col = 0; ok && col < 4; ++col) {
        float column[4] = {rhs[0][col], rhs[1][col], rhs[2][col], rhs[3][col]};
        if (upper.lin_norm(column) < 0) {
            ok = false;
            break;
        }
        for (int row = 0; row < 4; ++row) result[row][col] = column[row];
    }
    if (!ok) result.identity();
    *this = result;
    return result;
}

void kivMatrix::make_z_align_rot(const kivVector& a, const kivVector& b) {
    kivVector xaxis = b ^ a;
    xaxis.norm();
    kivVector zaxis = a;
    zaxis.norm();
    const kivVector yaxis = zaxis ^ xaxis;
    *this = kivMatrix(xaxis.x, xaxis.y, xaxis.z, 0.0f, yaxis.x, yaxis.y, yaxis.z, 0.0f, zaxis.x,
                      zaxis.y, zaxis.z, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f);
}

void kivMatrix::print() const {
    std::printf("The matrix is:\n");
    for (int i = 0; i < 4; ++i) {
        std::printf("%f %f %f %f\n", m[4 * i], m[4 * i + 1], m[4 * i + 2], m[4 * i + 3]);
    }
}
