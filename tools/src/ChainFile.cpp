#include "ChainFile.hpp"
