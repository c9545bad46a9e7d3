// The least a C++ command-line tool costs to start and end here: the C++
// library loaded, one string made and printed.  Figure 11b sets kv618's
// one-shot command against it.
#include <cstdio>
#include <string>

int main(int, char** argv) {
    const std::string name(argv[0]);
    std::puts(name.substr(name.rfind('/') + 1).c_str());
    return 0;
}
