// Holds a file open for writing, as a program still writing a video would,
// until its standard input closes: prints "held" once the file is open.
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    std::FILE *file = std::fopen(argv[1], "r+b");
    if (!file)
        return 1;
    std::puts("held");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    std::fclose(file);
    return 0;
}
