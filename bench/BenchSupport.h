#pragma once
// What every benchmark prints besides its figures: the machine it ran on. And the order
// statistics the figures are made of.

#include <string>
#include <vector>

namespace quenvar::bench {

// "CPU model, N cores, kernel release", from /proc/cpuinfo and uname.
std::string machineDescription();
// Prints the benchmark's title and the machine on two lines.
void printHeader(const char* title);

// The value below which `fraction` (0..1) of the samples lie (nearest rank); 0 for no samples.
double percentile(std::vector<double> samples, double fraction);

}  // namespace quenvar::bench
