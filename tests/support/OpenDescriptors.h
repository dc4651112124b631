#pragma once
// Whether a component of this process holds a device open, seen from the process's own table of
// descriptors.

#include <QString>

namespace quenvar::testing {

// How many descriptors of this process refer to `device` (links followed).
int openDescriptorsOf(const QString& device);

}  // namespace quenvar::testing
