#pragma once

// Everything the host framework offers to extensions and applications.
#include "quorvel/AudioBuffer.hpp"
#include "quorvel/AudioBus.hpp"
#include "quorvel/AudioBusFormat.hpp"
#include "quorvel/AudioNode.hpp"
#include "quorvel/Extension.hpp"
#include "quorvel/ExtensionManager.hpp"
#include "quorvel/Node.hpp"
#include "quorvel/NodeFactory.hpp"
#include "quorvel/NodeTypeInfo.hpp"
#include "quorvel/QVAny.hpp"
#include "quorvel/QVAnyMap.hpp"
#include "quorvel/QuorvelObject.hpp"
#include "quorvel/Result.hpp"
#include "quorvel/SchemaVocabulary.hpp"
#include "quorvel/SingleBusAudioProcessorNode.hpp"
