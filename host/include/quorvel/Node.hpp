#pragma once

#include <string>

#include "quorvel/QuorvelObject.hpp"
#include "quorvel/Result.hpp"
#include "quorvel/SDKExport.hpp"

namespace quorvel {

// A node of the host's processing graph.
class QUORVEL_SDK_API Node : public QuorvelObject {
 public:
  // A node whose object name is `objectName`.
  explicit Node(const std::string& objectName);
  ~Node() override;

  // The name shown for the node; this base returns the object name.
  virtual std::string getDisplayName() const;
  // Called when the graph holding the node starts; this base does nothing.
  virtual Result<void> onGraphStart();
  // Called when the graph holding the node stops; this base does nothing.
  virtual Result<void> onGraphStop();
};

}  // namespace quorvel
