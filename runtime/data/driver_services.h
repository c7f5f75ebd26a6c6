// SPDX-License-Identifier: GPL-3.0-or-later
// Runtime-internal access to the driver services: the trace switch and the operation-argument
// plumbing of the file exports.
#pragma once

#include <string>

namespace tarvex {

// Sets the trace file (a program name or a Linux path); empty switches tracing off. Without a
// call, the file named by $TARVEX_TRACE when the first line is traced.
void SetTraceFile(const std::string& name);
// Forgets which files have had their declaration traced.
void ResetTraceDeclarations();
// Marks the start of an operation on the calling thread (the state check calls it), so a trace
// line can say how long the operation took.
void MarkOperationStart();

} // namespace tarvex
