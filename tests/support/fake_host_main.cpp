// The host as the tests run it: both backend names open the scripted fake.
#include "host/entry.h"
#include "support/fake_backend.h"

namespace {

constexpr lumora::host::BackendFactory kFakeBackends[] = {
    {"terminal", lumora::host::open_fake_backend},
    {"window", lumora::host::open_fake_backend},
};

}  // namespace

int main(int argc, char** argv) { return lumora::host::run_host(argc, argv, kFakeBackends); }
