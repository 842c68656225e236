#pragma once

// The oscillators' phase recurrence, angles and scaling, several steps at a
// time on the best instruction set the CPU has (vector/Phase.cpp), with the
// bits of the step-by-step arithmetic in OscillatorStep.hpp.
namespace quorvel::audio::kernels {

// phases[i] = the phase in cycles after i steps of `increment` cycles from
// `phase`, each step one float add and, at 1 or above, one subtraction of 1;
// returns the phase after `count` steps. Unchecked: for a phase and an
// increment bounded as LFO::Chunk::staysBounded requires.
float phaseSteps(float increment, float phase, float* phases, unsigned int count) noexcept;

// phaseSteps with each phase turned to its angle in radians at once:
// angles[i] = float(shift + double(phase i) x 2 pi), as detail::angleOf.
float phaseAngles(float increment, float phase, double shift, float* angles,
                  unsigned int count) noexcept;

// True when phaseAngles runs on vector lanes under the current instruction
// set; false on the portable ones, where the serial loops are quicker.
bool phaseRunsOnLanes() noexcept;

// values[i] = values[i] x amplitude + offset, a float multiply then a float
// add, in place.
void scaleAndOffset(float* values, unsigned int count, float amplitude, float offset) noexcept;

}  // namespace quorvel::audio::kernels
