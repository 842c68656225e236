#pragma once

// Everything an application needs to use the effects library: the DSP core
// (delay lines, oscillators, the five effect processors), the host types with
// node-type descriptors and their vocabulary, the effect nodes, and the
// extension with its factory and load entry points.
#include "quorvel/QuorvelSDK.hpp"
#include "quorvel/audio/Chorus.hpp"
#include "quorvel/audio/CircularBuffer.hpp"
#include "quorvel/audio/Delay.hpp"
#include "quorvel/audio/Flanger.hpp"
#include "quorvel/audio/LFO.hpp"
#include "quorvel/audio/PingPongDelay.hpp"
#include "quorvel/audio/Vibrato.hpp"
#include "quorvel/audioeffects/AudioEffectsExtension.hpp"
#include "quorvel/audioeffects/AudioEffectsNodeFactory.hpp"
#include "quorvel/audioeffects/QVAudioEffectsExtension.hpp"
#include "quorvel/nodes/ChorusNode.hpp"
#include "quorvel/nodes/DelayNode.hpp"
#include "quorvel/nodes/EffectControls.hpp"
#include "quorvel/nodes/FlangerNode.hpp"
#include "quorvel/nodes/PingPongDelayNode.hpp"
#include "quorvel/nodes/VibratoNode.hpp"
