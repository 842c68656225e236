#pragma once

// Audio files in and out, for the commands: the output's container and
// encoding, reading any file libsndfile knows, and writing through a temporary
// file that a failure or an interrupt never leaves behind.
#include "AtomicOutput.hpp"
#include "AudioFileReader.hpp"
#include "AudioFileWriter.hpp"
#include "AudioFormats.hpp"
#include "Dither.hpp"
#include "Interrupts.hpp"
