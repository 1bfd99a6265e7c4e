// What the fuzz targets share: a check that stops the run on a violated
// property, and a fresh simulated machine for every input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "core/launcher_state.h"
#include "platform/fake/fake_platform.h"
#include "splash/frm_splash.h"

// A property that must hold for every input; libFuzzer keeps the input that breaks it.
#define FUZZ_CHECK(condition)                                                                 \
  do {                                                                                        \
    if (!(condition)) {                                                                       \
      std::fprintf(stderr, "%s:%d: property violated: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                           \
    }                                                                                         \
  } while (false)

namespace launcher::fuzz {

// A new machine with the launcher's state and splash as at process start.
class FreshMachine {
 public:
  FreshMachine() : fake_(std::make_unique<FakePlatform>()) {
    ResetState();
    ResetSplash();
    InstallPlatform(fake_.get());
  }
  ~FreshMachine() {
    ResetSplash();
    InstallPlatform(nullptr);
  }
  FreshMachine(const FreshMachine&) = delete;
  FreshMachine& operator=(const FreshMachine&) = delete;

  FakePlatform& fake() { return *fake_; }

 private:
  std::unique_ptr<FakePlatform> fake_;
};

}  // namespace launcher::fuzz
