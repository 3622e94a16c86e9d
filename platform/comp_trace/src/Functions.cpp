#include "kelm_math/comp_trace/Functions.hpp"

#include <cmath>
#include <stdexcept>

#include "Recording.hpp"
#include "kelm_math/comp_trace/CollectOp.hpp"
#include "vela/codegen_runtime_scalar.h"

namespace kelm_math::comp_trace {

using detail::call;
using detail::Fn;

double ternary(bool c, double a, double b) { return c ? a : b; }
int ternary(bool c, int a, int b) { return c ? a : b; }
bool ternary(bool c, bool a, bool b) { return c ? a : b; }
namespace {
template <class T>
TracedValue<T> select(TracedBool const& c, TracedValue<T> const& a, TracedValue<T> const& b) {
  bool decided = false;
  if (c.getConstant(decided)) return decided ? a : b;
  return call<T>(Fn::Select, ScalarTypeOf<T>::value, c, a, b);
}
}  // namespace

TracedDouble ternary(TracedBool const& c, TracedDouble const& a, TracedDouble const& b) {
  return select(c, a, b);
}
TracedInt ternary(TracedBool const& c, TracedInt const& a, TracedInt const& b) {
  return select(c, a, b);
}
TracedBool ternary(TracedBool const& c, TracedBool const& a, TracedBool const& b) {
  return select(c, a, b);
}

int toInt(double x) { return vela_rt_d2i(x); }
TracedInt toInt(TracedDouble const& x) { return TracedInt(x); }

double guardedDivide(double a, double b) { return vela_rt_guarded_divide(a, b); }
TracedDouble guardedDivide(TracedDouble const& a, TracedDouble const& b) {
  return call<double>(Fn::GuardedDivide, ScalarType::Double, a, b);
}

double guardedAtan2(double y, double x) { return vela_rt_guarded_atan2(y, x); }
TracedDouble guardedAtan2(TracedDouble const& y, TracedDouble const& x) {
  return call<double>(Fn::GuardedAtan2, ScalarType::Double, y, x);
}

double sqrt(double x) { return std::sqrt(x); }
TracedDouble sqrt(TracedDouble const& x) { return call<double>(Fn::Sqrt, ScalarType::Double, x); }
double floor(double x) { return std::floor(x); }
TracedDouble floor(TracedDouble const& x) { return call<double>(Fn::Floor, ScalarType::Double, x); }
double abs(double x) { return std::fabs(x); }
TracedDouble abs(TracedDouble const& x) { return call<double>(Fn::Abs, ScalarType::Double, x); }
namespace {
// The C library functions: one meaning, apply(), for Numeric, folding and
// evaluation alike.
double numeric(Fn fn, double x, double y = 0.0) {
  ScalarValue args[2] = {x, y};
  return detail::apply(fn, ScalarType::Double, args).doubleValue();
}
TracedDouble traced(Fn fn, TracedDouble const& x) {
  return call<double>(fn, ScalarType::Double, x);
}
TracedDouble traced(Fn fn, TracedDouble const& x, TracedDouble const& y) {
  return call<double>(fn, ScalarType::Double, x, y);
}
}  // namespace

double sin(double x) { return numeric(Fn::Sin, x); }
TracedDouble sin(TracedDouble const& x) { return traced(Fn::Sin, x); }
double cos(double x) { return numeric(Fn::Cos, x); }
TracedDouble cos(TracedDouble const& x) { return traced(Fn::Cos, x); }
double tan(double x) { return numeric(Fn::Tan, x); }
TracedDouble tan(TracedDouble const& x) { return traced(Fn::Tan, x); }
double asin(double x) { return numeric(Fn::Asin, x); }
TracedDouble asin(TracedDouble const& x) { return traced(Fn::Asin, x); }
double acos(double x) { return numeric(Fn::Acos, x); }
TracedDouble acos(TracedDouble const& x) { return traced(Fn::Acos, x); }
double atan(double x) { return numeric(Fn::Atan, x); }
TracedDouble atan(TracedDouble const& x) { return traced(Fn::Atan, x); }
double atan2(double y, double x) { return numeric(Fn::Atan2, y, x); }
TracedDouble atan2(TracedDouble const& y, TracedDouble const& x) { return traced(Fn::Atan2, y, x); }
double exp(double x) { return numeric(Fn::Exp, x); }
TracedDouble exp(TracedDouble const& x) { return traced(Fn::Exp, x); }
double log(double x) { return numeric(Fn::Log, x); }
TracedDouble log(TracedDouble const& x) { return traced(Fn::Log, x); }
double pow(double x, double y) { return numeric(Fn::Pow, x, y); }
TracedDouble pow(TracedDouble const& x, TracedDouble const& y) { return traced(Fn::Pow, x, y); }
double hypot(double x, double y) { return numeric(Fn::Hypot, x, y); }
TracedDouble hypot(TracedDouble const& x, TracedDouble const& y) { return traced(Fn::Hypot, x, y); }

double sgn(double x) { return vela_rt_sgn(x); }
TracedDouble sgn(TracedDouble const& x) { return call<double>(Fn::Sgn, ScalarType::Double, x); }

double min(double a, double b) { return vela_rt_min(a, b); }
double max(double a, double b) { return vela_rt_max(a, b); }
int min(int a, int b) { return vela_rt_imin(a, b); }
int max(int a, int b) { return vela_rt_imax(a, b); }
TracedDouble min(TracedDouble const& a, TracedDouble const& b) {
  return call<double>(Fn::Min, ScalarType::Double, a, b);
}
TracedDouble max(TracedDouble const& a, TracedDouble const& b) {
  return call<double>(Fn::Max, ScalarType::Double, a, b);
}
TracedInt min(TracedInt const& a, TracedInt const& b) {
  return call<int>(Fn::Min, ScalarType::Int, a, b);
}
TracedInt max(TracedInt const& a, TracedInt const& b) {
  return call<int>(Fn::Max, ScalarType::Int, a, b);
}

namespace {
// One scan for both modes: the candidate changes only to a number strictly
// below it, or to any number when it is a NaN (!(v >= NaN) holds).
template <class D, class I>
I indexOfMinScan(D const* values, int n) {
  if (n <= 0) return I(-1);
  D best = values[0];
  I index(0);
  for (int i = 1; i < n; ++i) {
    auto smaller = !(values[i] >= best) && values[i] == values[i];
    index = ternary(smaller, I(i), index);
    best = ternary(smaller, values[i], best);
  }
  return index;
}

template <class T>
TracedValue<T> tracedArrayAccess(TracedValue<T> const* values, int n, TracedInt const& index) {
  int i = 0;
  if (index.getConstant(i)) return i >= 0 && i < n ? values[i] : TracedValue<T>();
  unsigned count = n > 0 ? static_cast<unsigned>(n) : 0u;
  auto collect = std::make_shared<CollectOp>(count, values, "");
  return TracedValue<T>(ScalarOperationPtr(std::make_shared<detail::ArrayAccessOp>(
      ScalarTypeOf<T>::value, count, index.operation(), collect)));
}
}  // namespace

int indexOfMin(double const* values, int n) { return indexOfMinScan<double, int>(values, n); }
TracedInt indexOfMin(TracedDouble const* values, int n) {
  return indexOfMinScan<TracedDouble, TracedInt>(values, n);
}

double arrayAccess(double const* values, int n, int index) {
  return vela_rt_access_d(n, values, index);
}
int arrayAccess(int const* values, int n, int index) { return vela_rt_access_i(n, values, index); }
TracedDouble arrayAccess(TracedDouble const* values, int n, TracedInt const& index) {
  return tracedArrayAccess(values, n, index);
}
TracedInt arrayAccess(TracedInt const* values, int n, TracedInt const& index) {
  return tracedArrayAccess(values, n, index);
}

bool all(bool a, bool b) { return a && b; }
bool all(bool a, bool b, bool c, bool d) { return a && b && c && d; }
bool all(std::vector<bool> const& values) {
  for (bool v : values)
    if (!v) return false;
  return true;
}
bool any(bool a, bool b) { return a || b; }
TracedBool all(TracedBool const& a, TracedBool const& b) { return a && b; }
TracedBool all(TracedBool const& a, TracedBool const& b, TracedBool const& c, TracedBool const& d) {
  return (a && b) && (c && d);
}
TracedBool all(std::vector<TracedBool> const& values) {
  TracedBool result(true);
  for (auto const& v : values) result = result && v;
  return result;
}
TracedBool any(TracedBool const& a, TracedBool const& b) { return a || b; }

}  // namespace kelm_math::comp_trace
