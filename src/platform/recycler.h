#pragma once
// The recycle-bin seam: moves a file where the user can restore it from, without
// a question or a progress display.

#include <string>

namespace parevo {

struct RecycleResult {
    bool ok = false;
    std::string reason;  // why it failed, for the user
};

class Recycler {
  public:
    virtual ~Recycler() = default;
    virtual RecycleResult MoveToTrash(const std::string& path) = 0;
};

}  // namespace parevo
