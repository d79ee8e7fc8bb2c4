#pragma once

#include "framework/app.h"

namespace drovan {

class ExtractorApp : public framework::App {
  public:
    void InitInstance() override;
};

}  // namespace drovan
