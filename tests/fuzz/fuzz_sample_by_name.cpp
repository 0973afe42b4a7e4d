#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "movimo/catalogue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  const std::int32_t pip = data.ConsumeIntegral<std::int32_t>();
  const std::string name = data.ConsumeRemainingBytesAsString();
  try {
    (void)movimo::sample(name, pip);
  } catch (const std::invalid_argument& error) {
    // what() is a C string: a name holding a NUL byte reads back up to it.
    const std::string expected = "Unknown movimo: " + name;
    if (std::string_view(error.what()) != std::string_view(expected.c_str())) std::abort();
  }
  return 0;
}
