// A body's spatial inertia augmented by one flexible mode, times a velocity
// whose modal rate is traced: the momentum, evaluated and computed at once.
#include <cstdio>
#include <vela/math.hpp>

namespace vm = vela::math;

template <class Mode>
vm::AugmentedSpatialVector<Mode> momentum(vm::Scalar<Mode> const& modalRate) {
  using Matrix = vm::Matrix3x3_T<Mode>;
  using Vector = vm::Vector3_T<Mode>;
  // Inertia about the center (diagonal, off-diagonal terms), no coupling
  // block, mass 2 kg on the linear block.
  vm::SymmetricSpatialMatrix_T<Mode> rigid(Matrix(Vector(0.1, 0.2, 0.3), Vector(0.0, 0.0, 0.0)),
                                           Matrix(), Matrix::identity() * 2.0);
  // The mode's modal mass (1 by 1) and its coupling with the six rigid
  // coordinates (angular first).
  vm::SymmetricAugmentedSpatialMatrix<Mode> inertia(
      rigid, std::vector<vm::Scalar<Mode>>{0.5},
      std::vector<vm::Scalar<Mode>>{0.0, 0.0, 0.1, 0.3, 0.0, 0.0});
  vm::SpatialVector_T<Mode> twist(Vector(0.0, 0.0, 1.0), Vector(0.3, 0.0, 0.0));
  return inertia *
         vm::AugmentedSpatialVector<Mode>(twist, std::vector<vm::Scalar<Mode>>{modalRate});
}

int main() {
  vm::AugmentedSpatialVector<vm::Numeric> const now = momentum<vm::Numeric>(0.4);
  vm::AugmentedSpatialVector<vm::Traced> const traced =
      momentum<vm::Traced>(vm::TracedDouble::input("qdot"));
  vm::BindingSet bindings;
  bindings.bind("qdot", 0.4);
  vm::AugmentedSpatialVector<vm::Numeric> const later(traced, bindings);
  std::printf("%s\n", now.stringify().c_str());
  // Linear momentum x: 2 kg * 0.3 m/s + 0.3 (coupling) * 0.4.
  bool const agree = now.spatial().values()[3] == later.spatial().values()[3] &&
                     now.augmented()[0] == later.augmented()[0];
  return agree && now.spatial().values()[3] == 2.0 * 0.3 + 0.3 * 0.4 ? 0 : 1;
}
