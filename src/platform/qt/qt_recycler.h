#pragma once
// The recycle bin of the desktop, through QtCore.

#include "platform/recycler.h"

namespace parevo {

class QtRecycler final : public Recycler {
  public:
    RecycleResult MoveToTrash(const std::string& path) override;
};

}  // namespace parevo
