// zeld12: links relocatable objects for HC12, S12 and S12X devices.
// main only hands over to the driver and returns its status (-1 reaches
// the shell as 255).
#include <cstdio>

#include "driver.h"

int main(int argc, char** argv) { return zeld::link_main(argc, argv, stdout, stderr); }
