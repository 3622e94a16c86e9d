#include "support/Derivatives.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "kelm_math/comp_trace/Derivatives.hpp"

namespace vela::test {
namespace {

using Values = std::vector<double>;
using Traced = std::vector<ct::TracedDouble>;

ct::BindingSet bindingsAt(Case const& point) {
  ct::BindingSet b;
  for (std::size_t i = 0; i < point.doubles.size(); ++i)
    b.bind("d" + std::to_string(i), point.doubles[i]);
  for (std::size_t k = 0; k < point.ints.size(); ++k)
    b.bind("i" + std::to_string(k), point.ints[k]);
  return b;
}

Values evaluated(Traced const& values, Case const& point) {
  ct::BindingSet b = bindingsAt(point);
  Values out;
  for (auto const& v : values) out.push_back(v.evaluate(b));
  return out;
}

// Steps scaled to each coordinate: cbrt(eps) balances truncation and rounding.
double stepFor(double x) { return 6e-6 * std::max(1.0, std::fabs(x)); }

template <class F>
Values centralDifference(F const& f, Case point, std::size_t j) {
  double x = point.doubles[j], h = stepFor(x);
  point.doubles[j] = x + h;
  Values plus = f(point);
  point.doubles[j] = x - h;
  Values minus = f(point);
  for (std::size_t i = 0; i < plus.size(); ++i) plus[i] = (plus[i] - minus[i]) / (2 * h);
  return plus;
}

// |a - b| within tol of the larger of scale and |a|.
void expectNear(double a, double b, double tol, double scale, std::string const& what) {
  EXPECT_LE(std::fabs(a - b), tol * std::max({scale, std::fabs(a), 1e-300}))
      << what << ": " << a << " against " << b;
}

}  // namespace

std::vector<Case> uniformPoints(std::size_t n, std::size_t count, double lo, double hi,
                                unsigned seed, std::vector<int> ints) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(lo, hi);
  std::vector<Case> points(count);
  for (Case& p : points) {
    for (std::size_t i = 0; i < n; ++i) p.doubles.push_back(u(rng));
    p.ints = ints;
  }
  return points;
}

void checkDerivatives(DerivativeCase const& c) {
  SCOPED_TRACE(c.name);
  ASSERT_FALSE(c.points.empty());
  std::size_t n = c.points[0].doubles.size(), ints = c.points[0].ints.size();
  Inputs<vela::math::Traced> in(n, ints);
  Traced x = in.doubles(0, n), y = c.traced(in);
  std::size_t m = y.size();
  Traced jac = ct::jacobian(y, x);

  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Traced tangents(n), cotangents(m);
  for (auto& t : tangents) t = u(rng);
  for (auto& t : cotangents) t = u(rng);
  Traced jv = ct::jvp(y, x, tangents), uj = ct::vjp(y, x, cotangents);
  Traced all = jac;
  all.insert(all.end(), jv.begin(), jv.end());
  all.insert(all.end(), uj.begin(), uj.end());
  Traced hess;
  if (m == 1) {
    hess = ct::hessian(y[0], x);
    all.insert(all.end(), hess.begin(), hess.end());
  }
  Traced grad = m == 1 ? ct::gradient(y[0], x) : Traced();

  std::vector<Values> expected;
  for (Case const& point : c.points) {
    Values J = evaluated(jac, point), f = evaluated(y, point);
    auto numeric = [&](Case const& p) { return c.numeric(Inputs<vela::math::Numeric>(p)); };
    for (std::size_t j = 0; j < n; ++j) {
      Values d = centralDifference(numeric, point, j);
      for (std::size_t i = 0; i < m; ++i)
        expectNear(J[i * n + j], d[i], 1e-7,
                   std::fabs(f[i]) / std::max(1.0, std::fabs(point.doubles[j])),
                   "d output " + std::to_string(i) + " / d input " + std::to_string(j));
    }
    // u'(J v) computed forward and reverse.
    Values a = evaluated(jv, point), b = evaluated(uj, point);
    double forward = 0, reverse = 0, size = 0;
    for (std::size_t i = 0; i < m; ++i) {
      double ui = 0;
      cotangents[i].getConstant(ui);
      forward += ui * a[i];
      for (std::size_t j = 0; j < n; ++j) {
        double vj = 0;
        tangents[j].getConstant(vj);
        size += std::fabs(ui * J[i * n + j] * vj);
      }
    }
    for (std::size_t j = 0; j < n; ++j) {
      double vj = 0;
      tangents[j].getConstant(vj);
      reverse += b[j] * vj;
    }
    expectNear(forward, reverse, 1e-14 * static_cast<double>(n * m + 1), size,
               "forward against reverse");
    if (m == 1) {
      Values H = evaluated(hess, point);
      auto g = [&](Case const& p) { return evaluated(grad, p); };
      for (std::size_t j = 0; j < n; ++j) {
        Values d = centralDifference(g, point, j);
        for (std::size_t i = 0; i < n; ++i) {
          expectNear(H[i * n + j], d[i], 1e-6, 1.0, "second derivative");
          expectNear(H[i * n + j], H[j * n + i], 1e-12, 1.0, "Hessian symmetry");
        }
      }
    }
    expected.push_back(evaluated(all, point));
  }
  detail::checkTraced(all, n, ints, c.points, expected);
}

}  // namespace vela::test
