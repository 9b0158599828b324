// Placeholder bootloader until the AVR109 side lands.
#include "sim.h"
int boot_start(const std::string &, std::string *) { return 0; }
void boot_stop() {}
void boot_write_flash() {}
