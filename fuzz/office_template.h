#pragma once
// Entry point for fuzzing the template readers: the bytes are read as a Word template and as an
// Excel template, and a report-like edit is made on whatever loads, without writing a file.
#include <cstddef>
#include <cstdint>

namespace office {

// Always returns 0 (the libFuzzer convention); a crash, hang or sanitizer report is the finding.
int FuzzOfficeTemplate(const std::uint8_t* data, std::size_t size);

}  // namespace office
