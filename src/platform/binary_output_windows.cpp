// Linked into the Windows programs themselves (not through the platform
// library, whose unreferenced objects the linker would drop): it puts the
// standard output and error streams in binary mode before main runs. The
// C runtime's text mode would turn the newline of the host's one line on
// standard error into CR LF, and a controller reads that line byte for byte.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace {

struct BinaryStandardOutput {
  BinaryStandardOutput() {
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
  }
};

const BinaryStandardOutput binary_standard_output;

}  // namespace
