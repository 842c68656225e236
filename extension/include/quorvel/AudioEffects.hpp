#pragma once

// Everything an application needs to use the effects library: the host
// types, node-type descriptors and their vocabulary, the DSP primitives, the
// extension with its factory and load entry points, and the effect nodes.
#include "quorvel/QuorvelSDK.hpp"
#include "quorvel/audio/CircularBuffer.hpp"
#include "quorvel/audio/LFO.hpp"
#include "quorvel/audioeffects/AudioEffectsExtension.hpp"
#include "quorvel/audioeffects/AudioEffectsNodeFactory.hpp"
#include "quorvel/audioeffects/QVAudioEffectsExtension.hpp"
#include "quorvel/audioeffects/ChorusNode.hpp"
#include "quorvel/audioeffects/DelayNode.hpp"
#include "quorvel/audioeffects/FlangerNode.hpp"
#include "quorvel/audioeffects/PingPongDelayNode.hpp"
#include "quorvel/audioeffects/VibratoNode.hpp"
