// Report templates (.docx, .dotx, .xlsx, .xltx) are user files: any bytes are read as both kinds
// of template and edited as a report would be, without a crash or a sanitizer report.
#include <cstdint>

#include "fuzz/office_template.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return office::FuzzOfficeTemplate(data, size);
}
