/* A small PE image for the Authenticode hash tests: built by the mingw
   cross compilers as a 32-bit program and a 64-bit DLL. */
static const char message[] = "MERVO package check sample image";

__declspec(dllexport) int MervoSample(int value)
{
    return value + (int)sizeof message;
}

int main(void)
{
    return MervoSample(0) == 0;
}
