#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// The mode tags Numeric and Traced.

/// The computation-trace library: traced scalars and the graph nodes they
/// read, evaluation against bound inputs, derivatives and generation of C.
namespace kelm_math::comp_trace {

/// Mode tag: values are double, int and bool and operations compute at once.
struct Numeric {};

/// Mode tag: values are TracedValue<double|int|bool> and operations record a graph.
struct Traced {};

}  // namespace kelm_math::comp_trace

#pragma GCC visibility pop
