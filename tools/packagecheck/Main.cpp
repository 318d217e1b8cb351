#include <cstdio>

#include "PackageCheck.h"

int main(int argumentCount, char** arguments)
{
    return RunPackageCheck(argumentCount, arguments, stdout);
}
