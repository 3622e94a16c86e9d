// Numeric products against Eigen's dynamic-size products mapped on the very
// same arrays, at the sizes the engine lives on.

#include <benchmark/benchmark.h>

#include <Eigen/Core>
#include <vector>

#include "vela/math.hpp"

namespace {

using Eigen::Index;
using MapMatrix = Eigen::Map<Eigen::MatrixXd>;
using MapConstMatrix = Eigen::Map<const Eigen::MatrixXd>;
using MapVector = Eigen::Map<Eigen::VectorXd>;
using MapConstVector = Eigen::Map<const Eigen::VectorXd>;

// Square n by n factors, vectors of n and a result, filled with values of
// mixed signs and magnitudes that stay normal through the products.
struct ProductData {
  explicit ProductData(unsigned n) : n(n), a(n * n), b(n * n), c(n * n), x(n), y(n) {
    for (unsigned i = 0; i < n * n; ++i) {
      a[i] = 0.5 + 0.25 * (i % 7) - 0.125 * (i % 3);
      b[i] = 1.0 / (1.0 + i) - 0.3;
    }
    for (unsigned i = 0; i < n; ++i) {
      x[i] = 0.75 - 0.5 * i / n;
      y[i] = 0.1 * i;
    }
  }
  void clobber() {
    benchmark::DoNotOptimize(a.data());
    benchmark::DoNotOptimize(b.data());
    benchmark::DoNotOptimize(c.data());
    benchmark::DoNotOptimize(x.data());
    benchmark::DoNotOptimize(y.data());
  }
  unsigned n;
  std::vector<double> a, b, c, x, y;
};

// One benchmark body per product: prepare the data, run `body` per iteration.
template <class Body>
void run(benchmark::State& state, Body body) {
  ProductData d(static_cast<unsigned>(state.range(0)));
  for (auto _ : state) {
    d.clobber();
    body(d);
    benchmark::ClobberMemory();
  }
}

#define PRODUCT_SIZES ->Arg(3)->Arg(6)->Arg(12)->Arg(30)

void BM_MatrixMultiply_Vela(benchmark::State& state) {
  run(state, [](ProductData& d) {
    vela::math::matrixMultiply(d.n, d.n, d.n, d.a.data(), d.b.data(), d.c.data());
  });
}
BENCHMARK(BM_MatrixMultiply_Vela) PRODUCT_SIZES;

void BM_MatrixMultiply_Eigen(benchmark::State& state) {
  run(state, [](ProductData& d) {
    Index n = d.n;
    MapConstMatrix A(d.a.data(), n, n), B(d.b.data(), n, n);
    MapMatrix C(d.c.data(), n, n);
    C.noalias() = A * B;
  });
}
BENCHMARK(BM_MatrixMultiply_Eigen) PRODUCT_SIZES;

void BM_MatrixTransposeMultiply_Vela(benchmark::State& state) {
  run(state, [](ProductData& d) {
    vela::math::matrixTransposeMultiply(d.n, d.n, d.n, d.a.data(), d.b.data(), d.c.data());
  });
}
BENCHMARK(BM_MatrixTransposeMultiply_Vela) PRODUCT_SIZES;

void BM_MatrixTransposeMultiply_Eigen(benchmark::State& state) {
  run(state, [](ProductData& d) {
    Index n = d.n;
    MapConstMatrix A(d.a.data(), n, n), B(d.b.data(), n, n);
    MapMatrix C(d.c.data(), n, n);
    C.noalias() = A.transpose() * B;
  });
}
BENCHMARK(BM_MatrixTransposeMultiply_Eigen) PRODUCT_SIZES;

void BM_MatrixVectorMultiply_Vela(benchmark::State& state) {
  run(state, [](ProductData& d) {
    vela::math::matrixVectorMultiply(d.n, d.n, d.a.data(), d.x.data(), d.y.data());
  });
}
BENCHMARK(BM_MatrixVectorMultiply_Vela) PRODUCT_SIZES;

void BM_MatrixVectorMultiply_Eigen(benchmark::State& state) {
  run(state, [](ProductData& d) {
    Index n = d.n;
    MapConstMatrix A(d.a.data(), n, n);
    MapConstVector x(d.x.data(), n);
    MapVector y(d.y.data(), n);
    y.noalias() = A * x;
  });
}
BENCHMARK(BM_MatrixVectorMultiply_Eigen) PRODUCT_SIZES;

// y grows by A x every iteration; x is small enough that it stays finite
// over any run length the benchmark picks (and the cost does not depend on
// the values anyway, as no subnormal can arise from these inputs).
void BM_AddMatrixVectorProduct_Vela(benchmark::State& state) {
  run(state, [](ProductData& d) {
    vela::math::addMatrixVectorProduct(d.n, d.n, d.a.data(), d.x.data(), d.y.data());
  });
}
BENCHMARK(BM_AddMatrixVectorProduct_Vela) PRODUCT_SIZES;

void BM_AddMatrixVectorProduct_Eigen(benchmark::State& state) {
  run(state, [](ProductData& d) {
    Index n = d.n;
    MapConstMatrix A(d.a.data(), n, n);
    MapConstVector x(d.x.data(), n);
    MapVector y(d.y.data(), n);
    y.noalias() += A * x;
  });
}
BENCHMARK(BM_AddMatrixVectorProduct_Eigen) PRODUCT_SIZES;

void BM_DotProduct_Vela(benchmark::State& state) {
  run(state, [](ProductData& d) {
    benchmark::DoNotOptimize(vela::math::dotProduct(d.n, d.x.data(), d.y.data()));
  });
}
BENCHMARK(BM_DotProduct_Vela) PRODUCT_SIZES;

void BM_DotProduct_Eigen(benchmark::State& state) {
  run(state, [](ProductData& d) {
    Index n = d.n;
    MapConstVector x(d.x.data(), n), y(d.y.data(), n);
    benchmark::DoNotOptimize(x.dot(y));
  });
}
BENCHMARK(BM_DotProduct_Eigen) PRODUCT_SIZES;

}  // namespace

BENCHMARK_MAIN();
