// The host as the tests run it: both backend names open the scripted fake.
#include "host/entry.h"
#include "support/fake_backend.h"

int main(int argc, char** argv) {
  lumora::host::BackendOpeners openers;
  openers.terminal = lumora::host::open_fake_backend;
  openers.window = lumora::host::open_fake_backend;
  return lumora::host::run_host(argc, argv, openers);
}
