#include "harness.h"
int main(int argc, char** argv)
{
    InitHarness(argc, argv);
    LoadLibraryUnderTest();
    return FinishTests("interface");
}
