// Stands for a module that anyone may leave in a current directory: loading it leaves a file
// named "ran" there.
#include <cstdio>

__attribute__((constructor)) static void Ran() {
    if (std::FILE* file = std::fopen("ran", "w"))
        std::fclose(file);
}
