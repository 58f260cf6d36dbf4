#include "player/output/wave_output.h"

OutputDevice outputDevice{};
