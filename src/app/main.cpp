#include <cstdio>

int main()
{
    std::puts("Tessaro: the window is not built yet.");
    return 0;
}
