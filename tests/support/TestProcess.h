#pragma once

#include <cstdio>
#include <memory>
#include <string>

// Whether this build runs under AddressSanitizer, which reserves more
// address space than any low limit leaves: tests that set such a limit
// skip themselves there.
#if defined(__SANITIZE_ADDRESS__)
#define SORVANTA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SORVANTA_ASAN 1
#endif
#endif

namespace sorvanta::testing {

#ifdef SORVANTA_ASAN
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// What a shell command writes to standard output; empty when it cannot run.
inline std::string Shell(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return out;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe.get())) out.append(buffer, n);
  return out;
}

}  // namespace sorvanta::testing
