// kv618: the module from the command line (see `kv618 --help` and the man
// page packaging/man/kv618.1).
#include "Tool.h"

int main(int argc, char** argv) { return cli::Run(argc, argv); }
