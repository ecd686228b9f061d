// Moves a whole test program into an isolated network (isolated_network.h)
// before its first test, while no thread runs yet. Registered once, at
// namespace scope:
//   const IsolatedNetworkEnvironment* const kNetwork = IsolatedNetworkEnvironment::Register();
#pragma once

#include <gtest/gtest.h>

#include "isolated_network.h"

class IsolatedNetworkEnvironment : public testing::Environment {
  public:
    static const IsolatedNetworkEnvironment* Register() {
        auto* environment = new IsolatedNetworkEnvironment;
        testing::AddGlobalTestEnvironment(environment);  // which owns it
        return environment;
    }

    void SetUp() override { isolated_ = EnterIsolatedNetwork(); }
    // From the first test on: whether the move worked.
    bool isolated() const { return isolated_; }

  private:
    bool isolated_ = false;
};
