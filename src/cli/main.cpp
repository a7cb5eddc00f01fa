// modburn-cli: programs print-driver modules and font libraries from scripts.

#include "cli/app.h"

int main(int argc, char* argv[])
{
    return modburn::cli::Main(argc, argv);
}
