// A guided run through vela::math. One step of a spinning rigid body,
// written once over the mode, computed on plain doubles, recorded as a graph
// from traced inputs, evaluated against bindings, turned into C that is
// compiled, loaded and run, and differentiated. Then each subsystem once, in
// both modes where it has both: two bodies' mass distributions summed and
// moved, a beam section's principal values, a Gauss rule, an augmented
// spatial inertia times a velocity, and the point of a spline nearest to a
// query point. Last, two curves through the same points and that query are
// drawn as an SVG picture, written to the path given as the only argument
// (tour-curves.svg in the current directory without one). Exits non-zero
// when a step fails, a check of what it prints fails, or the paths differ
// in a single bit.

#include <dlfcn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "vela/math.hpp"

namespace {

namespace fs = std::filesystem;
using vela::math::Numeric;
using vela::math::Scalar;
using vela::math::Traced;
using vela::math::TracedDouble;
using Names = std::vector<std::string>;

// A body of mass 2 whose centre of mass sits at c in its own frame, with
// inertia I about that centre (kg m^2; body frame, positive definite). It
// turns about the world z axis through the point (0, 0, 1) and feels the
// torque tau.
double const kMass = 2.0;
double const kCenter[3] = {0.5, 0.0, 0.25};
double const kInertiaDiagonal[3] = {0.3, 0.4, 0.5};
double const kInertiaOffDiagonal[3] = {0.02, -0.01, 0.05};  // yz, zx, xy
double const kTorque[3] = {0.0, 0.1, 0.2};

template <class Mode>
vela::math::Vector3_T<Mode> vector3(double const* v) {
  return vela::math::Vector3_T<Mode>(v[0], v[1], v[2]);
}

// The body at angle theta (rad) turning at rate omega (rad/s), in the world
// frame: its momentum h = M V about its centre (M the spatial inertia, V the
// twist (w, w x c)), and the angular acceleration alpha from Euler's
// equation I alpha = tau - w x (I w), solved by Cholesky. Outputs h (6),
// alpha (3) and the flag of the factorization (0 when it worked).
template <class Mode>
std::vector<Scalar<Mode>> rigidBodyStep(Scalar<Mode> const& theta, Scalar<Mode> const& omega) {
  using Real = Scalar<Mode>;
  using Vector = vela::math::Vector3_T<Mode>;
  using Matrix = vela::math::Matrix3x3_T<Mode>;

  // The turn by theta about z, as a quaternion and as a matrix R.
  Real half = theta * 0.5;
  vela::math::Quaternion_T<Mode> turn(vela::math::cos(half), 0.0, 0.0, vela::math::sin(half));
  vela::math::Transform3_T<Mode> pose(turn, Vector(0.0, 0.0, 1.0));
  Matrix rotation(turn);
  Matrix bodyInertia(vector3<Mode>(kInertiaDiagonal), vector3<Mode>(kInertiaOffDiagonal));
  Matrix inertia = rotation.compose(bodyInertia).composeTranspose(rotation);  // R I R^T
  Vector center = pose.xformPoint(vector3<Mode>(kCenter));
  Vector w(0.0, 0.0, omega);

  vela::math::SymmetricSpatialMatrix_T<Mode> spatialInertia(inertia, Matrix(),
                                                            Matrix::identity() * kMass);
  vela::math::SpatialVector_T<Mode> twist(w, w.cross(center));
  vela::math::SpatialVector_T<Mode> momentum = spatialInertia.xform(twist);

  Vector rhs = vector3<Mode>(kTorque) - w.cross(inertia * w);
  Real factor[9], work[3], alpha[3];
  std::copy(inertia.values(), inertia.values() + 9, factor);
  auto failed = vela::math::factorSymmetricPosDef(factor, 3u, work);
  vela::math::solveSymmetricPosDef(factor, rhs.values(), 3u, 1u, alpha, work);

  std::vector<Real> out(momentum.values(), momentum.values() + 6);
  out.insert(out.end(), alpha, alpha + 3);
  out.push_back(Real(failed));
  return out;
}

Names const kOutputNames = {"h[0]", "h[1]",     "h[2]",     "h[3]",     "h[4]",
                            "h[5]", "alpha[0]", "alpha[1]", "alpha[2]", "failed"};
double const kTheta = 0.7, kOmega = 2.5;
char const* const kFunctionName = "tour_rigid_body";

// A second body of mass m2 (kg), centre c2 (m), inertia about it I2, J2
// (kg m^2), joined to the first; the pair is then turned by theta about z
// and lifted by p (m), unless it stays where it is.
double const kSecondMass = 1.5;
double const kSecondCenter[3] = {-0.4, 0.6, 0.1};
double const kSecondMoments[3] = {0.1, 0.12, 0.15};
double const kSecondProducts[3] = {0.0, 0.01, 0.0};
double const kLift[3] = {1.0, 0.0, 0.5};

template <class Mode>
vela::math::LumpedDistribution<Mode> movedPair(Scalar<Mode> const& m2, Scalar<Mode> const& theta,
                                               bool moved = true) {
  using Body = vela::math::LumpedDistribution<Mode>;
  Body const first(true, kMass, vector3<Mode>(kCenter), vector3<Mode>(kInertiaDiagonal),
                   vector3<Mode>(kInertiaOffDiagonal));
  Body const second(true, m2, vector3<Mode>(kSecondCenter), vector3<Mode>(kSecondMoments),
                    vector3<Mode>(kSecondProducts));
  if (!moved) return first + second;
  Scalar<Mode> const half = theta * 0.5;
  vela::math::Quaternion_T<Mode> const turn(vela::math::cos(half), 0.0, 0.0, vela::math::sin(half));
  return (first + second).transform(vela::math::Transform3_T<Mode>(turn, vector3<Mode>(kLift)));
}

// A steel angle: E, G (Pa), rho (kg/m^3), A (m^2), Ixx, Iyy, Ixy, J (m^4),
// its bending centroid off the section origin (m).
double const kAngleIxy = 0.6e-6;

template <class Mode>
vela::math::BeamSectionalProperties<Mode> angleSection(Scalar<Mode> const& ixy) {
  using Point = vela::math::Vector2_T<Mode>;
  typename vela::math::BeamSectionalProperties<Mode>::Fields f;
  f.bendingCentroid = Point(0.012, 0.02);
  f.shearCenter = Point(0.0, 0.0);
  f.youngsModulus = 210e9;
  f.shearModulus = 81e9;
  f.density = 7850.0;
  f.area = 1.2e-3;
  f.xSecondMomentOfArea = 2.1e-6;
  f.ySecondMomentOfArea = 0.9e-6;
  f.xyProductOfArea = ixy;
  f.torsionConstant = 0.05e-6;
  return vela::math::BeamSectionalProperties<Mode>(f);
}

// The rigid body's spatial inertia about its centre, augmented by two
// flexible modes: their modal mass matrix (kg, column-major) and their
// coupling with the six rigid coordinates (angular first, one column each).
double const kModalMass[4] = {1.0, 0.1, 0.1, 0.5};
double const kModalCoupling[12] = {0.0, 0.05, 0.0, 0.3, 0.0, 0.0, 0.02, 0.0, 0.0, 0.0, 0.0, 0.2};
double const kLinearVelocity[3] = {0.3, 0.0, 0.0};  // m/s
double const kModalRates[2] = {0.4, -0.2};

template <class Mode>
vela::math::SymmetricAugmentedSpatialMatrix<Mode> flexibleInertia() {
  using Matrix = vela::math::Matrix3x3_T<Mode>;
  vela::math::SymmetricSpatialMatrix_T<Mode> const rigid(
      Matrix(vector3<Mode>(kInertiaDiagonal), vector3<Mode>(kInertiaOffDiagonal)), Matrix(),
      Matrix::identity() * kMass);
  return {rigid, std::vector<Scalar<Mode>>(kModalMass, kModalMass + 4),
          std::vector<Scalar<Mode>>(kModalCoupling, kModalCoupling + 12)};
}

// Seven points in the plane, and a query point among them.
std::vector<vela::math::Vector2_T<Numeric>> curvePoints() {
  return {{0.0, 0.0}, {1.0, 2.0}, {3.0, 2.5}, {4.0, 1.0}, {6.0, 1.5}, {5.0, 4.0}, {2.0, 4.5}};
}
double const kQuery[2] = {2.2, 3.4};

void section(char const* title) { std::printf("\n== %s ==\n", title); }

char const* yesNo(bool b) { return b ? "yes" : "no"; }

// Equal up to a relative tolerance.
bool near(double a, double b, double tolerance) {
  return std::fabs(a - b) <= tolerance * std::max({1.0, std::fabs(a), std::fabs(b)});
}

bool sameBits(std::vector<double> const& x, std::vector<double> const& y) {
  return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) == 0;
}

// Named rows of numbers, one column per path.
void printColumns(Names const& rows, Names const& heads,
                  std::vector<std::vector<double> const*> const& columns) {
  int width = 8;
  for (auto const& row : rows) width = std::max(width, static_cast<int>(row.size()));
  if (!heads.empty()) {
    std::printf("  %-*s", width, "");
    for (std::size_t j = 0; j < heads.size(); ++j)
      std::printf(j + 1 < heads.size() ? "  %-24s" : "  %s\n", heads[j].c_str());
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::printf("  %-*s", width, rows[i].c_str());
    for (std::size_t j = 0; j < columns.size(); ++j)
      std::printf(j + 1 < columns.size() ? "  %-24.17g" : "  %.17g\n", (*columns[j])[i]);
  }
}

void printOutputs(std::vector<double> const& v) { printColumns(kOutputNames, {}, {&v}); }

// The first lines of text, and how many more there are.
void printHead(std::string const& text, int lines) {
  std::size_t end = 0;
  for (int i = 0; i < lines && end != std::string::npos; ++i) end = text.find('\n', end + 1);
  std::printf("----- generated C -----\n%s\n", text.substr(0, end).c_str());
  if (end != std::string::npos)
    std::printf("  ... %td more lines\n", std::count(text.begin() + end + 1, text.end(), '\n'));
}

std::string quoted(std::string const& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// A fresh directory, removed with its contents at scope exit.
class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    std::string pattern = (fs::temp_directory_path() / "vela-tour-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TemporaryDirectory() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  TemporaryDirectory(TemporaryDirectory const&) = delete;
  TemporaryDirectory& operator=(TemporaryDirectory const&) = delete;
  fs::path const& path() const { return path_; }

 private:
  fs::path path_;
};

// Compiles source as a shared object, loads it and calls the function name
// once; shows the compiler's command line when asked.
bool compileAndRun(std::string const& name, std::string const& source, double const* in,
                   double* out, bool showCommand) {
  TemporaryDirectory dir;
  if (dir.path().empty()) {
    std::perror("  mkdtemp");
    return false;
  }
  fs::path const c = dir.path() / (name + ".c");
  fs::path const so = dir.path() / (name + ".so");
  if (!(std::ofstream(c) << source)) {
    std::printf("  cannot write %s\n", c.c_str());
    return false;
  }
  std::string const extraFlags =
      *VELA_TOUR_EXTRA_CFLAGS ? std::string(" ") + VELA_TOUR_EXTRA_CFLAGS : std::string();
  std::string const command =
      quoted(VELA_TOUR_CC) + " -std=c99 -O2 -ffp-contract=off -Wall -Wextra -Werror -fPIC -shared" +
      extraFlags + " -I" + quoted(VELA_TOUR_RUNTIME_INCLUDE) + " -I" +
      quoted(VELA_TOUR_CKERNELS_INCLUDE) + " -I" + quoted(VELA_TOUR_LINALG_INCLUDE) + " " +
      quoted(c) + " " + quoted(VELA_TOUR_CKERNELS_ARCHIVE) + " " +
      quoted(VELA_TOUR_LINALG_ARCHIVE) + " " + quoted(VELA_TOUR_FOUNDATION_ARCHIVE) + " " +
      VELA_TOUR_LAPACK_LIBRARIES + " -lm -o " + quoted(so);
  if (showCommand) std::printf("  $ %s\n", command.c_str());
  std::fflush(stdout);
  int const status = std::system(command.c_str());
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::printf("  the C compiler failed (status %d)\n", status);
    return false;
  }
  void* library = dlopen(so.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::printf("  dlopen: %s\n", dlerror());
    return false;
  }
  using Function = void (*)(double const*, double*);
  auto function = reinterpret_cast<Function>(dlsym(library, name.c_str()));
  if (function == nullptr) {
    std::printf("  dlsym: %s\n", dlerror());
    dlclose(library);
    return false;
  }
  function(in, out);
  dlclose(library);
  std::printf("  compiled, loaded and called %s(in, out)\n", name.c_str());
  return true;
}

// A computation written once over the mode, from named inputs to named
// outputs: on doubles, then recorded from traced inputs and evaluated,
// replayed on a tape and compiled as C. Prints the paths side by side and
// returns the Numeric results, or nothing when the paths differ in a bit.
template <class Compute>
std::vector<double> allPaths(std::string const& function, Names const& inputs,
                             std::vector<double> const& values, Names const& outputs,
                             Compute compute) {
  std::vector<double> const numeric = compute(Numeric(), values);
  vela::math::BindingSet bindings;
  std::vector<TracedDouble> in;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    in.push_back(TracedDouble::input(inputs[i]));
    bindings.bind(inputs[i], values[i]);
  }
  std::vector<TracedDouble> const traced = compute(Traced(), in);
  std::vector<double> evaluated, taped(traced.size()), generated(traced.size());
  for (auto const& value : traced) evaluated.push_back(value.evaluate(bindings));
  vela::math::Tape(inputs, traced)(values.data(), taped.data());
  std::string const source = vela::math::generateCFunction(function, inputs, traced);
  if (!compileAndRun(function, source, values.data(), generated.data(), false)) return {};
  printColumns(outputs, {"Numeric", "evaluated", "generated C"},
               {&numeric, &evaluated, &generated});
  bool const agree =
      sameBits(numeric, evaluated) && sameBits(numeric, taped) && sameBits(numeric, generated);
  std::printf("  Numeric, evaluated, tape and generated C agree bit for bit: %s\n", yesNo(agree));
  return agree ? numeric : std::vector<double>();
}

// d h / d theta and d alpha / d theta (outputs 0 to 8; alpha through the
// Cholesky factor and solve) evaluated, compiled and run, against a central
// difference of the Numeric step.
bool tourDerivatives(std::vector<TracedDouble> const& traced, TracedDouble const& theta) {
  std::size_t const n = 9;
  std::vector<TracedDouble> const jacobian =
      vela::math::jacobian({traced.begin(), traced.begin() + n}, {theta});
  vela::math::BindingSet bindings;
  bindings.bind("theta", kTheta);
  bindings.bind("omega", kOmega);
  std::vector<double> evaluated, generated(n);
  for (auto const& value : jacobian) evaluated.push_back(value.evaluate(bindings));
  double const in[2] = {kTheta, kOmega};
  std::string const source =
      vela::math::generateCFunction(kFunctionName, {"theta", "omega"}, jacobian);
  if (!compileAndRun(kFunctionName, source, in, generated.data(), false)) return false;
  double const h = 1e-6;
  std::vector<double> const plus = rigidBodyStep<Numeric>(kTheta + h, kOmega);
  std::vector<double> const minus = rigidBodyStep<Numeric>(kTheta - h, kOmega);
  std::vector<double> difference(n);
  bool close = true;
  for (std::size_t i = 0; i < n; ++i) {
    difference[i] = (plus[i] - minus[i]) / (2 * h);
    close = close && near(difference[i], evaluated[i], 1e-7);
  }
  printColumns({kOutputNames.begin(), kOutputNames.begin() + n},
               {"evaluated", "generated C", "central difference"},
               {&evaluated, &generated, &difference});
  bool const same = sameBits(evaluated, generated);
  std::printf("  evaluated and generated C agree bit for bit: %s\n", yesNo(same));
  std::printf("  within 1e-7 of the central difference: %s\n", yesNo(close));
  return same && close;
}

bool tourDistributions() {
  std::vector<double> const out =
      allPaths("tour_two_bodies", {"m2", "theta"}, {kSecondMass, kTheta},
               {"center[0]", "center[1]", "center[2]", "I1", "I2", "I3", "axes.w", "axes.x",
                "axes.y", "axes.z"},
               [](auto mode, auto const& in) {
                 auto const pair = movedPair<decltype(mode)>(in[0], in[1]);
                 auto const c = pair.center(), moments = pair.principalMoments();
                 auto const axes = pair.principalToReferenceTransform().quaternion();
                 return std::vector<Scalar<decltype(mode)>>{
                     c.x(),       c.y(),    c.z(),    moments.x(), moments.y(),
                     moments.z(), axes.w(), axes.x(), axes.y(),    axes.z()};
               });
  if (out.empty()) return false;
  // The centre, from the two bodies' centres by hand, turned and lifted.
  double const m = kMass + kSecondMass, cs = std::cos(kTheta), sn = std::sin(kTheta);
  double bar[3];
  for (int k = 0; k < 3; ++k) bar[k] = (kMass * kCenter[k] + kSecondMass * kSecondCenter[k]) / m;
  bool const centered = near(out[0], cs * bar[0] - sn * bar[1] + kLift[0], 1e-14) &&
                        near(out[1], sn * bar[0] + cs * bar[1] + kLift[1], 1e-14) &&
                        near(out[2], bar[2] + kLift[2], 1e-14);
  // The principal axes R and moments P give the central inertia back: R P R^T.
  using Matrix = vela::math::Matrix3x3_T<Numeric>;
  using Vector = vela::math::Vector3_T<Numeric>;
  auto const pair = movedPair<Numeric>(kSecondMass, kTheta);
  Matrix const R(pair.principalToReferenceTransform().quaternion());
  Matrix const back = R.compose(Matrix(pair.principalMoments(), Vector())).composeTranspose(R);
  Matrix const inertia(pair.centerMoments(), pair.centerProducts());
  // Moving the pair only turns its inertia about the centre.
  auto sorted = [](Vector v) {
    std::sort(v.values(), v.values() + 3);
    return v;
  };
  Vector const before = sorted(movedPair<Numeric>(kSecondMass, kTheta, false).principalMoments());
  Vector const after = sorted(pair.principalMoments());
  bool principal = true;
  for (int k = 0; k < 3; ++k) principal = principal && near(after.coord(k), before.coord(k), 1e-14);
  for (int k = 0; k < 9; ++k)
    principal = principal && near(back.values()[k], inertia.values()[k], 1e-14);
  std::printf("  mass %g kg; centre = the bodies' centres weighted, turned and lifted: %s\n",
              pair.total(), yesNo(centered));
  std::printf(
      "  I1, I2, I3 as before the move; R diag(I1, I2, I3) R^T = the inertia about the "
      "centre: %s\n",
      yesNo(principal));
  return centered && principal;
}

bool tourBeam() {
  std::vector<double> const out =
      allPaths("tour_beam", {"Ixy"}, {kAngleIxy},
               {"orientation", "EI_x", "EI_y", "rhoI_x", "rhoI_y"}, [](auto mode, auto const& in) {
                 auto const s = angleSection<decltype(mode)>(in[0]);
                 return std::vector<Scalar<decltype(mode)>>{
                     s.principalAxisOrientation(), s.xPrincipalBendingStiffness(),
                     s.yPrincipalBendingStiffness(), s.xPrincipalMassMomentOfInertiaDensity(),
                     s.yPrincipalMassMomentOfInertiaDensity()};
               });
  if (out.empty()) return false;
  // Principal values are the eigenvalues of the centroidal 2 by 2 tensor:
  // the smaller first, with its trace and determinant.
  auto const s = angleSection<Numeric>(kAngleIxy);
  auto eigen = [](double x, double y, double xy, double small, double large) {
    return small <= large && near(small + large, x + y, 1e-14) &&
           near(small * large, x * y - xy * xy, 1e-12);
  };
  bool const principal =
      eigen(s.xCentroidalBendingStiffness(), s.yCentroidalBendingStiffness(),
            s.xyCentroidalCrossBendingStiffness(), out[1], out[2]) &&
      eigen(s.xCentroidalMassMomentOfInertiaDensity(), s.yCentroidalMassMomentOfInertiaDensity(),
            s.xyCentroidalMassProductOfInertiaDensity(), out[3], out[4]);
  std::printf("  centroidal EI: %.6g, %.6g, cross %.6g N m^2\n", s.xCentroidalBendingStiffness(),
              s.yCentroidalBendingStiffness(), s.xyCentroidalCrossBendingStiffness());
  std::printf("  principal values: the centroidal tensors' eigenvalues, smaller first: %s\n",
              yesNo(principal));
  return principal;
}

bool tourGauss() {
  std::size_t const order = 3;
  vela::math::GaussQuadrature const rule(vela::math::GaussQuadrature::kQuadrilateral, order);
  struct Integrand {
    char const* text;
    double exact;
    double (*f)(double, double);
  };
  // Exact up to degree 2 order - 1 in each coordinate, not beyond.
  Integrand const integrands[] = {
      {"x^4 y^2 + x y + 1", 64.0 / 15.0,
       [](double x, double y) { return x * x * x * x * y * y + x * y + 1.0; }},
      {"x^6", 4.0 / 7.0, [](double x, double) { return x * x * x * x * x * x; }}};
  std::printf("  %zu-point rule over [-1, 1]^2\n  %-18s  %-24s  %-24s  %s\n", rule.numPoints,
              "integrand", "exact", "rule", "difference");
  double difference[2];
  for (int k = 0; k < 2; ++k) {
    double sum = 0.0;
    for (std::size_t i = 0; i < rule.numPoints; ++i)
      sum += rule.weights[i] * integrands[k].f(rule.xi[i], rule.eta[i]);
    difference[k] = sum - integrands[k].exact;
    std::printf("  %-18s  %-24.17g  %-24.17g  %.3g\n", integrands[k].text, integrands[k].exact, sum,
                difference[k]);
  }
  // The tables' 15-digit weights bound the error of an exact rule.
  bool const exact = std::fabs(difference[0]) <= 1e-13 && std::fabs(difference[1]) > 1e-3;
  std::printf("  exact to degree 5, not degree 6: %s\n", yesNo(exact));
  return exact;
}

bool tourAugmented() {
  std::vector<double> const values = {kOmega, kModalRates[0]};
  std::vector<double> const out = allPaths(
      "tour_augmented", {"omega", "qdot"}, values,
      {"p[0]", "p[1]", "p[2]", "p[3]", "p[4]", "p[5]", "p_q[0]", "p_q[1]"},
      [](auto mode, auto const& in) {
        using Mode = decltype(mode);
        using Vector = vela::math::Vector3_T<Mode>;
        vela::math::SpatialVector_T<Mode> const twist(Vector(0.0, 0.0, in[0]),
                                                      vector3<Mode>(kLinearVelocity));
        vela::math::AugmentedSpatialVector<Mode> const velocity(
            twist, std::vector<Scalar<Mode>>{in[1], kModalRates[1]});
        auto const momentum = flexibleInertia<Mode>() * velocity;
        std::vector<Scalar<Mode>> result(momentum.spatial().values(),
                                         momentum.spatial().values() + 6);
        result.insert(result.end(), momentum.augmented().begin(), momentum.augmented().end());
        return result;
      });
  if (out.empty()) return false;
  // The same product through the full 8 by 8 matrix, assembled from its blocks.
  auto const A = flexibleInertia<Numeric>();
  double const v[8] = {0.0,
                       0.0,
                       kOmega,
                       kLinearVelocity[0],
                       kLinearVelocity[1],
                       kLinearVelocity[2],
                       kModalRates[0],
                       kModalRates[1]};
  bool dense = true;
  for (int i = 0; i < 8; ++i) {
    double sum = 0.0;
    for (int j = 0; j < 8; ++j)
      sum += v[j] * (i < 6 && j < 6 ? A.symmetricSpatial().element(i, j)
                     : i < 6        ? kModalCoupling[6 * (j - 6) + i]
                     : j < 6        ? kModalCoupling[6 * (i - 6) + j]
                                    : kModalMass[(i - 6) + 2 * (j - 6)]);
    dense = dense && near(out[i], sum, 1e-14);
  }
  std::printf("  the full 8 by 8 matrix times (w, v, qdot) gives the same: %s\n", yesNo(dense));
  return dense;
}

// ---- The curve picture ----

using Point2 = vela::math::Vector2_T<Numeric>;

// One thing drawn: a polyline through the points, or a circle of the given
// radius at points[0]; cls names what it shows.
struct SvgShape {
  std::vector<Point2> points;
  std::string style;
  std::string cls;
  double radius = 0.0;
};

// A legend row: a short line, or a dot when radius > 0, and its label.
struct LegendRow {
  std::string style;
  std::string label;
  double radius = 0.0;
};

// Pixel coordinates with two decimals, the same under every locale.
std::string svgNumber(double v) {
  char text[64];
  auto const result = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 2);
  return result.ec == std::errc() ? std::string(text, result.ptr) : std::string("nan");
}

void writeShape_(std::ofstream& out, std::string const& cls, std::string const& style,
                 std::vector<std::pair<double, double>> const& at, double radius) {
  if (radius > 0.0) {
    out << "  <circle class=\"" << cls << "\" cx=\"" << svgNumber(at[0].first) << "\" cy=\""
        << svgNumber(at[0].second) << "\" r=\"" << svgNumber(radius) << "\" " << style << "/>\n";
    return;
  }
  out << "  <polyline class=\"" << cls << "\" fill=\"none\" " << style << " points=\"";
  for (auto const& p : at) out << svgNumber(p.first) << ',' << svgNumber(p.second) << ' ';
  out << "\"/>\n";
}

// Writes the shapes fitted into a 600-pixel-wide plot, y pointing up, under
// a title and beside a legend, on a white background.
bool writeSvg(fs::path const& path, std::string const& title, std::vector<SvgShape> const& shapes,
              std::vector<LegendRow> const& legend) {
  double lo[2] = {HUGE_VAL, HUGE_VAL}, hi[2] = {-HUGE_VAL, -HUGE_VAL};
  for (auto const& shape : shapes)
    for (auto const& p : shape.points)
      for (int k = 0; k < 2; ++k)
        lo[k] = std::min(lo[k], p.values()[k]), hi[k] = std::max(hi[k], p.values()[k]);
  double const margin = 20.0, top = 50.0, plotWidth = 600.0, width = 900.0, rowHeight = 26.0;
  double const legendX = plotWidth + 2 * margin;
  double const scale = (plotWidth - 2 * margin) / std::max(hi[0] - lo[0], 1e-300);
  double const plotBottom = top + margin + scale * (hi[1] - lo[1]);
  double const height =
      std::max(plotBottom + margin, top + (static_cast<double>(legend.size()) + 1) * rowHeight);
  auto pixel = [&](Point2 const& p) {
    return std::make_pair(margin + scale * (p.x() - lo[0]), plotBottom - scale * (p.y() - lo[1]));
  };
  std::ofstream out(path);
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << svgNumber(width) << "\" height=\""
      << svgNumber(height) << "\" viewBox=\"0 0 " << svgNumber(width) << ' ' << svgNumber(height)
      << "\" font-family=\"sans-serif\">\n  <title>" << title
      << "</title>\n  <rect class=\"background\" width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "  <text x=\"" << svgNumber(margin) << "\" y=\"32\" font-size=\"18\">" << title
      << "</text>\n";
  for (auto const& shape : shapes) {
    std::vector<std::pair<double, double>> at;
    for (auto const& p : shape.points) at.push_back(pixel(p));
    writeShape_(out, shape.cls, shape.style, at, shape.radius);
  }
  out << "  <g class=\"legend\" font-size=\"13\">\n";
  for (std::size_t i = 0; i < legend.size(); ++i) {
    double const y = top + (static_cast<double>(i) + 0.5) * rowHeight;
    auto const& row = legend[i];
    if (row.radius > 0.0)
      writeShape_(out, "key", row.style, {{legendX + 15, y}}, row.radius);
    else
      writeShape_(out, "key", row.style, {{legendX, y}, {legendX + 30, y}}, 0.0);
    out << "  <text x=\"" << svgNumber(legendX + 40) << "\" y=\"" << svgNumber(y + 4.5) << "\">"
        << row.label << "</text>\n";
  }
  out << "  </g>\n</svg>\n";
  out.close();
  return !out.fail();
}

// The curve sampled along a polyline, each segment's control polygon, and
// normals of a fixed drawn length at a few parameters.
void drawCurve(vela::math::InterpolatingSpline<Numeric, vela::math::Vector2_T> const& curve,
               std::string const& colour, double normalLength, std::vector<SvgShape>& shapes) {
  for (std::size_t i = 0; i < curve.numBezierCurves(); ++i)
    shapes.push_back({curve.bezierCurve(i).controlPoints(),
                      "stroke=\"" + colour + "\" stroke-width=\"0.7\" stroke-dasharray=\"4 3\"",
                      "control"});
  shapes.push_back({curve.polyline(400), "stroke=\"" + colour + "\" stroke-width=\"2\"", "curve"});
  // normal(t) is the derivative of the unit tangent: only its direction is drawn.
  for (int k = 0; k < 12; ++k) {
    double const t = (k + 0.5) / 12;
    Point2 const at = curve.point(t), n = curve.normal(t);
    shapes.push_back({{at, at + n * (normalLength / n.norm())},
                      "stroke=\"" + colour + "\" stroke-width=\"1.2\"",
                      "normal"});
  }
}

// The point of the closed spline nearest to the query point, in every path;
// checked against a dense sampling of the curve and the tangent there.
bool tourClosestPoint(Point2& nearest) {
  std::vector<double> const out =
      allPaths("tour_closest", {"qx", "qy"}, {kQuery[0], kQuery[1]}, {"T", "p.x", "p.y", "|q - p|"},
               [](auto mode, auto const& in) {
                 using Mode = decltype(mode);
                 vela::math::InterpolatingCubicSpline<Mode, vela::math::Vector2_T> const spline(
                     curvePoints(), true);
                 vela::math::Vector2_T<Mode> const q(in[0], in[1]);
                 vela::math::Vector2_T<Mode> p;
                 Scalar<Mode> const T = spline.closestPoint(q, p);
                 return std::vector<Scalar<Mode>>{T, p.x(), p.y(), (q - p).norm()};
               });
  if (out.empty()) return false;
  vela::math::InterpolatingCubicSpline<Numeric, vela::math::Vector2_T> const spline(curvePoints(),
                                                                                    true);
  Point2 const q(kQuery[0], kQuery[1]);
  nearest = Point2(out[1], out[2]);
  double sampled = HUGE_VAL;
  for (auto const& p : spline.polyline(20000)) sampled = std::min(sampled, (q - p).norm());
  Point2 const tangent = spline.tangent(out[0]);
  bool const nearestOfAll = out[3] <= sampled + 1e-12 && sampled - out[3] < 1e-5;
  bool const normal = std::fabs((q - nearest).dot(tangent)) <= 1e-12 * out[3] * tangent.norm();
  std::printf("  no point of 20000 along the curve is nearer: %s\n", yesNo(nearestOfAll));
  std::printf("  q - p is normal to the curve at p: %s\n", yesNo(normal));
  return nearestOfAll && normal;
}

bool drawCurves(fs::path const& path, Point2 const& nearest) {
  std::vector<Point2> const points = curvePoints();
  vela::math::InterpolatingCubicSpline<Numeric, vela::math::Vector2_T> const spline(points, true);
  vela::math::InterpolatingPchip<Numeric, vela::math::Vector2_T> const pchip(points, false);
  std::printf("  closed cubic spline: %zu segments; open PCHIP curve: %zu segments\n",
              spline.numBezierCurves(), pchip.numBezierCurves());

  std::string const blue = "#1f5fbf", orange = "#d9731a", red = "#c81e1e";
  std::vector<SvgShape> shapes;
  drawCurve(spline, blue, 0.4, shapes);
  drawCurve(pchip, orange, 0.4, shapes);
  for (auto const& p : points) shapes.push_back({{p}, "fill=\"black\"", "data", 4.0});
  Point2 const q(kQuery[0], kQuery[1]);
  shapes.push_back({{q, nearest},
                    "stroke=\"" + red + "\" stroke-width=\"1.5\" stroke-dasharray=\"5 3\"",
                    "closest-segment"});
  shapes.push_back({{q}, "fill=\"none\" stroke=\"" + red + "\" stroke-width=\"2\"", "query", 6.0});
  shapes.push_back({{nearest}, "fill=\"" + red + "\"", "closest", 4.5});
  std::vector<LegendRow> const legend = {
      {"stroke=\"" + blue + "\" stroke-width=\"2\"", "closed cubic spline"},
      {"stroke=\"" + orange + "\" stroke-width=\"2\"", "open PCHIP curve"},
      {"stroke=\"#555\" stroke-width=\"0.7\" stroke-dasharray=\"4 3\"",
       "control polygons of the segments"},
      {"stroke=\"#555\" stroke-width=\"1.2\"", "ticks: normal directions"},
      {"fill=\"black\"", "the seven data points", 4.0},
      {"fill=\"none\" stroke=\"" + red + "\" stroke-width=\"2\"", "query point q", 6.0},
      {"fill=\"" + red + "\"", "nearest point of the spline", 4.5},
      {"stroke=\"" + red + "\" stroke-width=\"1.5\" stroke-dasharray=\"5 3\"",
       "its distance to q"}};
  if (!writeSvg(path, "Two curves through seven points, and the spline's point nearest to q",
                shapes, legend)) {
    std::printf("  cannot write %s\n", path.c_str());
    return false;
  }
  std::printf("  wrote %s\n", fs::absolute(path).c_str());
  return true;
}

bool runTour(fs::path const& svgPath) {
  section("(a) Numeric: the step on plain doubles");
  std::printf("  theta = %g rad, omega = %g rad/s\n", kTheta, kOmega);
  std::vector<double> const numeric = rigidBodyStep<Numeric>(kTheta, kOmega);
  printOutputs(numeric);

  section("(b) Traced: the same code records a graph from the inputs theta and omega");
  TracedDouble const theta = TracedDouble::input("theta"), omega = TracedDouble::input("omega");
  std::vector<TracedDouble> const traced = rigidBodyStep<Traced>(theta, omega);
  std::printf("  %zu outputs; the half-angle sine reads %s\n", traced.size(),
              vela::math::stringify(vela::math::sin(theta * 0.5)).c_str());
  double folded = 0.0;
  bool const folds = vela::math::sin(TracedDouble(kTheta * 0.5)).getConstant(folded);
  std::printf("  with a constant angle it folds at once: %s\n", yesNo(folds));

  section("(c) The graph evaluated with the numbers of (a)");
  vela::math::BindingSet bindings;
  bindings.bind("theta", kTheta);
  bindings.bind("omega", kOmega);
  std::vector<double> evaluated;
  for (auto const& value : traced) evaluated.push_back(value.evaluate(bindings));
  printOutputs(evaluated);

  section("(d) The graph as C: generated, compiled, loaded, run");
  std::string const source =
      vela::math::generateCFunction(kFunctionName, {"theta", "omega"}, traced);
  printHead(source, 16);
  double const in[2] = {kTheta, kOmega};
  std::vector<double> generated(kOutputNames.size());
  if (!compileAndRun(kFunctionName, source, in, generated.data(), true)) return false;
  printOutputs(generated);

  section("Results side by side");
  printColumns(kOutputNames, {"Numeric", "evaluated", "generated C"},
               {&numeric, &evaluated, &generated});
  bool ok = folds && sameBits(numeric, evaluated) && sameBits(numeric, generated);
  std::printf("  all three agree bit for bit: %s\n", yesNo(ok));

  section("(e) Derivatives: the Jacobian of h and alpha with respect to theta, as a graph");
  ok = tourDerivatives(traced, theta) && ok;

  // From here on each computation is written once over the mode and run on
  // every path at once: Numeric, evaluated, tape, generated C.
  section("Mass: the body and a second one (mass m2) summed, turned by theta and lifted");
  ok = tourDistributions() && ok;

  section("Beam section: principal stiffnesses and mass densities of a steel angle (Ixy traced)");
  ok = tourBeam() && ok;

  section("Gauss quadrature: a 3 by 3 rule on the square (Numeric only)");
  ok = tourGauss() && ok;

  section("Augmented spatial inertia of the body with two flexible modes, times its velocity");
  ok = tourAugmented() && ok;

  section("Closest point: the point of the closed spline below nearest to q = (qx, qy)");
  Point2 nearest;
  ok = tourClosestPoint(nearest) && ok;

  section("Curves: a closed cubic spline and an open PCHIP curve through the same points");
  return drawCurves(svgPath, nearest) && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2) {
    std::printf("usage: tour [PICTURE.svg]\n");
    return 2;
  }
  try {
    if (runTour(argc == 2 ? argv[1] : "tour-curves.svg")) return 0;
    std::printf("\ntour: FAILED\n");
  } catch (std::exception const& e) {
    std::printf("\ntour: FAILED with exception: %s\n", e.what());
  }
  return 1;
}
